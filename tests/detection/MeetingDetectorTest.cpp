#include "MeetingDetector.h"
#include "Await.h"
#include "TestWindows.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
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
    const QString meet = QStringLiteral("https://meet.google.com/abc-defg-hij");
    const QString teams = QStringLiteral("https://teams.live.com/meet/9312");
    constexpr std::nullopt_t none = std::nullopt;
    struct Case {
        QString name, bundle;
        std::optional<QString> title, address;
        std::optional<MeetingDetection> expected;
    };
    const Case cases[] = {
        // Zoom by class or name, before anything else; its windows often have no title.
        { "zoom.us", "us.zoom.xos", "", none, zoom("Zoom Meeting") },
        { "Zoom", "zoom", none, none, zoom("Zoom Meeting") },
        { "Zoom", "zoom", "Zoom Meeting ID 42", meet, zoom("Zoom Meeting ID 42") },
        { "ZOOM Workplace", "", "Home", none, zoom("Home") },
        { "Google Chrome", "com.google.Chrome", "Zoom Meeting", "https://zoom.us/j/123", none },
        // Meet by address, then by title (also the host without its suffix).
        { "Google Chrome", "com.google.Chrome", "Microsoft Teams", meet, meetByAddress("Microsoft Teams") },
        { "Microsoft Edge", "com.microsoft.edgemac", none, "HTTPS://MEET.GOOGLE.COM/x", meetByAddress("Google Meet") },
        { "Google Chrome", "com.google.Chrome", "", meet, meetByAddress("") },
        { "Firefox", "firefox", "Standup - Google Meet", none, meetByTitle("Standup - Google Meet") },
        { "Chromium", "Chromium", "Meet.Google.com/abc", none, meetByTitle("Meet.Google.com/abc") },
        { "Safari", "com.apple.Safari", "Google Meet", teams, meetByTitle("Google Meet") },
        // Teams by either address, then by class or title; a name alone says nothing.
        { "Safari", "com.apple.Safari", "Chat", teams, teamsByAddress("Chat") },
        { "Google Chrome", "Google-chrome", none, "https://teams.microsoft.com/l/meetup-join/19",
          teamsByAddress("Microsoft Teams") },
        { "Google Chrome", "Google-chrome", "", teams, teamsByAddress("") },
        { "Microsoft Teams", "com.microsoft.teams2", "Calendar", none, teamsByApp("Calendar") },
        { "Teams for Linux", "teams-for-linux", none, none, teamsByApp("Microsoft Teams") },
        { "Microsoft Teams", "Microsoft Teams - Preview", "", none, teamsByApp("") },
        { "Firefox", "firefox", "Planning | Microsoft Teams", none, teamsByApp("Planning | Microsoft Teams") },
        { "Firefox", "firefox", "TEAMS MEETING with Ana", none, teamsByApp("TEAMS MEETING with Ana") },
        { "Teams Notes", "org.example.notes", "todo", none, none },
        { "Terminal", "org.gnome.Terminal", "vim notes.txt", none, none },
        { "", "", none, none, none },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(QStringList({ c.name, c.bundle, c.title.value_or(u"-"_s), c.address.value_or(u"-"_s) })
                         .join(u" / ")
                         .toStdString());
        EXPECT_EQ(MeetingDetector::detect(c.name, c.bundle, c.title, c.address), c.expected);
    }
}

// The detector reading real windows made active through the test display's window manager.
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

TEST_F(MeetingDetectorOnDisplay, DismissedMeetingStaysQuietUntilTheForegroundShowsSomethingElse)
{
    const quint32 zoomCall = window("zoom", "");
    // A browser's title that mentions zoom: the application is the browser, not the title.
    const quint32 browser = window("Google-chrome", "How to zoom in on a map - Google Chrome");
    const quint32 teamsCall = window("teams-for-linux", "Standup | Microsoft Teams");

    showAndPoll(zoomCall);
    ASSERT_EQ(detector.currentDetection(), zoom("Zoom Meeting"));
    detector.dismissCurrentDetection();
    EXPECT_EQ(detector.currentDetection(), std::nullopt);
    detector.poll();
    detector.poll();
    EXPECT_EQ(detector.currentDetection(), std::nullopt) << "the same meeting is not offered again";
    EXPECT_EQ(detector.lastDismissedName(), QStringLiteral("Zoom Meeting"));

    showAndPoll(browser);
    EXPECT_EQ(detector.currentDetection(), std::nullopt);
    EXPECT_EQ(detector.lastDismissedName(), std::nullopt) << "one poll without a meeting ends the suppression";
    showAndPoll(zoomCall);
    EXPECT_EQ(detector.currentDetection(), zoom("Zoom Meeting")) << "coming back offers it again";

    detector.dismissCurrentDetection();
    showAndPoll(teamsCall);
    EXPECT_EQ(detector.currentDetection(), teamsByApp("Standup | Microsoft Teams"))
        << "another meeting is offered at once, named by its window";
    EXPECT_EQ(detector.lastDismissedName(), std::nullopt);

    // Dismissing with nothing offered forgets the last dismissal.
    detector.dismissCurrentDetection();
    detector.dismissCurrentDetection();
    EXPECT_EQ(detector.lastDismissedName(), std::nullopt);
    detector.poll();
    EXPECT_EQ(detector.currentDetection(), teamsByApp("Standup | Microsoft Teams"));

    // Closing every window leaves no active window: nothing is offered, and the dismissal outlives the gap.
    showAndPoll(zoomCall);
    detector.dismissCurrentDetection();
    windows.destroyAll();
    detector.poll();
    EXPECT_EQ(detector.currentDetection(), std::nullopt);
    EXPECT_EQ(detector.lastDismissedName(), QStringLiteral("Zoom Meeting"));
    showAndPoll(window("zoom", "Zoom Meeting"));
    EXPECT_EQ(detector.currentDetection(), std::nullopt);
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
    // A second detector on the same interval proves that ticks have come and gone.
    MeetingDetector witness;
    int witnessed = 0;
    QObject::connect(&witness, &MeetingDetector::currentDetectionChanged, [&] { ++witnessed; });
    witness.startMonitoring(50ms);
    ASSERT_TRUE(waitUntil([&] { return witnessed >= 4; }));
    EXPECT_EQ(published, afterStop);
    EXPECT_EQ(detector.currentDetection(), teamsByApp("Chat"));
}
