#include "AccessibilityBus.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>

#include <algorithm>

namespace {

const QString accessibleInterface = QStringLiteral("org.a11y.atspi.Accessible");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString statusInterface = QStringLiteral("org.a11y.Status");
const QString rootPath = QStringLiteral("/org/a11y/atspi/accessible/root");
const QString nullPath = QStringLiteral("/org/a11y/atspi/null");
const QString noReplyError = QStringLiteral("org.freedesktop.DBus.Error.NoReply");

}

AccessibilityBus::AccessibilityBus()
    : m_connectionName(QStringLiteral("echoquill-a11y-%1").arg(reinterpret_cast<quintptr>(this), 0, 16))
{
}

AccessibilityBus::~AccessibilityBus()
{
    m_bus.reset();
    QDBusConnection::disconnectFromBus(m_connectionName);
}

void AccessibilityBus::startRead(std::chrono::milliseconds budget)
{
    m_deadline = QDeadlineTimer(budget);
    m_deadlinePassed = false;
    m_answered.clear();
}

AccessibilityBus::Connection AccessibilityBus::connect()
{
    if (m_bus && m_bus->isConnected())
        return Connection::connected;
    // A bus that went away (its launcher restarted) is forgotten by name, or connecting again returns it.
    QDBusConnection::disconnectFromBus(m_connectionName);
    m_bus = std::make_unique<QDBusConnection>(QDBusConnection::sessionBus());
    if (!m_bus->isConnected())
        return Connection::none;
    const Object launcher { QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus") };
    const auto enabled
        = call(launcher, propertiesInterface, QStringLiteral("Get"), { statusInterface, QStringLiteral("IsEnabled") });
    const bool switchedOn = enabled && !enabled->toBool()
        && call(launcher, propertiesInterface, QStringLiteral("Set"),
            { statusInterface, QStringLiteral("IsEnabled"), QVariant::fromValue(QDBusVariant(true)) });
    const auto address = call(launcher, QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
    m_bus.reset();
    if (!address)
        return Connection::none;
    m_bus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address->toString(), m_connectionName));
    if (!m_bus->isConnected())
        return Connection::none;
    return switchedOn ? Connection::switchedOn : Connection::connected;
}

std::optional<QVariant> AccessibilityBus::call(
    const Object& object, const QString& interface, const QString& method, const QVariantList& arguments)
{
    const qint64 remaining = m_deadline.remainingTime();
    if (m_deadlinePassed || remaining == 0) {
        m_deadlinePassed = true;
        return std::nullopt;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(object.service, object.path, interface, method);
    message.setArguments(arguments);
    const QDBusMessage reply = m_bus->call(message, QDBus::Block, static_cast<int>(std::max<qint64>(remaining, 1)));
    if (reply.type() != QDBusMessage::ReplyMessage) {
        m_deadlinePassed = reply.errorName() == noReplyError || m_deadline.hasExpired();
        return std::nullopt;
    }
    m_answered.insert(object.service);
    QVariant value = reply.arguments().value(0);
    if (value.metaType() == QMetaType::fromType<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value;
}

std::optional<QList<AccessibilityBus::Object>> AccessibilityBus::children(const Object& object)
{
    const auto reply = call(object, accessibleInterface, QStringLiteral("GetChildren"));
    if (!reply)
        return std::nullopt;
    QList<Object> objects;
    const QDBusArgument list = reply->value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        Object child;
        QDBusObjectPath path;
        list.beginStructure();
        list >> child.service >> path;
        list.endStructure();
        child.path = path.path();
        if (child.path != nullPath)
            objects.append(child);
    }
    list.endArray();
    return objects;
}

std::optional<QList<AccessibilityBus::Object>> AccessibilityBus::applications()
{
    return children({ QStringLiteral("org.a11y.atspi.Registry"), rootPath });
}

std::optional<QList<AccessibilityBus::Object>> AccessibilityBus::windows(const QString& service)
{
    return children({ service, rootPath });
}

std::optional<uint> AccessibilityBus::states(const Object& object)
{
    const auto states = call(object, accessibleInterface, QStringLiteral("GetState"));
    if (!states)
        return std::nullopt;
    return qdbus_cast<QList<uint>>(*states).value(0);
}

std::optional<QString> AccessibilityBus::name(const Object& object)
{
    const auto name
        = call(object, propertiesInterface, QStringLiteral("Get"), { accessibleInterface, QStringLiteral("Name") });
    if (!name)
        return std::nullopt;
    return name->toString();
}

std::optional<qint64> AccessibilityBus::processOf(const QString& service)
{
    const auto owner = call({ QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus") },
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"), { service });
    if (!owner)
        return std::nullopt;
    return owner->toLongLong();
}
