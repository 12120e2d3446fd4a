#include "WebAuthenticationSession.h"

#include "Log.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QWindow>

using namespace Qt::StringLiterals;

WebAuthenticationError::WebAuthenticationError(Kind kind)
    : m_kind(kind)
    , m_what(description().toUtf8())
{
}

QString WebAuthenticationError::description() const
{
    return QStringLiteral("The sign-in window was closed.");
}

WebAuthenticationSession::WebAuthenticationSession(QUrl url, QByteArray callbackScheme, QObject* parent)
    : QObject(parent)
    , m_url(std::move(url))
    , m_scheme(std::move(callbackScheme))
{
}

WebAuthenticationSession::~WebAuthenticationSession()
{
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return;
    // Never waited for: an answered program is closing by itself, an unanswered one is asked to.
    m_process->disconnect(this);
    m_process->setParent(nullptr);
    connect(m_process, &QProcess::finished, m_process, &QObject::deleteLater);
    if (!m_finished)
        m_process->terminate();
}

void WebAuthenticationSession::start(QWindow* anchor)
{
    // Installed next to the client; a build or a test finds it on the PATH.
    const QString name = u"echoquill-signin"_s;
    QString program = QStandardPaths::findExecutable(name, { QCoreApplication::applicationDirPath() });
    if (program.isEmpty())
        program = QStandardPaths::findExecutable(name);
    if (program.isEmpty())
        return fail(name + " is not installed"_L1);

    QStringList arguments { m_url.toString(QUrl::FullyEncoded), QString::fromUtf8(m_scheme) };
    // Another program's window can be named only by its X11 id.
    if (anchor && QGuiApplication::platformName() == "xcb"_L1) {
        const QPoint centre = anchor->geometry().center();
        arguments << QString::number(anchor->winId()) << QString::number(centre.x()) << QString::number(centre.y());
    }
    m_process = new QProcess(this);
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(m_process, &QProcess::readyReadStandardOutput, this, &WebAuthenticationSession::readAnswers);
    connect(m_process, &QProcess::finished, this, &WebAuthenticationSession::programEnded);
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            programEnded();
    });
    m_process->start(program, arguments);
}

void WebAuthenticationSession::readAnswers()
{
    while (!m_finished && m_process->canReadLine()) {
        const QString line = QString::fromUtf8(m_process->readLine()).chopped(1);
        const QString kind = line.section(u' ', 0, 0);
        const QString value = line.section(u' ', 1);
        const QUrl url = QUrl::fromEncoded(value.toUtf8(), QUrl::StrictMode);
        if (kind == "log"_L1)
            Log::line(value);
        else if (kind == "open"_L1 && (url.scheme() == "https"_L1 || url.scheme() == "http"_L1))
            QDesktopServices::openUrl(url);
        else if (kind == "callback"_L1 && url.isValid() && url.scheme().toUtf8() == m_scheme)
            finish(url, std::nullopt);
        else if (line == "cancel"_L1)
            finish(std::nullopt, WebAuthenticationError::cancelled());
        else
            // An address stays out of the log: a callback's may carry the token.
            fail(
                u"the sign-in window answered \"%1\""_s.arg(value.isEmpty() ? line.left(80) : kind.left(40) + u" …"_s));
    }
}

void WebAuthenticationSession::programEnded()
{
    readAnswers();
    if (m_finished)
        return;
    if (m_process->error() == QProcess::FailedToStart)
        fail(m_process->errorString());
    else if (m_process->exitStatus() == QProcess::CrashExit)
        fail(u"the sign-in window crashed"_s);
    else
        fail(u"the sign-in window quit without an answer (status %1)"_s.arg(m_process->exitCode()));
}

void WebAuthenticationSession::fail(const QString& why)
{
    Log::line("[AuthService] Google sign-in failed: "_L1 + why);
    if (m_process)
        m_process->kill();
    finish(std::nullopt, std::nullopt);
}

void WebAuthenticationSession::finish(std::optional<QUrl> callbackUrl, std::optional<WebAuthenticationError> error)
{
    if (m_finished)
        return;
    m_finished = true;
    m_callbackUrl = std::move(callbackUrl);
    m_error = std::move(error);
    emit finished();
}
