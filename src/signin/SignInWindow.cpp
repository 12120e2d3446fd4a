#include "SignInWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>
#include <QWindow>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// "scheme://host:port" with the scheme's default port written out, so that
// an address and an initiator compare whether or not they name the port.
QString originOf(const QUrl& url)
{
    const int defaultPort = url.scheme() == "https"_L1 ? 443 : url.scheme() == "http"_L1 ? 80 : -1;
    return u"%1://%2:%3"_s.arg(url.scheme(), url.host().toLower()).arg(url.port(defaultPort));
}

// Google's own sign-in pages, which the service's page sends the window through.
const QStringList googleSignInOrigins { u"https://accounts.google.com:443"_s, u"https://accounts.youtube.com:443"_s };

void ignoreCallback(const char* why)
{
    std::printf("log [AuthService] Ignored a callback request: %s\n", why);
    std::fflush(stdout);
}

}

// Main-frame navigations pass here: a 302 to the callback scheme, links and
// forms, and every page the window would go to.
class SignInWindow::CallbackPage : public QWebEnginePage {
public:
    CallbackPage(QWebEngineProfile* profile, SignInWindow* window, QObject* parent)
        : QWebEnginePage(profile, parent)
        , m_window(window)
        , m_loading(window->m_url)
    {
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        if (m_window->isCallback(url)) {
            if (!isMainFrame) {
                ignoreCallback("not the window's own page");
                return false;
            }
            // A 302 comes from the address being loaded. Any other navigation may have been asked for by
            // a frame of another origin inside the page shown, so it goes on to the scheme handler, which
            // is told the origin that started it.
            if (type != NavigationTypeRedirect)
                return true;
            if (m_window->isFromService(m_loading))
                m_window->finish("callback", url);
            else
                ignoreCallback("not started by the service's page");
            return false;
        }
        if (isMainFrame) {
            if (!staysInWindow(url, m_window->m_url)) {
                if (url.scheme() == "https"_L1 || url.scheme() == "http"_L1)
                    m_window->openInBrowser(url);
                return false;
            }
            m_loading = url;
        }
        return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
    }

    // Scripts open no windows: a new one would be a main frame that a frame of any origin could steer.
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }

private:
    SignInWindow* m_window;
    QUrl m_loading;
};

// Sees every request of the window before it leaves: callback addresses
// requested by a frame, an image or a script are refused here.
class SignInWindow::CallbackGuard : public QWebEngineUrlRequestInterceptor {
public:
    CallbackGuard(SignInWindow* window, QObject* parent)
        : QWebEngineUrlRequestInterceptor(parent)
        , m_window(window)
    {
    }

    void interceptRequest(QWebEngineUrlRequestInfo& info) override
    {
        if (!m_window->isCallback(info.requestUrl()))
            return;
        if (info.resourceType() != QWebEngineUrlRequestInfo::ResourceTypeMainFrame) {
            ignoreCallback("not the window's own page");
            info.block(true);
        }
    }

private:
    SignInWindow* m_window;
};

// Script navigations to the callback scheme skip acceptNavigationRequest and
// are dropped unless a handler for the scheme exists: they arrive here, past
// the guard, with the origin of the page that started them.
class SignInWindow::CallbackSchemeHandler : public QWebEngineUrlSchemeHandler {
public:
    CallbackSchemeHandler(SignInWindow* window, QObject* parent)
        : QWebEngineUrlSchemeHandler(parent)
        , m_window(window)
    {
    }

    void requestStarted(QWebEngineUrlRequestJob* job) override
    {
        const QUrl url = job->requestUrl();
        const QUrl initiator = job->initiator();
        job->fail(QWebEngineUrlRequestJob::RequestAborted);
        if (m_window->isFromService(initiator))
            m_window->finish("callback", url);
        else
            ignoreCallback("not started by the service's page");
    }

private:
    SignInWindow* m_window;
};

SignInWindow::SignInWindow(QUrl url, QByteArray callbackScheme, QObject* parent)
    : QObject(parent)
    , m_url(std::move(url))
    , m_scheme(std::move(callbackScheme))
{
}

SignInWindow::~SignInWindow()
{
    // The page (owned by the view) must go before its profile.
    delete m_view;
}

void SignInWindow::registerCallbackScheme(const QByteArray& scheme)
{
    QWebEngineUrlScheme s(scheme);
    s.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    s.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::LocalAccessAllowed);
    QWebEngineUrlScheme::registerScheme(s);
}

void SignInWindow::start(quintptr anchor, QPoint centre)
{
    // A profile without a storage name is off the record.
    m_profile = new QWebEngineProfile(this);
    m_profile->installUrlSchemeHandler(m_scheme, new CallbackSchemeHandler(this, m_profile));
    m_profile->setUrlRequestInterceptor(new CallbackGuard(this, m_profile));

    m_view = new QWebEngineView();
    m_view->setPage(new CallbackPage(m_profile, this, m_view));
    m_view->setWindowTitle(QStringLiteral("Sign in with Google"));
    m_view->resize(520, 720);
    m_view->installEventFilter(this);
    // The user's clicks and key presses reach the page's own widgets inside the view.
    qApp->installEventFilter(this);
    m_view->load(m_url);
    // After the page's surface is set up, which makes the window anew.
    if (anchor) {
        // The window system keeps only a dialog over the window it belongs to.
        m_view->setWindowFlag(Qt::Dialog);
        m_view->winId();
        m_view->windowHandle()->setTransientParent(QWindow::fromWinId(anchor));
        m_view->move(centre - m_view->rect().center());
    }
    m_view->show();
    m_view->raise();
    m_view->activateWindow();
}

bool SignInWindow::isCallback(const QUrl& url) const
{
    return url.scheme().toUtf8() == m_scheme;
}

bool SignInWindow::isFromService(const QUrl& initiator) const
{
    return initiator.isValid() && originOf(initiator) == originOf(m_url);
}

bool SignInWindow::staysInWindow(const QUrl& url, const QUrl& serviceUrl)
{
    const QString origin = originOf(url);
    return origin == originOf(serviceUrl) || googleSignInOrigins.contains(origin);
}

bool SignInWindow::eventFilter(QObject* watched, QEvent* event)
{
    // Every object's events pass here, also those of widgets being destroyed: the type is looked at first.
    const QEvent::Type type = event->type();
    if (type == QEvent::Close && watched == m_view && !m_finished)
        finish("cancel");
    // A click or a key press of the user's own (from the window system) allows one more page for the browser.
    if ((type == QEvent::MouseButtonPress || type == QEvent::KeyPress || type == QEvent::TouchBegin)
        && event->spontaneous())
        m_mayOpen = true;
    return QObject::eventFilter(watched, event);
}

void SignInWindow::openInBrowser(const QUrl& url)
{
    if (!m_mayOpen) {
        std::printf("log [AuthService] Ignored a page for the browser: no click or key press since the last one\n");
        std::fflush(stdout);
        return;
    }
    m_mayOpen = false;
    answer("open", url.toString(QUrl::FullyEncoded));
}

void SignInWindow::answer(const char* kind, const QString& value)
{
    const QByteArray line = value.isEmpty() ? QByteArray(kind) : QByteArray(kind) + ' ' + value.toUtf8();
    std::printf("%s\n", line.constData());
    std::fflush(stdout);
}

void SignInWindow::finish(const char* kind, const QUrl& callbackUrl)
{
    if (m_finished)
        return;
    m_finished = true;
    answer(kind, callbackUrl.toString(QUrl::FullyEncoded));
    if (m_view) {
        m_view->removeEventFilter(this);
        m_view->hide();
        // Not deleted here: we may be inside one of the page's own callbacks.
        m_view->page()->triggerAction(QWebEnginePage::Stop);
    }
    emit finished();
}
