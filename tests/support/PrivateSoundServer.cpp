#include "PrivateSoundServer.h"

#include "SoundTools.h"
#include "TestServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QThread>

PrivateSoundServer::PrivateSoundServer()
{
    const QDir dir(m_dir.path());
    dir.mkpath(QStringLiteral("home"));
    dir.mkpath(QStringLiteral("run"));
    QFile::setPermissions(dir.filePath(QStringLiteral("run")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile config(dir.filePath(QStringLiteral("server.pa")));
    config.open(QIODevice::WriteOnly);
    config.write("load-module module-native-protocol-unix auth-anonymous=1 socket="
        + QFile::encodeName(dir.filePath(QStringLiteral("native")))
        + "\nload-module module-null-sink sink_name=only rate=48000 channels=2\n");
    // No anonymous access and no address list: a client is let in by the cookie in this server's home only.
    const int port = closedPort();
    m_guardedAddress = QStringLiteral("tcp:127.0.0.1:%1").arg(port);
    config.write("load-module module-native-protocol-tcp auth-anonymous=0 listen=127.0.0.1 port="
        + QByteArray::number(port) + "\n");
    config.close();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("run")));
    environment.remove(QStringLiteral("PULSE_SERVER"));
    m_process.setProcessEnvironment(environment);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(dir.filePath(QStringLiteral("server.log")));
    m_process.start(QStringLiteral("pulseaudio"),
        { QStringLiteral("-n"), QStringLiteral("-F"), config.fileName(), QStringLiteral("--daemonize=no"),
            QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no") });
    if (!m_process.waitForStarted())
        return;
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
        if (SoundTools::pactl({ QStringLiteral("info") }, address())) {
            m_ready = true;
            return;
        }
        QThread::msleep(50);
    }
}

PrivateSoundServer::~PrivateSoundServer()
{
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

QString PrivateSoundServer::address() const
{
    return QStringLiteral("unix:") + QDir(m_dir.path()).filePath(QStringLiteral("native"));
}
