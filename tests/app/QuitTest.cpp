#include "Await.h"
#include "TestWindows.h"

#include <QProcess>

#include <gtest/gtest.h>

// The real client as its own process on the test display.
TEST(Application, ClosingTheMainWindowEndsTheApplicationWhileTheWidgetFloats)
{
    TestWindows windows;
    ASSERT_TRUE(windows.isConnected());
    QProcess client;
    client.setProcessChannelMode(QProcess::ForwardedChannels);
    client.start(QStringLiteral(ECHOQUILL_BIN));
    ASSERT_TRUE(client.waitForStarted(10000));

    ASSERT_TRUE(waitUntil(
        [&] {
            return windows.windowsTitled("Echoquill").size() == 1
                && windows.windowsTitled("Echoquill recording widget").size() == 1;
        },
        30000))
        << "the main window and the widget";

    windows.requestClose(windows.windowsTitled("Echoquill").first());
    EXPECT_TRUE(client.waitForFinished(15000)) << "the widget alone does not keep the client running";
    EXPECT_EQ(client.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(client.exitCode(), 0);
    if (client.state() != QProcess::NotRunning) {
        client.kill();
        client.waitForFinished();
    }
}
