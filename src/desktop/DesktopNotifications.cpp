#include "DesktopNotifications.h"

#include "Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
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

DesktopNotifications::Ticket DesktopNotifications::notify(const QString& summary, const QString& body,
    const QStringList& actions, ActionHandler onAction, WhilePaused whilePaused)
{
    if (!QDBusConnection::sessionBus().isConnected())
        return 0;
    const Ticket ticket = ++m_lastTicket;
    m_pending.insert(ticket);
    QDBusMessage hasOwner = QDBusMessage::createMethodCall(
        u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s, u"org.freedesktop.DBus"_s, u"NameHasOwner"_s);
    hasOwner << serviceName;
    whenAnswered<bool>(this, hasOwner, [=, this](const QDBusPendingReply<bool>& reply) {
        if (!m_pending.contains(ticket))
            return;
        if (reply.isError() || !reply.value()) {
            m_pending.remove(ticket);
            Log::line(u"[Notifications] no notification server: not shown: "_s + summary);
            return;
        }
        const auto show = [=, this] { send(ticket, summary, body, actions, onAction); };
        if (whilePaused == WhilePaused::holdBack)
            unlessPaused(ticket, summary, show);
        else
            show();
    });
    return ticket;
}

void DesktopNotifications::withdraw(Ticket ticket)
{
    if (!ticket || m_pending.remove(ticket))
        return;
    for (auto shown = m_shown.begin(); shown != m_shown.end(); ++shown) {
        if (shown->ticket == ticket) {
            close(shown->server, shown.key());
            m_shown.erase(shown);
            return;
        }
    }
}

void DesktopNotifications::unlessPaused(Ticket ticket, const QString& summary, const std::function<void()>& then)
{
    const auto property = [](const QString& interface, const QString& name) {
        QDBusMessage get
            = QDBusMessage::createMethodCall(serviceName, objectPath, u"org.freedesktop.DBus.Properties"_s, u"Get"_s);
        get.setAutoStartService(false);
        get << interface << name;
        return get;
    };
    // A server that has neither property (most have not `Inhibited`) counts as not paused.
    const auto isOn = [](const QDBusPendingReply<QDBusVariant>& reply) {
        return !reply.isError() && reply.value().variant().toBool();
    };
    whenAnswered<QDBusVariant>(
        this, property(serviceName, u"Inhibited"_s), [=, this](const QDBusPendingReply<QDBusVariant>& inhibited) {
            // dunst's do-not-disturb, which it does not tell through `Inhibited`.
            whenAnswered<QDBusVariant>(this, property(u"org.dunstproject.cmd0"_s, u"paused"_s),
                [=, this](const QDBusPendingReply<QDBusVariant>& paused) {
                    if (!m_pending.contains(ticket))
                        return;
                    if (isOn(inhibited) || isOn(paused)) {
                        m_pending.remove(ticket);
                        Log::line(
                            u"[Notifications] held back while the desktop's notifications are paused: "_s + summary);
                        return;
                    }
                    then();
                });
        });
}

void DesktopNotifications::send(
    Ticket ticket, const QString& summary, const QString& body, const QStringList& actions, ActionHandler onAction)
{
    // A body goes as it is only to a server that says it reads no markup; any other may take
    // "<" and "&" in a note's title for markup.
    QDBusMessage capabilities
        = QDBusMessage::createMethodCall(serviceName, objectPath, serviceName, u"GetCapabilities"_s);
    capabilities.setAutoStartService(false);
    whenAnswered<QStringList>(this, capabilities, [=, this](const QDBusPendingReply<QStringList>& answer) {
        if (!m_pending.contains(ticket))
            return;
        const bool plain = !answer.isError() && !answer.value().contains(u"body-markup"_s);
        QDBusMessage call = QDBusMessage::createMethodCall(serviceName, objectPath, serviceName, u"Notify"_s);
        // A server that went away in between is not started for us.
        call.setAutoStartService(false);
        call << u"Echoquill"_s << 0u << u"com.echoquill.Desktop"_s << summary << (plain ? body : body.toHtmlEscaped())
             << actions << QVariantMap { { u"desktop-entry"_s, u"com.echoquill.Desktop"_s } } << -1;
        whenAnswered<uint>(this, call, [this, ticket, summary, onAction](const QDBusPendingReply<uint>& reply) {
            const bool withdrawn = !m_pending.remove(ticket);
            if (reply.isError()) {
                Log::line(u"[Notifications] not shown: "_s + summary + u": "_s + reply.error().message());
                return;
            }
            // Withdrawn while the server was putting it up: it goes at once.
            if (withdrawn)
                close(reply.reply().service(), reply.value());
            else
                m_shown.insert(reply.value(), { reply.reply().service(), onAction, ticket });
        });
    });
}

void DesktopNotifications::close(const QString& server, uint id)
{
    QDBusMessage call = QDBusMessage::createMethodCall(server, objectPath, serviceName, u"CloseNotification"_s);
    call.setAutoStartService(false);
    call << id;
    QDBusConnection::sessionBus().asyncCall(call);
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
