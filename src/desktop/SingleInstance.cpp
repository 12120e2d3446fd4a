#include "SingleInstance.h"

#include "Log.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
const QString serviceName = u"com.echoquill.Desktop"_s;
const QString objectPath = u"/com/echoquill/Desktop"_s;
const QString lockName = u"echoquill.lock"_s;

// The user's runtime folder; where the session sets none, Qt's per-user fallback (made private).
QString runtimeFolder()
{
    const QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return folder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) : folder;
}
}

SingleInstance::SingleInstance(QObject* parent)
    : QObject(parent)
{
}

SingleInstance::~SingleInstance()
{
    if (m_lockFd >= 0)
        ::close(m_lockFd);
    if (!m_claimed)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(serviceName);
    bus.unregisterObject(objectPath);
}

SingleInstance::Claim SingleInstance::claim()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return Claim::NoBus;
    // The object is there before the name, so a launch that sees the name can call it at once.
    if (!bus.registerObject(objectPath, this, QDBusConnection::ExportScriptableSlots))
        return Claim::NoBus;
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus.interface()->registerService(
        serviceName, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        m_claimed = true;
        return Claim::First;
    }
    bus.unregisterObject(objectPath);
    return reply.isValid() ? Claim::Running : Claim::NoBus;
}

bool SingleInstance::lock()
{
    const QString folder = runtimeFolder();
    if (folder.isEmpty()) {
        Log::line(u"[SingleInstance] no runtime folder for the lock file"_s);
        return true;
    }
    m_lockPath = QDir(folder).filePath(lockName);
    // Never through a link, and closed in every program the client starts, so that only this process holds it.
    const int fd = ::open(QFile::encodeName(m_lockPath).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        Log::line(u"[SingleInstance] cannot open the lock file %1: %2"_s.arg(
            m_lockPath, QString::fromLocal8Bit(std::strerror(errno))));
        return true;
    }
    int result;
    do
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    while (result < 0 && errno == EINTR);
    if (result < 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return false;
        Log::line(
            u"[SingleInstance] cannot lock %1: %2"_s.arg(m_lockPath, QString::fromLocal8Bit(std::strerror(error))));
        return true;
    }
    m_lockFd = fd;
    return true;
}

bool SingleInstance::handOver(const QStringList& arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(serviceName, objectPath, serviceName, u"Activate"_s);
    call << arguments;
    // This launch has nothing else to do: waiting for the answer is all of it.
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 10000);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        Log::line(u"[SingleInstance] the running client did not answer: "_s + reply.errorMessage());
        return false;
    }
    return true;
}

void SingleInstance::Activate(const QStringList& arguments)
{
    emit activated(arguments);
}
