#include "MeetingDetector.h"
#include "Await.h"
#include "ChildProcess.h"
#include "QuickRecorder.h"
#include "TestWindows.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

void PrintTo(const MeetingDetection& d, std::ostream* os)
{
    *os << qPrintable(u"{%1, %2, \"%3\", \"%4\"}"_s.arg(d.appName()).arg(d.confidence).arg(d.reason, d.displayName));
}

namespace {

const auto rule = [](MeetingApp app, double confidence, const char* reason) {
    return [=](const QString& name) { return MeetingDetection { app, confidence, QString::fromUtf8(reason), name }; };
};
const auto zoom = rule(MeetingApp::zoom, 0.9, "Zoom app detected");
const auto meetByAddress = rule(MeetingApp::googleMeet, 0.95, "Google Meet URL");
const auto meetByTitle = rule(MeetingApp::googleMeet, 0.85, "Google Meet window title");
const auto teamsByAddress = rule(MeetingApp::teams, 0.95, "Teams URL");
const auto teamsByApp = rule(MeetingApp::teams, 0.85, "Teams app/title detected");

}

TEST(MeetingRules, FirstMatchingRuleDecidesAppConfidenceReasonAndName)
{
    const QString meet = u"https://meet.google.com/abc-defg-hij"_s, teams = u"https://teams.live.com/meet/9312"_s;
    constexpr std::nullopt_t none = std::nullopt;
    using Text = std::optional<QString>;
    // Application name, window class, title, tab address, and the meeting seen in them.
    const std::tuple<QString, QString, Text, Text, std::optional<MeetingDetection>> cases[] = {
        { "zoom.us", "us.zoom.xos", "", none, zoom("Zoom Meeting") },
        { "Zoom", "zoom", none, none, zoom("Zoom Meeting") },
        { "Zoom", "zoom", "Zoom Meeting ID 42", meet, zoom("Zoom Meeting ID 42") },
        { "ZOOM Workplace", "", "Home", none, zoom("Home") },
        { "Google Chrome", "com.google.Chrome", "Zoom Meeting", "https://zoom.us/j/123", none },
        { "Google Chrome", "com.google.Chrome", "Microsoft Teams", meet, meetByAddress("Microsoft Teams") },
        { "Microsoft Edge", "com.microsoft.edgemac", none, "HTTPS://MEET.GOOGLE.COM/x", meetByAddress("Google Meet") },
        { "Google Chrome", "com.google.Chrome", "", meet, meetByAddress("") },
        { "Firefox", "firefox", "Standup - Google Meet", none, meetByTitle("Standup - Google Meet") },
        { "Chromium", "Chromium", "Meet.Google.com/abc", none, meetByTitle("Meet.Google.com/abc") },
        { "Safari", "com.apple.Safari", "Google Meet", teams, meetByTitle("Google Meet") },
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
    for (const auto& [name, bundle, title, address, expected] : cases) {
        SCOPED_TRACE(testing::Message() << "row " << &expected - &std::get<4>(cases[0]));
        EXPECT_EQ(MeetingDetector::detect(name, bundle, title, address), expected);
    }

    // A record stream's application name, program and media name, and the meeting it takes part in.
    const auto holding = [](MeetingApp app, const QString& name) {
        return MeetingDetection { app, 0.8, "microphone in use by " + rawValue(app), name };
    };
    const std::pair<MicrophoneHolders::Stream, std::optional<MeetingDetection>> streams[] = {
        { { "ZOOM VoiceEngine", "zoom", "record" }, holding(MeetingApp::zoom, "Zoom") },
        { { "", "teams-for-linux", "" }, holding(MeetingApp::teams, "Microsoft Teams") },
        { { "Webex", "CiscoCollabHost", "" }, holding(MeetingApp::webex, "Webex") },
        { { "Slack", "slack", "" }, holding(MeetingApp::slack, "Slack") },
        { { "discord", "Discord", "" }, holding(MeetingApp::discord, "Discord") },
        { { "Firefox", "firefox-esr", "Ana - Google Meet" }, holding(MeetingApp::googleMeet, "Ana - Google Meet") },
        { { "Chromium", "chromium", "Chromium input" }, none },
        { { "Notes", "gnome-sound-recorder", "Google Meet minutes" }, none },
    };
    for (const auto& [stream, expected] : streams) {
        SCOPED_TRACE(stream.applicationName.toStdString());
        EXPECT_EQ(MeetingDetector::detectHolder(stream), expected);
    }
}

class MeetingDetectorOnDisplay : public ::testing::Test {
protected:
    using State = std::pair<std::optional<MeetingDetection>, std::optional<QString>>;
    quint32 window(const char* cls, const QByteArray& title) { return windows.create({ cls, title, {}, true }); }
    bool showAndPoll(quint32 w) { return windows.activate(w) && (detector.poll(), true); }
    State state() const { return { detector.currentDetection(), detector.lastDismissedName() }; }

    TestWindows windows;
    MeetingDetector detector;
};

TEST_F(MeetingDetectorOnDisplay, MonitoringPollsAtOnceThenOnEveryTickUntilStoppedAndDismissalsLastUntilTheFocusMoves)
{
    int published = 0;
    QObject::connect(&detector, &MeetingDetector::currentDetectionChanged, [&] { ++published; });
    ASSERT_TRUE(windows.activate(window("zoom", "Zoom Meeting")));
    detector.startMonitoring(50ms); // polls before it returns
    EXPECT_EQ(std::tuple(detector.isMonitoring(), detector.currentDetection(), published),
        std::tuple(true, std::optional(zoom("Zoom Meeting")), 1));
    ASSERT_TRUE(windows.activate(window("teams-for-linux", "Chat")));
    EXPECT_TRUE(waitUntil([&] { return detector.currentDetection() == teamsByApp("Chat"); }));
    const int before = published;
    EXPECT_TRUE(waitUntil([&] { return published >= before + 2; })) << "every poll publishes, also an unchanged value";

    // Starting again replaces the timer rather than adding one, so one stop silences it.
    detector.startMonitoring(50ms);
    detector.stopMonitoring();
    const int afterStop = published;
    ASSERT_TRUE(windows.activate(window("zoom", "Zoom Meeting")));
    // A second detector on the same interval proves that ticks have come and gone.
    MeetingDetector witness;
    int witnessed = 0;
    QObject::connect(&witness, &MeetingDetector::currentDetectionChanged, [&] { ++witnessed; });
    witness.startMonitoring(50ms);
    ASSERT_TRUE(waitUntil([&] { return witnessed >= 4; }));
    EXPECT_EQ(std::tuple(detector.isMonitoring(), state(), published),
        std::tuple(false, State(teamsByApp("Chat"), std::nullopt), afterStop));

    const quint32 zoomCall = window("zoom", "");
    const State quietZoom { std::nullopt, u"Zoom Meeting"_s }, standup { teamsByApp("Standup | Microsoft Teams"), {} };
    ASSERT_TRUE(showAndPoll(zoomCall));
    detector.dismissCurrentDetection();
    EXPECT_EQ(state(), quietZoom);
    // A browser's title that mentions zoom: the application is the browser, not the title.
    ASSERT_TRUE(showAndPoll(window("Google-chrome", "How to zoom in on a map - Google Chrome")));
    EXPECT_EQ(state(), State()) << "one poll without a meeting ends the suppression";
    ASSERT_TRUE(showAndPoll(zoomCall));
    EXPECT_EQ(detector.currentDetection(), zoom("Zoom Meeting")) << "coming back offers it again";
    detector.dismissCurrentDetection();
    ASSERT_TRUE(showAndPoll(window("teams-for-linux", "Standup | Microsoft Teams")));
    EXPECT_EQ(state(), standup) << "another meeting is offered at once, named by its window";
    // Dismissing with nothing offered forgets the last dismissal, so the next poll offers it again.
    detector.dismissCurrentDetection();
    detector.dismissCurrentDetection();
    detector.poll();
    EXPECT_EQ(state(), standup);

    // Closing every window leaves no active window: nothing is offered, and the dismissal outlives the gap.
    ASSERT_TRUE(showAndPoll(zoomCall));
    detector.dismissCurrentDetection();
    windows.destroyAll();
    detector.poll();
    EXPECT_EQ(state(), quietZoom);
    ASSERT_TRUE(showAndPoll(window("zoom", "Zoom Meeting")));
    EXPECT_EQ(state(), quietZoom);
}

// parecord posing as Zoom on the test desktop's sound server; then the same in a child process inside a
// Wayland session without an X server, where the client's own recording also calls itself Zoom.
TEST(MicrophoneDetection, AMeetingApplicationHoldingTheMicrophoneIsFoundUntilItLetsGo)
{
    QTemporaryDir documents;
    const auto own = makeQuickRecorder(documents.path());
    own->start();
    ASSERT_TRUE(waitUntil([&] { return own->isRecording(); }, 10000));
    MeetingDetector detector;
    detector.startMonitoring(1h); // after its first poll, only the sound server's events make it look again
    const auto found = [&](const std::optional<MeetingDetection>& d) {
        return waitUntil([&] { return detector.currentDetection() == d; }, 10000);
    };
    QProcess zoom;
    zoom.setStandardOutputFile(QProcess::nullDevice());
    zoom.start(u"parecord"_s,
        { u"--raw"_s, u"--property=application.name=Zoom"_s, u"--property=application.process.binary=zoom"_s });
    ASSERT_TRUE(found(MeetingDetection { MeetingApp::zoom, 0.8, u"microphone in use by Zoom"_s, u"Zoom"_s }));
    if (!ChildProcess::isChild()) {
        TestWindows windows;
        ASSERT_TRUE(windows.activate(windows.create({ "teams-for-linux", "Chat", {}, true })));
        detector.poll();
        EXPECT_EQ(detector.currentDetection(), teamsByApp("Chat")) << "the window in front decides first";
        windows.destroyAll();
    }
    zoom.terminate();
    EXPECT_TRUE(found(std::nullopt)) << "the client's own recording is not a meeting";
    own->stopRecording();
    ASSERT_TRUE(waitUntil([&] { return !own->isStoppingRecording(); }, 20000));
    if (ChildProcess::isChild())
        return;

    QProcessEnvironment asZoom;
    asZoom.insert(u"PULSE_PROP_OVERRIDE"_s, u"application.name=Zoom"_s);
    const auto child = ChildProcess::rerunInWaylandSession(asZoom);
    EXPECT_EQ(child.exitCode, 0) << child.output.toStdString();
    EXPECT_FALSE(child.output.contains(QRegularExpression(u"(?i)error|warning|critical"_s)))
        << child.output.toStdString();
}
