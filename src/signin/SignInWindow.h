#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QUrl>

class QWebEngineProfile;
class QWebEngineView;

// One browser window for one sign-in, answering on standard output, one line
// each: "callback <address>", "open <address>" (a page for the user's browser),
// "log <text>" and "cancel" (the window was closed). Its off-the-record profile
// shares no cookies or storage with anything else. The first main-frame
// navigation to an address of the callback scheme that the service's own page
// (the origin of `url`) starts is the answer; callback requests of frames
// (also of a frame steering the whole window), images or scripts are refused
// and change nothing. Scripts open no windows. Pages away from the service and
// Google's sign-in go to the user's browser instead: the first one, then one
// for each click or key press of the user, so a page cannot flood the browser.
// finished() is emitted once, after the answer is written.
class SignInWindow : public QObject {
    Q_OBJECT
public:
    SignInWindow(QUrl url, QByteArray callbackScheme, QObject* parent = nullptr);
    ~SignInWindow() override;

    // The browser engine accepts a scheme only before the application object exists.
    static void registerCallbackScheme(const QByteArray& scheme);

    // Opens the window over the client's window `anchor` (an X11 id, 0 for none), centred on `centre`.
    void start(quintptr anchor, QPoint centre);

signals:
    void finished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class CallbackPage;
    class CallbackSchemeHandler;
    class CallbackGuard;

    [[nodiscard]] bool isCallback(const QUrl& url) const;
    [[nodiscard]] bool isFromService(const QUrl& initiator) const;
    [[nodiscard]] static bool staysInWindow(const QUrl& url, const QUrl& serviceUrl);
    static void answer(const char* kind, const QString& value = {});

    void finish(const char* kind, const QUrl& callbackUrl = {});
    void openInBrowser(const QUrl& url);

    QUrl m_url;
    QByteArray m_scheme;
    QWebEngineProfile* m_profile = nullptr;
    QPointer<QWebEngineView> m_view;
    bool m_finished = false;
    // The user asked for the sign-in, which allows the first page for the browser.
    bool m_mayOpen = true;
};
