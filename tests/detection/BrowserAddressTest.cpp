#include "Await.h"
#include "BrowserAddressReader.h"
#include "ChildProcess.h"
#include "Log.h"
#include "MeetingDetector.h"
#include "X11ForegroundReader.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <future>
#include <signal.h>
#include <thread>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

// Debian's browsers on the test display, each opened on one address without a network: the address
// field still shows it. Firefox goes first: the reader switches the desktop's accessibility on, which
// Chromium only looks at when it starts.
TEST(BrowserAddress, MeetingsFoundByTheAddressInTheBrowserInFront)
{
    struct Case {
        QString browser;
        QString address;
        // The host as the field shows it, the rule that must fire (none: no meeting), and whether the
        // browser is then stopped to see that it costs one bounded wait per poll and one log line.
        QString shown;
        std::optional<MeetingApp> app;
        QString reason;
        bool stop;
    };
    const QString meet = u"https://meet.google.com/abc-defg-hij"_s;
    const QString other = u"https://www.example.org/standup"_s;
    const Case cases[] = {
        { u"firefox-esr"_s, meet, u"meet.google.com/abc-defg-hij"_s, MeetingApp::googleMeet, u"Google Meet URL"_s,
            false },
        { u"firefox-esr"_s, other, u"example.org/standup"_s, std::nullopt, {}, true },
        { u"chromium"_s, u"https://teams.live.com/meet/9312345678"_s, u"teams.live.com/meet"_s, MeetingApp::teams,
            u"Teams URL"_s, false },
        { u"chromium"_s, other, u"example.org/standup"_s, std::nullopt, {}, true },
    };
    X11ForegroundReader foreground;
    BrowserAddressReader reader;
    MeetingDetector detector;
    for (const Case& c : cases) {
        SCOPED_TRACE(qPrintable(c.browser + u' ' + c.address));
        QTemporaryDir profile;
        const QStringList arguments = c.browser == u"chromium"
            ? QStringList { u"--no-sandbox"_s, u"--no-first-run"_s, u"--disable-background-networking"_s,
                  u"--disable-component-update"_s, u"--disable-sync"_s, u"--force-renderer-accessibility"_s,
                  u"--user-data-dir="_s + profile.path(), c.address }
            : QStringList { u"--no-remote"_s, u"--profile"_s, profile.path(), c.address };
        QProcess browser;
        browser.start(c.browser, arguments);
        ASSERT_TRUE(browser.waitForStarted());
        std::optional<FrontmostApplication> front;
        std::optional<QString> title, address;
        const bool shown = waitUntil(
            [&] {
                front = foreground.frontmostApplication();
                if (!front || front->processIdentifier != browser.processId())
                    return false;
                title = foreground.focusedWindowTitle(*front);
                address = reader.activeTabAddress(*front, title);
                return address && address->contains(c.shown);
            },
            60000);
        ASSERT_TRUE(shown);
        const auto detection = MeetingDetector::detect(front->localizedName, front->windowClass, title, address);
        ASSERT_EQ(detection.has_value(), c.app.has_value());
        if (detection) {
            EXPECT_EQ(*detection, (MeetingDetection { *c.app, 0.95, c.reason, title.value_or(rawValue(*c.app)) }));
            // The detector asks the browser itself, with its own reader (the title may change meanwhile).
            EXPECT_TRUE(waitUntil(
                [&] {
                    detector.poll();
                    return detector.currentDetection() && detector.currentDetection()->reason == c.reason;
                },
                30000));
        }

        if (c.stop) {
            Log::Capture log;
            const auto pid = static_cast<pid_t>(browser.processId());
            ::kill(pid, SIGSTOP);
            // Woken long after the budget: a read that waited for the browser rather than its budget gets the address.
            std::promise<void> readsDone;
            std::thread waker([pid, done = readsDone.get_future()] { done.wait_for(20s), ::kill(pid, SIGCONT); });
            for (int poll = 0; poll < 3; ++poll)
                EXPECT_EQ(reader.activeTabAddress(*front, title), std::nullopt) << "it waited for the stopped browser";
            readsDone.set_value(), waker.join();
            EXPECT_EQ(log.count(u"[BrowserAddressReader] No address from"_s), 1)
                << log.lines().join(u'\n').toStdString();
        }
        browser.terminate();
        if (!browser.waitForFinished(15000))
            browser.kill();
    }
}

// In a GNOME-like Wayland session a Qt window titled like a Meet call, then Firefox on a Meet address, both
// native Wayland windows that X11 does not see, are found through the accessibility bus.
TEST(BrowserAddress, NativeWaylandWindowInFrontFoundThroughTheAccessibilityBus)
{
    if (!ChildProcess::isChild()) {
        const auto child = ChildProcess::rerunInGnomeSession();
        EXPECT_EQ(child.exitCode, 0) << child.output.toStdString();
        return;
    }
    MeetingDetector detector;
    detector.poll(); // switches the desktop's accessibility on before the windows start
    X11ForegroundReader x11;
    // Seen by the detector while X11 shows no active window.
    const auto detected = [&](const QString& reason) {
        const auto seen = [&] { return detector.poll(), detector.currentDetection().value_or(MeetingDetection()); };
        return waitUntil([&] { return seen().reason == reason; }, 25000) && !x11.frontmostApplication();
    };
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(u"DISPLAY"_s);
    env.insert(u"QT_QPA_PLATFORM"_s, u"wayland"_s);
    env.insert(u"MOZ_ENABLE_WAYLAND"_s, u"1"_s);
    QProcess window, firefox;
    window.setProcessEnvironment(env);
    window.start(QCoreApplication::applicationFilePath(), { u"--window"_s, u"Standup - Google Meet"_s });
    EXPECT_TRUE(detected(u"Google Meet window title"_s));
    window.kill(), window.waitForFinished();
    QTemporaryDir profile;
    firefox.setProcessEnvironment(env);
    firefox.start(u"firefox-esr"_s,
        { u"--no-remote"_s, u"--profile"_s, profile.path(), u"https://meet.google.com/abc-defg-hij"_s });
    EXPECT_TRUE(detected(u"Google Meet URL"_s));
    firefox.kill(), firefox.waitForFinished();
}
