#include "X11ForegroundReader.h"
#include "Await.h"
#include "TestWindows.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// An X server of the test's own, without a window manager, that can be paused and killed.
class PrivateDisplay {
public:
    PrivateDisplay()
    {
        int n = 140;
        while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n))
               || QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
            ++n;
        name = ":" + QByteArray::number(n);
        start();
    }
    ~PrivateDisplay() { stop(); }

    bool start()
    {
        // Without -noreset the server wipes root properties whenever its last client leaves.
        m_server.start(QStringLiteral("Xvfb"),
                       { QString::fromLatin1(name), QStringLiteral("-noreset"), QStringLiteral("-nolisten"),
                         QStringLiteral("tcp") });
        return waitUntil([&] { return TestWindows(name).isConnected(); }, 10000);
    }
    void stop()
    {
        if (m_server.state() == QProcess::NotRunning)
            return;
        ::kill(static_cast<pid_t>(m_server.processId()), SIGCONT);
        m_server.terminate();
        m_server.waitForFinished(10000);
    }
    void pause() { ::kill(static_cast<pid_t>(m_server.processId()), SIGSTOP); }
    void resume() { ::kill(static_cast<pid_t>(m_server.processId()), SIGCONT); }

    QByteArray name;

private:
    QProcess m_server;
};

}

TEST(X11ForegroundReader, ReadsClassNameProcessAndTitleOfTheActiveWindow)
{
    TestWindows windows;
    ASSERT_TRUE(windows.isConnected());
    X11ForegroundReader reader;
    const std::optional<QByteArray> none;
    const qint64 ourPid = ::getpid();
    struct Case {
        const char *what;
        TestWindows::Properties properties;
        QString name;
        qint64 pid;
        std::optional<QString> title;
    };
    const Case cases[] = {
        { "known class, UTF-8 title preferred over WM_NAME",
          { "Google-chrome", QByteArray("Réunion – Google Meet"), QByteArray("fallback"), true },
          "Google Chrome",
          ourPid,
          QStringLiteral("Réunion – Google Meet") },
        { "only WM_NAME",
          { "zoom", none, QByteArray("Zoom Meeting"), true },
          "Zoom",
          ourPid,
          QStringLiteral("Zoom Meeting") },
        { "WM_NAME in Latin-1",
          { "firefox", none, QByteArray("Caf\xe9 call"), true },
          "Firefox",
          ourPid,
          QStringLiteral("Café call") },
        { "empty title is still a title",
          { "Microsoft-edge", QByteArray(""), QByteArray("ignored"), true },
          "Microsoft Edge",
          ourPid,
          QString() },
        { "unknown class, no title, no process id", { "Xed", none, none, false }, "Xed", 0, std::nullopt },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const quint32 window = windows.create(c.properties);
        ASSERT_TRUE(windows.activate(window));
        const auto app = reader.frontmostApplication();
        ASSERT_TRUE(app);
        EXPECT_EQ(app->bundleIdentifier, QString::fromLatin1(c.properties.windowClass));
        EXPECT_EQ(app->localizedName, c.name);
        EXPECT_EQ(app->processIdentifier, c.pid);
        EXPECT_EQ(app->window, window);
        const auto title = reader.focusedWindowTitle(*app);
        EXPECT_EQ(title, c.title);
        EXPECT_EQ(reader.activeTabAddress(app->localizedName), std::nullopt);
    }

    // A window that is gone by the time its title is asked for has no title.
    const quint32 closing = windows.create({ "zoom", QByteArray("Zoom Meeting"), none, true });
    ASSERT_TRUE(windows.activate(closing));
    const auto app = reader.frontmostApplication();
    ASSERT_TRUE(app);
    windows.destroy(closing);
    EXPECT_EQ(reader.focusedWindowTitle(*app), std::nullopt);
}

TEST(X11ForegroundReader, NoActiveWindowOrNoDisplayMeansNoFrontmostApplication)
{
    PrivateDisplay display;
    TestWindows windows(display.name);
    ASSERT_TRUE(windows.isConnected());
    X11ForegroundReader reader(display.name);
    EXPECT_EQ(reader.frontmostApplication(), std::nullopt) << "no window manager has said anything yet";
    windows.setActiveWindowProperty(windows.create({ "zoom", QByteArray("Zoom Meeting"), std::nullopt, true }));
    ASSERT_TRUE(reader.frontmostApplication());
    windows.setActiveWindowProperty(0);
    EXPECT_EQ(reader.frontmostApplication(), std::nullopt);

    X11ForegroundReader nowhere(":4095");
    EXPECT_EQ(nowhere.frontmostApplication(), std::nullopt);
    EXPECT_EQ(nowhere.frontmostApplication(), std::nullopt);
}

TEST(X11ForegroundReader, ActiveWindowThatNoLongerExistsIsNoApplication)
{
    PrivateDisplay display;
    TestWindows windows(display.name);
    ASSERT_TRUE(windows.isConnected());
    const quint32 window = windows.create({ "zoom", QByteArray("Zoom Meeting"), std::nullopt, true });
    windows.setActiveWindowProperty(window);
    X11ForegroundReader reader(display.name);
    ASSERT_TRUE(reader.frontmostApplication());

    windows.destroy(window);
    windows.setActiveWindowProperty(window);
    EXPECT_EQ(reader.frontmostApplication(), std::nullopt) << "the server's error is no application";
}

TEST(X11ForegroundReader, OutlivesAStoppedServerAndReconnectsToANewOne)
{
    PrivateDisplay display;
    X11ForegroundReader reader(display.name, 200ms);
    const auto showZoom = [&](TestWindows &windows) {
        windows.setActiveWindowProperty(windows.create({ "zoom", QByteArray("Zoom Meeting"), std::nullopt, true }));
    };
    auto windows = std::make_unique<TestWindows>(display.name);
    showZoom(*windows);
    ASSERT_EQ(reader.frontmostApplication().value_or(FrontmostApplication {}).bundleIdentifier, "zoom");

    // A server that does not answer costs one reply timeout, not a hang.
    display.pause();
    EXPECT_EQ(reader.frontmostApplication(), std::nullopt);
    display.resume();
    const auto again = reader.frontmostApplication();
    ASSERT_TRUE(again) << "late answers are dropped and the connection stays usable";
    EXPECT_EQ(reader.focusedWindowTitle(*again), QStringLiteral("Zoom Meeting"));

    // A server that went away breaks the connection; the next call connects afresh.
    windows.reset();
    display.stop();
    EXPECT_EQ(reader.frontmostApplication(), std::nullopt);
    EXPECT_EQ(reader.frontmostApplication(), std::nullopt);
    ASSERT_TRUE(display.start());
    windows = std::make_unique<TestWindows>(display.name);
    showZoom(*windows);
    const auto reconnected = reader.frontmostApplication();
    ASSERT_TRUE(reconnected);
    EXPECT_EQ(reconnected->localizedName, QStringLiteral("Zoom"));
}

TEST(X11ForegroundReader, NamesKnownWindowClassesAndFallsBackToTheClass)
{
    const std::pair<const char *, const char *> names[] = {
        { "Google-chrome", "Google Chrome" },
        { "Chromium", "Chromium" },
        { "Microsoft-edge", "Microsoft Edge" },
        { "firefox", "Firefox" },
        { "Firefox-esr", "Firefox" },
        { "zoom", "Zoom" },
        { "Microsoft Teams - Preview", "Microsoft Teams" },
        { "teams-for-linux", "Teams for Linux" },
        { "org.gnome.Nautilus", "org.gnome.Nautilus" },
    };
    for (const auto &[windowClass, name] : names)
        EXPECT_EQ(X11ForegroundReader::applicationName(QString::fromLatin1(windowClass)), QString::fromUtf8(name))
            << windowClass;
}
