#include "DesktopNotifications.h"
#include "Await.h"
#include "NotificationServer.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

// A title goes escaped to a server that reads markup; a forged action from another peer does nothing.
TEST(DesktopNotifications, TitlesAreEscapedAndOnlyTheShowingServerInvokesActions)
{
    NotificationServer server;
    ASSERT_TRUE(server.start());
    DesktopNotifications notifications;
    QStringList chosen;
    notifications.notify(u"Your notes are ready"_s, u"<b>Q&A</b>"_s, { u"default"_s, u"Open"_s },
        [&](const QString& action) { chosen << action; });
    ASSERT_TRUE(waitUntil([&] { return !server.shown.isEmpty(); }));
    EXPECT_EQ(server.shown.first().at(1), u"&lt;b&gt;Q&amp;A&lt;/b&gt;"_s);

    // The forged signal reaches the bus first: the round trip after it is answered only once it was passed on.
    const QDBusConnection forger = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"forger"_s);
    NotificationServer::invoke(forger, 1, u"forged"_s);
    forger.call(QDBusMessage::createMethodCall(
        u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s, u"org.freedesktop.DBus.Peer"_s, u"Ping"_s));
    NotificationServer::invoke(server.bus, 1, u"default"_s);
    ASSERT_TRUE(waitUntil([&] { return !chosen.isEmpty(); }));
    EXPECT_EQ(chosen, QStringList { u"default"_s });
}
