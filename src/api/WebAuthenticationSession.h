#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <exception>
#include <optional>

class QWebEngineProfile;
class QWebEngineView;
class QWindow;

// The failure of a web sign-in window; closing the window is the one case.
class WebAuthenticationError : public std::exception {
public:
    enum Kind { Cancelled };

    static WebAuthenticationError cancelled() { return WebAuthenticationError(Cancelled); }

    [[nodiscard]] Kind kind() const { return m_kind; }
    [[nodiscard]] QString description() const;
    const char *what() const noexcept override { return m_what.constData(); }

private:
    explicit WebAuthenticationError(Kind kind);

    Kind m_kind;
    QByteArray m_what;
};

// One browser window for one sign-in. Its off-the-record profile shares no
// cookies or storage with anything else. The first main-frame navigation to
// an address of the callback scheme that the service's own page (the origin
// of `url`) starts ends the session and closes the window; callback requests
// of frames, images or scripts are refused and change nothing. Pages away
// from the service and Google's sign-in open in the user's browser instead.
// finished() is emitted exactly once, after which either callbackUrl() or
// error() is set.
class WebAuthenticationSession : public QObject {
    Q_OBJECT
public:
    WebAuthenticationSession(QUrl url, QByteArray callbackScheme, QObject *parent = nullptr);
    ~WebAuthenticationSession() override;

    // The browser engine accepts a scheme only before the application object exists.
    static void registerCallbackScheme(const QByteArray &scheme);

    // Opens the window, placed over `anchor` when there is one.
    void start(QWindow *anchor);

    [[nodiscard]] bool isFinished() const { return m_finished; }
    [[nodiscard]] std::optional<QUrl> callbackUrl() const { return m_callbackUrl; }
    [[nodiscard]] std::optional<WebAuthenticationError> error() const { return m_error; }

signals:
    void finished();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    class CallbackPage;
    class CallbackSchemeHandler;
    class CallbackGuard;

    [[nodiscard]] bool isCallback(const QUrl &url) const;
    [[nodiscard]] bool isFromService(const QUrl &initiator) const;
    [[nodiscard]] static bool staysInWindow(const QUrl &url, const QUrl &serviceUrl);

    void finish(std::optional<QUrl> callbackUrl, std::optional<WebAuthenticationError> error);
    void closeWindow();

    QUrl m_url;
    QByteArray m_scheme;
    QWebEngineProfile *m_profile = nullptr;
    QPointer<QWebEngineView> m_view;
    bool m_finished = false;
    std::optional<QUrl> m_callbackUrl;
    std::optional<WebAuthenticationError> m_error;
};
