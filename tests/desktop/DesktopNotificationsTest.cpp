#include "DesktopNotifications.h"
#include "Await.h"
#include "QtPrinters.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

const QString name = u"org.freedesktop.Notifications"_s, path = u"/org/freedesktop/Notifications"_s;

// A notification server that reads markup, on a connection of its own.
class MarkupServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"markup-server"_s);
    QStringList bodies;
public slots:
    Q_SCRIPTABLE QStringList GetCapabilities() { return { u"body"_s, u"body-markup"_s, u"actions"_s }; }
    Q_SCRIPTABLE uint Notify(const QString&, uint, const QString&, const QString&, const QString& body,
        const QStringList&, const QVariantMap&, int)
    {
        return bodies << body, uint(bodies.size());
    }
};

void invoke(const QDBusConnection& from, const QString& action)
{
    from.send(QDBusMessage::createSignal(path, name, u"ActionInvoked"_s) << 1u << action);
}

}

// A title goes escaped to a server that reads markup; a forged action from another peer does nothing.
TEST(DesktopNotifications, TitlesAreEscapedAndOnlyTheShowingServerInvokesActions)
{
    MarkupServer server;
    ASSERT_TRUE(server.bus.registerObject(path, &server, QDBusConnection::ExportScriptableSlots)
        && server.bus.registerService(name));
    DesktopNotifications notifications;
    QStringList chosen;
    notifications.notify(u"Your notes are ready"_s, u"<b>Q&A</b>"_s, { u"default"_s, u"Open"_s },
        [&](const QString& action) { chosen << action; });
    ASSERT_TRUE(waitUntil([&] { return !server.bodies.isEmpty(); }));
    EXPECT_EQ(server.bodies, QStringList { u"&lt;b&gt;Q&amp;A&lt;/b&gt;"_s });

    // The forged signal reaches the bus first: the round trip after it is answered only once it was passed on.
    const QDBusConnection forger = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"forger"_s);
    invoke(forger, u"forged"_s);
    forger.call(QDBusMessage::createMethodCall(
        u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s, u"org.freedesktop.DBus.Peer"_s, u"Ping"_s));
    invoke(server.bus, u"default"_s);
    ASSERT_TRUE(waitUntil([&] { return !chosen.isEmpty(); }));
    EXPECT_EQ(chosen, QStringList { u"default"_s });
}

#include "DesktopNotificationsTest.moc"
