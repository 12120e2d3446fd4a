#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <exception>
#include <optional>

class QProcess;
class QWindow;

// The failure of a web sign-in window; closing the window is the one case.
class WebAuthenticationError : public std::exception {
public:
    enum Kind { Cancelled };

    static WebAuthenticationError cancelled() { return WebAuthenticationError(Cancelled); }

    [[nodiscard]] Kind kind() const { return m_kind; }
    [[nodiscard]] QString description() const;
    const char* what() const noexcept override { return m_what.constData(); }

private:
    explicit WebAuthenticationError(Kind kind);

    Kind m_kind;
    QByteArray m_what;
};

// One sign-in in a browser window of its own program, echoquill-signin, so
// that only that program loads the browser engine. The program keeps the
// sign-in to the service's page (the origin of `url`) and Google's, and
// answers on a pipe with the first callback address the service's page
// navigates to; pages elsewhere are opened here, in the user's browser.
// Closing its window is a cancel; a program that cannot start, crashes or
// answers nonsense ends the session with neither a callback nor an error.
// finished() is emitted exactly once, after which at most one of
// callbackUrl() and error() is set.
class WebAuthenticationSession : public QObject {
    Q_OBJECT
public:
    WebAuthenticationSession(QUrl url, QByteArray callbackScheme, QObject* parent = nullptr);
    ~WebAuthenticationSession() override;

    // Starts the program, its window placed over `anchor` when there is one; never waits for it.
    void start(QWindow* anchor);

    [[nodiscard]] bool isFinished() const { return m_finished; }
    [[nodiscard]] std::optional<QUrl> callbackUrl() const { return m_callbackUrl; }
    [[nodiscard]] std::optional<WebAuthenticationError> error() const { return m_error; }

signals:
    void finished();

private:
    void readAnswers();
    void programEnded();
    void fail(const QString& why);
    void finish(std::optional<QUrl> callbackUrl, std::optional<WebAuthenticationError> error);

    QUrl m_url;
    QByteArray m_scheme;
    QProcess* m_process = nullptr;
    bool m_finished = false;
    std::optional<QUrl> m_callbackUrl;
    std::optional<WebAuthenticationError> m_error;
};
