#include "MeetingDetector.h"
#include "Await.h"
#include "TestWindows.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlExpression>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

void PrintTo(const MeetingDetection &d, std::ostream *os)
{
    *os << '{' << d.appName().toStdString() << ", " << d.confidence << ", \"" << d.reason.toStdString() << "\", \""
        << d.displayName.toStdString() << "\"}";
}

namespace {

MeetingDetection meeting(MeetingApp app, double confidence, const char *reason, const QString &displayName)
{
    return { app, confidence, QString::fromUtf8(reason), displayName };
}

const auto zoom = [](const QString &name) { return meeting(MeetingApp::zoom, 0.9, "Zoom app detected", name); };
const auto meetByAddress
    = [](const QString &name) { return meeting(MeetingApp::googleMeet, 0.95, "Google Meet URL", name); };
const auto meetByTitle
    = [](const QString &name) { return meeting(MeetingApp::googleMeet, 0.85, "Google Meet window title", name); };
const auto teamsByAddress = [](const QString &name) { return meeting(MeetingApp::teams, 0.95, "Teams URL", name); };
const auto teamsByApp
    = [](const QString &name) { return meeting(MeetingApp::teams, 0.85, "Teams app/title detected", name); };

}

TEST(MeetingRules, FirstMatchingRuleDecidesAppConfidenceReasonAndName)
{
    const QString meetUrl = QStringLiteral("https://meet.google.com/abc-defg-hij");
    struct Case {
        const char *what;
        QString name, bundle;
        std::optional<QString> title, address;
        std::optional<MeetingDetection> expected;
    };
    const Case cases[] = {
        { "zoom client with an empty title", "zoom.us", "us.zoom.xos", "", std::nullopt, zoom("Zoom Meeting") },
        { "zoom client without a title", "Zoom", "zoom", std::nullopt, std::nullopt, zoom("Zoom Meeting") },
        { "zoom client keeps the title's case", "Zoom", "zoom", "Zoom Meeting ID 42", std::nullopt,
          zoom("Zoom Meeting ID 42") },
        { "zoom found by name alone", "ZOOM Workplace", "", "Home", std::nullopt, zoom("Home") },
        { "zoom outranks a meet address", "Zoom", "zoom", "x", meetUrl, zoom("x") },
        { "a browser title mentioning zoom is no zoom", "Google Chrome", "com.google.Chrome", "Zoom Meeting",
          "https://zoom.us/j/123", std::nullopt },
        { "a meet tab in chrome", "Google Chrome", "com.google.Chrome", "Weekly sync", meetUrl,
          meetByAddress("Weekly sync") },
        { "meet address outranks a teams title", "Google Chrome", "Google-chrome", "Microsoft Teams", meetUrl,
          meetByAddress("Microsoft Teams") },
        { "meet address without a title", "Microsoft Edge", "com.microsoft.edgemac", std::nullopt,
          "HTTPS://MEET.GOOGLE.COM/x", meetByAddress("Google Meet") },
        { "meet address with an empty title", "Google Chrome", "com.google.Chrome", "", meetUrl, meetByAddress("") },
        { "meet title in a browser outside the list", "Firefox", "org.mozilla.firefox",
          "Standup - Google Meet — Mozilla Firefox", std::nullopt,
          meetByTitle("Standup - Google Meet — Mozilla Firefox") },
        { "meet host without its suffix in a title", "Chromium", "Chromium", "Meet.Google.com/abc - Chromium",
          std::nullopt, meetByTitle("Meet.Google.com/abc - Chromium") },
        { "meet title outranks a teams address", "Safari", "com.apple.Safari", "Google Meet",
          "https://teams.live.com/meet/1", meetByTitle("Google Meet") },
        { "teams personal address", "Safari", "com.apple.Safari", "Chat", "https://teams.live.com/meet/9312",
          teamsByAddress("Chat") },
        { "teams work address without a title", "Google Chrome", "Google-chrome", std::nullopt,
          "https://teams.microsoft.com/l/meetup-join/19", teamsByAddress("Microsoft Teams") },
        { "teams address with an empty title", "Google Chrome", "Google-chrome", "", "https://teams.live.com/x",
          teamsByAddress("") },
        { "teams client by bundle identifier", "Microsoft Teams", "com.microsoft.teams2", "Calendar", std::nullopt,
          teamsByApp("Calendar") },
        { "teams client on linux by class", "Teams for Linux", "teams-for-linux", std::nullopt, std::nullopt,
          teamsByApp("Microsoft Teams") },
        { "teams preview class with capitals", "Microsoft Teams", "Microsoft Teams - Preview", "", std::nullopt,
          teamsByApp("") },
        { "teams by window title", "Firefox", "firefox", "Planning | Microsoft Teams", std::nullopt,
          teamsByApp("Planning | Microsoft Teams") },
        { "teams meeting in a title", "Firefox", "firefox", "TEAMS MEETING with Ana", std::nullopt,
          teamsByApp("TEAMS MEETING with Ana") },
        { "teams in a name alone is nothing", "Teams Notes", "org.example.notes", "todo", std::nullopt, std::nullopt },
        { "an ordinary window", "Terminal", "org.gnome.Terminal", "vim notes.txt", std::nullopt, std::nullopt },
        { "nothing at all", "", "", std::nullopt, std::nullopt, std::nullopt },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(MeetingDetector::detect(c.name, c.bundle, c.title, c.address), c.expected);
    }
}

class MeetingDetectorOnDisplay : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(windows.isConnected()) << "needs an X display with a window manager"; }

    quint32 window(const char *windowClass, const QByteArray &title)
    {
        return windows.create({ windowClass, title, std::nullopt, true });
    }

    // Makes the window the active one and lets the detector look once.
    void showAndPoll(quint32 w)
    {
        ASSERT_TRUE(windows.activate(w));
        detector.poll();
    }

    TestWindows windows;
    MeetingDetector detector;
};

TEST_F(MeetingDetectorOnDisplay, PublishesWhatEachActiveWindowShows)
{
    struct Case {
        const char *windowClass;
        QByteArray title;
        std::optional<MeetingDetection> expected;
    };
    const Case cases[] = {
        { "zoom", "Zoom Meeting", zoom("Zoom Meeting") },
        { "zoom", "", zoom("Zoom Meeting") },
        { "Google-chrome", "Standup - Google Meet - Google Chrome",
          meetByTitle("Standup - Google Meet - Google Chrome") },
        { "Google-chrome", "How to zoom in on a map - Google Chrome", std::nullopt },
        { "firefox", "Planning | Microsoft Teams — Mozilla Firefox",
          teamsByApp("Planning | Microsoft Teams — Mozilla Firefox") },
        { "teams-for-linux", "Chat", teamsByApp("Chat") },
        { "Xed", "notes.txt", std::nullopt },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.windowClass + (" / " + c.title.toStdString()));
        showAndPoll(window(c.windowClass, c.title));
        EXPECT_EQ(detector.currentDetection(), c.expected);
    }
}

TEST_F(MeetingDetectorOnDisplay, DismissedMeetingStaysQuietUntilTheForegroundShowsSomethingElse)
{
    const quint32 zoomCall = window("zoom", "Zoom Meeting");
    const quint32 editor = window("Xed", "notes.txt");
    const quint32 teamsCall = window("teams-for-linux", "Standup | Microsoft Teams");

    showAndPoll(zoomCall);
    ASSERT_EQ(detector.currentDetection(), zoom("Zoom Meeting"));
    detector.dismissCurrentDetection();
    EXPECT_EQ(detector.currentDetection(), std::nullopt);
    EXPECT_EQ(detector.lastDismissedName(), QStringLiteral("Zoom Meeting"));

    detector.poll();
    detector.poll();
    EXPECT_EQ(detector.currentDetection(), std::nullopt) << "the same meeting is not offered again";
    EXPECT_EQ(detector.lastDismissedName(), QStringLiteral("Zoom Meeting"));

    showAndPoll(editor);
    EXPECT_EQ(detector.currentDetection(), std::nullopt);
    EXPECT_EQ(detector.lastDismissedName(), std::nullopt) << "one poll without a meeting ends the suppression";
    showAndPoll(zoomCall);
    EXPECT_EQ(detector.currentDetection(), zoom("Zoom Meeting")) << "coming back offers it again";

    detector.dismissCurrentDetection();
    showAndPoll(teamsCall);
    EXPECT_EQ(detector.currentDetection(), teamsByApp("Standup | Microsoft Teams"))
        << "another meeting is offered at once";
    EXPECT_EQ(detector.lastDismissedName(), std::nullopt);
    showAndPoll(zoomCall);
    EXPECT_EQ(detector.currentDetection(), zoom("Zoom Meeting"));
}

TEST_F(MeetingDetectorOnDisplay, WithoutAnActiveWindowNothingIsOfferedAndTheDismissalStays)
{
    // Closing the last window leaves the window manager's active window pointing at nothing.
    showAndPoll(window("zoom", "Zoom Meeting"));
    ASSERT_TRUE(detector.currentDetection());
    windows.destroyAll();
    detector.poll();
    EXPECT_EQ(detector.currentDetection(), std::nullopt);

    showAndPoll(window("zoom", "Zoom Meeting"));
    detector.dismissCurrentDetection();
    windows.destroyAll();
    detector.poll();
    EXPECT_EQ(detector.currentDetection(), std::nullopt);
    EXPECT_EQ(detector.lastDismissedName(), QStringLiteral("Zoom Meeting"));

    showAndPoll(window("zoom", "Zoom Meeting"));
    EXPECT_EQ(detector.currentDetection(), std::nullopt) << "the dismissal outlives a gap in the foreground";
}

TEST_F(MeetingDetectorOnDisplay, DismissingWithNothingOfferedForgetsTheLastDismissal)
{
    showAndPoll(window("zoom", "Zoom Meeting"));
    detector.dismissCurrentDetection();
    detector.dismissCurrentDetection();
    EXPECT_EQ(detector.lastDismissedName(), std::nullopt);
    detector.poll();
    EXPECT_EQ(detector.currentDetection(), zoom("Zoom Meeting"));
}

TEST_F(MeetingDetectorOnDisplay, MonitoringPollsAtOnceThenOnEveryTickUntilStopped)
{
    int published = 0;
    QObject::connect(&detector, &MeetingDetector::currentDetectionChanged, [&] { ++published; });
    ASSERT_TRUE(windows.activate(window("zoom", "Zoom Meeting")));

    detector.startMonitoring(50ms);
    EXPECT_TRUE(detector.isMonitoring());
    EXPECT_EQ(detector.currentDetection(), zoom("Zoom Meeting")) << "the first poll runs before start returns";
    EXPECT_EQ(published, 1);

    ASSERT_TRUE(windows.activate(window("teams-for-linux", "Chat")));
    EXPECT_TRUE(waitUntil([&] { return detector.currentDetection() == teamsByApp("Chat"); }));
    const int before = published;
    EXPECT_TRUE(waitUntil([&] { return published >= before + 2; })) << "every poll publishes, also an unchanged value";

    // Starting again replaces the timer rather than adding one, so one stop silences it.
    detector.startMonitoring(50ms);
    detector.stopMonitoring();
    EXPECT_FALSE(detector.isMonitoring());
    const int afterStop = published;
    ASSERT_TRUE(windows.activate(window("zoom", "Zoom Meeting")));
    waitUntil([] { return false; }, 300);
    EXPECT_EQ(published, afterStop);
    EXPECT_EQ(detector.currentDetection(), teamsByApp("Chat"));
}

TEST_F(MeetingDetectorOnDisplay, QmlReadsTheOfferedMeeting)
{
    QQmlEngine engine;
    engine.rootContext()->setContextProperty(QStringLiteral("detector"), &detector);
    const auto shown = [&] {
        QQmlExpression expression(engine.rootContext(), nullptr, QStringLiteral(R"(
            detector.currentDetection
                ? [detector.currentDetection.displayName, detector.currentDetection.appName,
                   detector.currentDetection.reason, detector.currentDetection.confidence].join(" | ")
                : "nothing")"));
        const QVariant value = expression.evaluate();
        return expression.hasError() ? expression.error().toString() : value.toString();
    };
    EXPECT_EQ(shown(), QStringLiteral("nothing"));
    showAndPoll(window("zoom", ""));
    EXPECT_EQ(shown(), QStringLiteral("Zoom Meeting | Zoom | Zoom app detected | 0.9"));
    detector.dismissCurrentDetection();
    EXPECT_EQ(shown(), QStringLiteral("nothing"));
}
