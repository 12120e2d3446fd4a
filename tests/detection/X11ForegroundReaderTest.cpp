#include "X11ForegroundReader.h"
#include "Await.h"
#include "TestWindows.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

TEST(X11ForegroundReader, ReadsClassNameProcessAndTitleOfTheActiveWindow)
{
    TestWindows windows;
    ASSERT_TRUE(windows.isConnected());
    X11ForegroundReader reader;
    const std::optional<QByteArray> none;
    struct Case {
        const char* what;
        TestWindows::Properties properties;
        QString name;
        std::optional<QString> title;
    };
    const Case cases[] = {
        { "known class, UTF-8 title preferred over WM_NAME",
            { "Google-chrome", QByteArray("Réunion – Google Meet"), QByteArray("fallback"), true }, "Google Chrome",
            QStringLiteral("Réunion – Google Meet") },
        { "only WM_NAME", { "zoom", none, QByteArray("Zoom Meeting"), true }, "Zoom", QStringLiteral("Zoom Meeting") },
        { "WM_NAME in Latin-1", { "Firefox-esr", none, QByteArray("Caf\xe9 call"), true }, "Firefox",
            QStringLiteral("Café call") },
        { "empty title is still a title", { "Microsoft-edge", QByteArray(""), QByteArray("ignored"), true },
            "Microsoft Edge", QString() },
        { "unknown class, no title, no process id", { "Xed", none, none, false }, "Xed", std::nullopt },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const quint32 window = windows.create(c.properties);
        ASSERT_TRUE(windows.activate(window));
        const auto app = reader.frontmostApplication();
        ASSERT_TRUE(app);
        EXPECT_EQ(app->windowClass, QString::fromLatin1(c.properties.windowClass));
        EXPECT_EQ(app->localizedName, c.name);
        EXPECT_EQ(app->processIdentifier, c.properties.withProcessId ? ::getpid() : 0);
        EXPECT_EQ(app->window, window);
        EXPECT_EQ(reader.focusedWindowTitle(*app), c.title);
    }

    // A window that is gone by the time its title is asked for has no title.
    const quint32 closing = windows.create({ "zoom", QByteArray("Zoom Meeting"), none, true });
    ASSERT_TRUE(windows.activate(closing));
    const auto app = reader.frontmostApplication();
    ASSERT_TRUE(app);
    windows.destroy(closing);
    EXPECT_EQ(reader.focusedWindowTitle(*app), std::nullopt);
}

// On an X server of the test's own, without a window manager, that can be paused and killed.
TEST(X11ForegroundReader, NothingWithoutAnActiveWindowOrServerAndReconnectsToANewServer)
{
    int n = 140;
    while (QFile::exists(u"/tmp/.X11-unix/X%1"_s.arg(n)) || QFile::exists(u"/tmp/.X%1-lock"_s.arg(n)))
        ++n;
    const QByteArray name = ":" + QByteArray::number(n);
    QProcess server;
    const auto start = [&] {
        // Without -noreset the server wipes root properties whenever its last client leaves.
        server.start(u"Xvfb"_s, { QString::fromLatin1(name), u"-noreset"_s, u"-nolisten"_s, u"tcp"_s });
        return waitUntil([&] { return TestWindows(name).isConnected(); }, 10000);
    };
    const auto signal = [&](int number) { ::kill(static_cast<pid_t>(server.processId()), number); };
    ASSERT_TRUE(start());
    auto windows = std::make_unique<TestWindows>(name);
    X11ForegroundReader reader(name, 200ms);
    const auto showZoom = [&] {
        const quint32 window = windows->create({ "zoom", QByteArray("Zoom Meeting"), std::nullopt, true });
        windows->setActiveWindowProperty(window);
        return window;
    };

    EXPECT_EQ(reader.frontmostApplication(), std::nullopt) << "no window manager has said anything yet";
    const quint32 zoom = showZoom();
    ASSERT_TRUE(reader.frontmostApplication());
    windows->setActiveWindowProperty(0);
    EXPECT_EQ(reader.frontmostApplication(), std::nullopt);
    windows->destroy(zoom);
    windows->setActiveWindowProperty(zoom);
    EXPECT_EQ(reader.frontmostApplication(), std::nullopt) << "the server's error is no application";

    // A server that does not answer costs one reply timeout, not a hang.
    showZoom();
    signal(SIGSTOP);
    EXPECT_EQ(reader.frontmostApplication(), std::nullopt);
    X11ForegroundReader connecting(name, 200ms);
    EXPECT_EQ(connecting.frontmostApplication(), std::nullopt) << "nor does connecting to it";
    EXPECT_EQ(connecting.frontmostApplication(), std::nullopt);
    signal(SIGCONT);
    const auto again = reader.frontmostApplication();
    ASSERT_TRUE(again) << "late answers are dropped and the connection stays usable";
    EXPECT_EQ(reader.focusedWindowTitle(*again), QStringLiteral("Zoom Meeting"));
    EXPECT_TRUE(waitUntil([&] { return connecting.frontmostApplication().has_value(); })) << "connected meanwhile";

    // A server that went away breaks the connection; the next call connects afresh.
    windows.reset();
    server.terminate();
    server.waitForFinished(10000);
    EXPECT_EQ(reader.frontmostApplication(), std::nullopt);
    EXPECT_EQ(reader.frontmostApplication(), std::nullopt);
    ASSERT_TRUE(start());
    windows = std::make_unique<TestWindows>(name);
    showZoom();
    const auto reconnected = reader.frontmostApplication();
    ASSERT_TRUE(reconnected);
    EXPECT_EQ(reconnected->localizedName, QStringLiteral("Zoom"));
    windows.reset();
    server.terminate();
    server.waitForFinished(10000);

    X11ForegroundReader nowhere(":4095");
    EXPECT_EQ(nowhere.frontmostApplication(), std::nullopt);
    EXPECT_EQ(nowhere.frontmostApplication(), std::nullopt);
}
