#include "SingleInstance.h"

#include "Log.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

using namespace Qt::StringLiterals;

namespace {
const QString serviceName = u"com.echoquill.Desktop"_s;
const QString objectPath = u"/com/echoquill/Desktop"_s;
}

SingleInstance::SingleInstance(QObject* parent)
    : QObject(parent)
{
}

SingleInstance::~SingleInstance()
{
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
