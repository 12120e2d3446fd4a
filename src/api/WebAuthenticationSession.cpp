#include "WebAuthenticationSession.h"

#include <QCloseEvent>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>
#include <QWindow>

WebAuthenticationError::WebAuthenticationError(Kind kind)
    : m_kind(kind)
    , m_what(description().toUtf8())
{
}

QString WebAuthenticationError::description() const
{
    return QStringLiteral("The sign-in window was closed.");
}

// A 302 to the callback scheme arrives here; the page never leaves for it.
class WebAuthenticationSession::CallbackPage : public QWebEnginePage {
public:
    CallbackPage(QWebEngineProfile *profile, WebAuthenticationSession *session, QObject *parent)
        : QWebEnginePage(profile, parent)
        , m_session(session)
    {
    }

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override
    {
        if (url.scheme().toUtf8() == m_session->m_scheme) {
            m_session->finish(url, std::nullopt);
            return false;
        }
        return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
    }

    // A page that opens a new window keeps the whole sign-in in this one.
    QWebEnginePage *createWindow(WebWindowType) override { return this; }

private:
    WebAuthenticationSession *m_session;
};

// Script navigations to the callback scheme skip acceptNavigationRequest and
// are dropped unless a handler for the scheme exists: they arrive here.
class WebAuthenticationSession::CallbackSchemeHandler : public QWebEngineUrlSchemeHandler {
public:
    CallbackSchemeHandler(WebAuthenticationSession *session, QObject *parent)
        : QWebEngineUrlSchemeHandler(parent)
        , m_session(session)
    {
    }

    void requestStarted(QWebEngineUrlRequestJob *job) override
    {
        const QUrl url = job->requestUrl();
        job->fail(QWebEngineUrlRequestJob::RequestAborted);
        m_session->finish(url, std::nullopt);
    }

private:
    WebAuthenticationSession *m_session;
};

WebAuthenticationSession::WebAuthenticationSession(QUrl url, QByteArray callbackScheme, QObject *parent)
    : QObject(parent)
    , m_url(std::move(url))
    , m_scheme(std::move(callbackScheme))
{
}

WebAuthenticationSession::~WebAuthenticationSession()
{
    // The page (owned by the view) must go before its profile.
    delete m_view;
}

void WebAuthenticationSession::registerCallbackScheme(const QByteArray &scheme)
{
    QWebEngineUrlScheme s(scheme);
    s.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    s.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::LocalAccessAllowed);
    QWebEngineUrlScheme::registerScheme(s);
}

void WebAuthenticationSession::start(QWindow *anchor)
{
    // A profile without a storage name is off the record.
    m_profile = new QWebEngineProfile(this);
    m_profile->installUrlSchemeHandler(m_scheme, new CallbackSchemeHandler(this, m_profile));

    m_view = new QWebEngineView();
    m_view->setPage(new CallbackPage(m_profile, this, m_view));
    m_view->setWindowTitle(QStringLiteral("Sign in with Google"));
    m_view->resize(520, 720);
    m_view->installEventFilter(this);
    if (anchor) {
        m_view->winId();
        m_view->windowHandle()->setTransientParent(anchor);
        m_view->move(anchor->geometry().center() - m_view->rect().center());
    }
    m_view->load(m_url);
    m_view->show();
    m_view->raise();
    m_view->activateWindow();
}

bool WebAuthenticationSession::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view && event->type() == QEvent::Close && !m_finished)
        finish(std::nullopt, WebAuthenticationError::cancelled());
    return QObject::eventFilter(watched, event);
}

void WebAuthenticationSession::finish(std::optional<QUrl> callbackUrl, std::optional<WebAuthenticationError> error)
{
    if (m_finished)
        return;
    m_finished = true;
    m_callbackUrl = std::move(callbackUrl);
    m_error = std::move(error);
    closeWindow();
    emit finished();
}

void WebAuthenticationSession::closeWindow()
{
    if (!m_view)
        return;
    m_view->removeEventFilter(this);
    m_view->hide();
    // Not deleted here: we may be inside one of the page's own callbacks.
    m_view->page()->triggerAction(QWebEnginePage::Stop);
}
