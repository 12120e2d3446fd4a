#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>

// The desktop's notification server, reading markup, on a session-bus connection of its own: a peer apart from
// the client.
class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("notifications"));
    QList<QStringList> shown; // summary, body, then the actions

    bool start()
    {
        return bus.registerObject(path, this, QDBusConnection::ExportScriptableSlots) && bus.registerService(name);
    }
    // The user chose `action` on the notification `id`, as the server at `from` tells it.
    static void invoke(const QDBusConnection& from, uint id, const QString& action)
    {
        from.send(QDBusMessage::createSignal(path, name, QStringLiteral("ActionInvoked")) << id << action);
    }

    static inline const QString name = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString path = QStringLiteral("/org/freedesktop/Notifications");

public slots:
    Q_SCRIPTABLE QStringList GetCapabilities()
    {
        return { QStringLiteral("body"), QStringLiteral("body-markup"), QStringLiteral("actions") };
    }
    Q_SCRIPTABLE uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
        const QStringList& actions, const QVariantMap&, int)
    {
        shown << (QStringList { summary, body } + actions);
        return uint(shown.size());
    }
};
