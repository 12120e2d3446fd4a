#include "DesktopNotifications.h"

#include "Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

using namespace Qt::StringLiterals;

namespace {
const QString serviceName = u"org.freedesktop.Notifications"_s;
const QString objectPath = u"/org/freedesktop/Notifications"_s;

// Runs `then` with the reply once it comes; the caller never waits.
template <class Reply, class Then> void whenAnswered(QObject* context, const QDBusMessage& call, Then then)
{
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [then](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        then(QDBusPendingReply<Reply>(*w));
    });
}
}

DesktopNotifications::DesktopNotifications(QObject* parent)
    : QObject(parent)
{
    // Any sender: following the name's owner would ask the bus and wait for it. Each signal is
    // checked against the server that answered Notify instead.
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(
        {}, objectPath, serviceName, u"ActionInvoked"_s, this, SLOT(onActionInvoked(uint, QString, QDBusMessage)));
    bus.connect({}, objectPath, serviceName, u"NotificationClosed"_s, this, SLOT(onClosed(uint, uint, QDBusMessage)));
}

void DesktopNotifications::notify(
    const QString& summary, const QString& body, const QStringList& actions, ActionHandler onAction)
{
    if (!QDBusConnection::sessionBus().isConnected())
        return;
    QDBusMessage hasOwner = QDBusMessage::createMethodCall(
        u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s, u"org.freedesktop.DBus"_s, u"NameHasOwner"_s);
    hasOwner << serviceName;
    whenAnswered<bool>(this, hasOwner, [this, summary, body, actions, onAction](const QDBusPendingReply<bool>& reply) {
        if (reply.isError() || !reply.value()) {
            Log::line(u"[Notifications] no notification server: not shown: "_s + summary);
            return;
        }
        send(summary, body, actions, onAction);
    });
}

void DesktopNotifications::send(
    const QString& summary, const QString& body, const QStringList& actions, ActionHandler onAction)
{
    // A body goes as it is only to a server that says it reads no markup; any other may take
    // "<" and "&" in a note's title for markup.
    QDBusMessage capabilities
        = QDBusMessage::createMethodCall(serviceName, objectPath, serviceName, u"GetCapabilities"_s);
    capabilities.setAutoStartService(false);
    whenAnswered<QStringList>(this, capabilities, [=, this](const QDBusPendingReply<QStringList>& answer) {
        const bool plain = !answer.isError() && !answer.value().contains(u"body-markup"_s);
        QDBusMessage call = QDBusMessage::createMethodCall(serviceName, objectPath, serviceName, u"Notify"_s);
        // A server that went away in between is not started for us.
        call.setAutoStartService(false);
        call << u"Echoquill"_s << 0u << u"com.echoquill.Desktop"_s << summary << (plain ? body : body.toHtmlEscaped())
             << actions << QVariantMap { { u"desktop-entry"_s, u"com.echoquill.Desktop"_s } } << -1;
        whenAnswered<uint>(this, call, [this, summary, onAction](const QDBusPendingReply<uint>& reply) {
            if (reply.isError()) {
                Log::line(u"[Notifications] not shown: "_s + summary + u": "_s + reply.error().message());
                return;
            }
            m_shown.insert(reply.value(), { reply.reply().service(), onAction });
        });
    });
}

bool DesktopNotifications::isFromServer(uint id, const QDBusMessage& message) const
{
    const auto shown = m_shown.constFind(id);
    return shown != m_shown.cend() && !shown->server.isEmpty() && message.service() == shown->server;
}

void DesktopNotifications::onActionInvoked(uint id, const QString& action, const QDBusMessage& message)
{
    if (!isFromServer(id, message))
        return;
    const ActionHandler handler = m_shown.value(id).onAction;
    if (handler)
        handler(action);
}

void DesktopNotifications::onClosed(uint id, uint, const QDBusMessage& message)
{
    if (isFromServer(id, message))
        m_shown.remove(id);
}
