#include "APIClient.h"
#include "Await.h"
#include "ChildProcess.h"
#include "DevServerProcess.h"
#include "Endpoints.h"
#include "KeychainService.h"
#include "KeyringTest.h"
#include "QuickRecorder.h"
#include "RecordingLibrary.h"
#include "RecordingPanel.h"
#include "RecordingPanelController.h"
#include "ScreenDriver.h"
#include "SoundPlayer.h"
#include "TestWindows.h"
#include "UploadPipeline.h"

#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QQuickItem>
#include <QSignalSpy>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

Q_IMPORT_QML_PLUGIN(Echoquill_UiPlugin)
Q_IMPORT_QML_PLUGIN(Echoquill_WidgetPlugin)

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace ScreenDriver;

namespace {

const QByteArray meetingTitle = "Quarterly planning with the whole product and design group";
const QRect panelAtStart(868, 32, 380, 68);

// Moves and presses the real pointer through the X server, as a user's hand would.
void pointer(const QStringList& arguments)
{
    QProcess process;
    process.start(u"xdotool"_s, arguments);
    ASSERT_TRUE(process.waitForFinished(5000)) << arguments.join(u' ').toStdString();
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
}

void pointerTo(QPoint at, const QStringList& then = {})
{
    pointer(QStringList { u"mousemove"_s, u"--sync"_s, QString::number(at.x()), QString::number(at.y()) } + then);
}

// The widget with real stores, recorder (test sound server), detector (test display) and the local service.
class RecordingWidget : public KeyringTest {
protected:
    void SetUp() override
    {
        KeyringTest::SetUp();
        ASSERT_TRUE(windows.isConnected() && server.isRunning());
        Endpoints::setServiceOrigin(server.origin());
        notes = windows.create({ "Gedit", "Notes", std::nullopt, true });
        ASSERT_TRUE(windows.activate(notes));
        controller = std::make_unique<RecordingPanelController>(&recorder, &library, &detector, &auth, timings);
        controller->show();
        panel = controller->panel();
        ASSERT_TRUE(panel && panel->rootObject()) << "the widget's QML did not load";
        ASSERT_TRUE(waitUntil([&] { return panel->isExposed(); }));
    }

    void TearDown() override
    {
        controller.reset();
        APIClient::shared().network().clearConnectionCache();
        KeyringTest::TearDown();
    }

    [[nodiscard]] QQuickItem* root() const { return controller->panel()->rootObject(); }
    [[nodiscard]] QQuickItem* item(const QString& name) const { return byObjectName(root(), name); }
    [[nodiscard]] bool shows(const QString& text) const { return byText(root(), text) != nullptr; }
    [[nodiscard]] QQuickItem* capsule() const { return root()->findChild<QQuickItem*>(u"capsule"_s); }
    [[nodiscard]] bool settledIn(const QString& state) const
    {
        return controller->stateName() == state && capsule()->width() == controller->capsuleWidth();
    }
    [[nodiscard]] QPoint onScreen(QQuickItem* i) const { return i->mapToGlobal(i->boundingRect().center()).toPoint(); }
    [[nodiscard]] bool hoverOffersClose() const
    {
        QTest::mouseMove(controller->panel(), onScreen(capsule()) - controller->panel()->position());
        EXPECT_TRUE(waitUntil([&] { return root()->property("isHovering").toBool(); }));
        return root()->findChild<QQuickItem*>(u"closeButton"_s)->property("shown").toBool();
    }
    // The controller handles the detector's signals queued: let it act on them.
    void pollDetector()
    {
        detector.poll();
        bool handled = false;
        QMetaObject::invokeMethod(
            controller.get(), [&] { handled = true; }, Qt::QueuedConnection);
        ASSERT_TRUE(waitUntil([&] { return handled; }));
    }

    TestWindows windows;
    DevServerProcess server;
    UploadPipeline pipeline { server.url(u"/blob/"_s).toString(), { 3, 0.05 } };
    // A silent source is pointed out after two seconds; a test may ask for more free disk than there is.
    DiskLimits disk;
    AudioRecorder recorder { captureManagers({}, { .silenceWarningAfter = 2s }, {}, &disk) };
    // Signed in while the keychain holds a token.
    RecordingLibrary library { &recorder,
        [] {
            return KeychainService::loadToken() ? std::optional(SessionJournal::Owner { u"me"_s, u"me@x"_s })
                                                : std::nullopt;
        },
        &KeychainService::loadToken, {}, &pipeline, { 10ms, 10ms, 200ms, 60 } };
    MeetingDetector detector;
    AuthStore auth;
    RecordingPanelController::Timings timings { 1500ms, 300ms };
    std::unique_ptr<RecordingPanelController> controller;
    RecordingPanel* panel = nullptr;
    quint32 notes = 0;
};

}

TEST_F(RecordingWidget, FloatsWithoutFocusClosesUntilAMeetingOffersItselfAndMovesWhenDragged)
{
    const auto id = quint32(panel->winId());

    const Qt::WindowFlags floating
        = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus;
    EXPECT_EQ(std::pair(panel->flags() & floating, panel->color().alpha()), std::pair(floating, 0)) << "capsule only";
    const auto placedAtStart = [&] {
        EXPECT_TRUE(waitUntil([&] { return windows.geometry(id) == panelAtStart; }));
        EXPECT_EQ(windows.property32(id, "_NET_WM_DESKTOP"), QList<quint32> { 0xFFFFFFFF }) << "on every desktop";
        EXPECT_TRUE(windows.property32(id, "_NET_WM_STATE").contains(windows.atom("_NET_WM_STATE_ABOVE")));
    };
    placedAtStart();
    ASSERT_TRUE(windows.windowManagerRoundTrip());
    EXPECT_EQ(std::pair(windows.activeWindow(), QGuiApplication::focusWindow() == panel), std::pair(notes, false));

    // Outside the capsule the panel is cut away: the idle capsule is 165 wide, centred, 56 high.
    ASSERT_TRUE(waitUntil([&] { return settledIn(u"idle"_s); }));
    const QRegion shape = panel->mask();
    EXPECT_EQ(QList<bool>({ shows(u"RECORD"_s), shape.contains(QPoint(190, 34)), shape.contains(QPoint(140, 10)),
                  shape.contains(QPoint(20, 34)), shape.contains(QPoint(109, 8)) }),
        QList<bool>({ true, true, true, false, false }))
        << "RECORD; inside; beside it; in its rounded corner";

    QQuickItem* close = root()->findChild<QQuickItem*>(u"closeButton"_s);
    EXPECT_TRUE(!close->isVisible() && hoverOffersClose()) << "hidden until hovered";
    ASSERT_TRUE(waitUntil([&] { return close->isVisible() && close->opacity() == 1; }));
    EXPECT_TRUE(panel->mask().contains(onScreen(close) - panel->position()));
    click(panel, close);
    ASSERT_TRUE(waitUntil([&] { return !panel->isVisible(); }));
    pollDetector();
    EXPECT_EQ(std::pair(panel->isVisible(), controller->isManuallyDismissed()), std::pair(false, true))
        << "nothing to offer: it stays closed";

    const quint32 meeting = windows.create({ "zoom", meetingTitle, std::nullopt, true });
    ASSERT_TRUE(windows.activate(meeting));
    detector.poll();
    ASSERT_TRUE(waitUntil([&] { return panel->isVisible() && settledIn(u"detected"_s); })) << capsule()->width();
    placedAtStart();
    ASSERT_EQ(std::tuple(capsule()->width(), shows(u"MEETING DETECTED"_s), shows(u"RECORD"_s), shows(u"Record"_s),
                  controller->isManuallyDismissed(), item(u"glowEdge"_s) && item(u"meetingName"_s)),
        std::tuple(368.0, true, false, true, false, true));
    QQuickItem* name = item(u"meetingName"_s);
    EXPECT_EQ(std::tuple(name->property("text").toString(), name->width() <= 150, name->property("truncated").toBool()),
        std::tuple(QString::fromUtf8(meetingTitle), true, true))
        << "a long name ends in an ellipsis";

    // Closed with the meeting in front, it stays closed poll after poll; another meeting brings it back.
    controller->dismiss();
    ASSERT_TRUE(waitUntil([&] { return !panel->isVisible(); }));
    for (int poll = 0; poll < 5; ++poll)
        pollDetector();
    EXPECT_FALSE(panel->isVisible()) << "the same meeting assigned again is not a new one";
    ASSERT_TRUE(windows.activate(windows.create({ "teams-for-linux", "Standup", std::nullopt, true })));
    detector.poll();
    ASSERT_TRUE(waitUntil([&] { return panel->isVisible(); }));
    ASSERT_TRUE(windows.activate(meeting));
    pollDetector();

    pointerTo(onScreen(item(u"dismissDetectionButton"_s)), { u"click"_s, u"1"_s });
    ASSERT_TRUE(waitUntil([&] { return controller->stateName() == u"idle"_s; }));
    EXPECT_EQ(std::tuple(detector.lastDismissedName(), controller->isManuallyDismissed(), windows.activeWindow()),
        std::tuple(std::optional(QString::fromUtf8(meetingTitle)), false, meeting));
    pollDetector();
    EXPECT_EQ(std::pair(controller->stateName(), panel->isVisible()), std::pair(u"idle"_s, true))
        << "the same meeting is not offered again while in front";

    // A press on the record button that moves a few points is a drag, from where the window follows the pointer.
    ASSERT_TRUE(waitUntil([&] { return settledIn(u"idle"_s); }));
    const QPoint from = onScreen(item(u"recordButton"_s));
    QQuickItem* dragArea = item(u"recordButton"_s)->childItems().last(); // the area over the whole button
    QSignalSpy starts(&recorder, &AudioRecorder::isStartingRecordingChanged); // a start flags itself at once
    pointerTo(from, { u"mousedown"_s, u"1"_s });
    ASSERT_TRUE(waitUntil([&] { return dragArea->property("pressed").toBool(); }));
    for (int step = 0; step <= 4; ++step)
        pointerTo(from - QPoint(4, 0) + QPoint(-30, 25) * step), waitUntil([] { return false; }, 50);
    pointer({ u"mouseup"_s, u"1"_s });
    const auto released = [&] { return !dragArea->property("pressed").toBool(); }; // the release was handled
    ASSERT_TRUE(waitUntil([&] { return released() && windows.geometry(id).topLeft() == QPoint(748, 132); }))
        << "at " << windows.geometry(id).x() << "," << windows.geometry(id).y();
    EXPECT_EQ(starts.count(), 0) << "a drag is not a press of the record button";
}

// In a GNOME session the client goes through its XWayland, where mutter keeps the widget above X11 and Wayland
// windows alike; screenshots of both cases are left in the artifacts folder.
TEST_F(RecordingWidget, FloatsAboveMeetingsOnWaylandThroughXWayland)
{
    if (!ChildProcess::isChild()) {
        // Our own widget and windows would stand over mutter's window in the screenshots.
        controller.reset(), windows.destroyAll();
        const auto child = ChildProcess::rerunInGnomeSession();
        EXPECT_EQ(child.exitCode, 0) << child.output.toStdString();
        return;
    }
    ASSERT_EQ(QGuiApplication::platformName().toStdString(), "xcb");
    const QDir artifacts(QStringLiteral(EQ_ARTIFACTS_DIR));
    ASSERT_TRUE(artifacts.mkpath(u"."_s));
    const quint32 meeting = windows.create({ "zoom", meetingTitle, std::nullopt, true });
    ASSERT_TRUE(windows.activate(meeting));
    detector.poll();
    ASSERT_TRUE(waitUntil([&] { return settledIn(u"detected"_s); }));
    const auto id = quint32(panel->winId());
    EXPECT_TRUE(waitUntil([&] { return windows.geometry(id) == panelAtStart; }));
    EXPECT_TRUE(windows.property32(id, "_NET_WM_STATE").contains(windows.atom("_NET_WM_STATE_ABOVE")));
    ASSERT_TRUE(windows.windowManagerRoundTrip());
    EXPECT_EQ(std::pair(windows.activeWindow(), windows.stacking().indexOf(id) > windows.stacking().indexOf(meeting)),
        std::pair(meeting, true));
    EXPECT_TRUE(ChildProcess::screenshot(artifacts.filePath(u"widget-above-x11-meeting.png"_s)));

    // A meeting tab of a browser on Wayland itself, filling the screen, active once the X11 windows are gone.
    QProcess browser;
    browser.start(QCoreApplication::applicationFilePath(),
        { u"-platform"_s, u"wayland"_s, u"--window"_s, u"Meet - Weekly sync"_s });
    ASSERT_TRUE(waitUntil([&] { return browser.canReadLine(); }, 20000)) << "the window is on the screen";
    windows.destroyAll();
    ASSERT_TRUE(waitUntil([&] { return windows.activeWindow() == 0 && windows.stacking() == QList { id }; }))
        << "no X11 window but the widget is left then";
    EXPECT_TRUE(ChildProcess::screenshot(artifacts.filePath(u"widget-above-wayland-meeting.png"_s),
        [](const QImage& screen) { return screen.pixelColor(screen.rect().center()) == QColor(0x1b5e20); }));
    browser.terminate();
    browser.waitForFinished();
}

TEST_F(RecordingWidget, RecordingsToDiskAndToTheServiceEndSaved)
{
    ASSERT_TRUE(waitUntil([&] { return settledIn(u"idle"_s); }));
    disk.minimumFreeBytes = std::numeric_limits<qint64>::max();
    click(panel, item(u"recordButton"_s));
    ASSERT_TRUE(waitUntil([&] { return controller->stateName() == u"notice"_s; }, 10000));
    EXPECT_EQ(std::pair(shows(u"Not enough disk space to record"_s), recorder.isRecording()), std::pair(true, false));
    disk = {};
    controller->dismiss();
    ASSERT_TRUE(waitUntil([&] { return !panel->isVisible(); }));

    recorder.start();
    ASSERT_TRUE(waitUntil([&] { return panel->isVisible() && settledIn(u"recording"_s); }, 10000));
    EXPECT_EQ(std::tuple(capsule()->width(), shows(u"REC"_s), controller->isManuallyDismissed()),
        std::tuple(300.0, true, false));
    const auto bars
        = [&] { return root()->findChild<QQuickItem*>(u"waveform"_s)->property("heights").value<QList<qreal>>(); };
    const QList<qreal> quiet = bars();
    ASSERT_TRUE(waitUntil([&] { return item(u"captureWarning"_s) != nullptr; }, 10000));
    EXPECT_EQ(std::tuple(shows(u"Microphone is silent"_s), item(u"waveform"_s) != nullptr, hoverOffersClose()),
        std::tuple(true, false, false))
        << "in place of the level bars; no closing while it records";

    // Without a stored token it stops to disk only: "Saved", and nothing goes out.
    click(panel, item(u"stopButton"_s));
    EXPECT_EQ(
        std::tuple(controller->stateName(), recorder.isRecording(), library.cards().isEmpty(), hoverOffersClose()),
        std::tuple(u"saved"_s, false, true, false))
        << "nor while it says Saved";
    ASSERT_TRUE(waitUntil([&] { return controller->stateName() == u"idle"_s; }, 3000));
    EXPECT_TRUE(hoverOffersClose()) << "once idle again the widget can be closed";
    ASSERT_TRUE(waitUntil([&] { return !recorder.isStoppingRecording(); }, 20000));
    EXPECT_TRUE(server.requests(u"/*"_s).isEmpty()) << "nothing went out";

    // With a token, from the offer of the meeting in front.
    const SoundPlayer voice = SoundPlayer::tone(u"micfeed"_s, 60, 440, -22); // RMS 0.056: the bars get 4 x, 0.22
    KeychainService::saveToken(server.signIn());
    const quint32 meeting = windows.create({ "zoom", meetingTitle, std::nullopt, true });
    ASSERT_TRUE(windows.activate(meeting));
    detector.poll();
    ASSERT_TRUE(waitUntil([&] { return settledIn(u"detected"_s); }));
    controller->stop();
    EXPECT_EQ(std::pair(controller->stateName(), library.cards().isEmpty()), std::pair(u"detected"_s, true));

    click(panel, item(u"detectionRecordButton"_s));
    ASSERT_TRUE(waitUntil([&] { return recorder.isRecording() && settledIn(u"recording"_s); }, 10000));
    EXPECT_TRUE(!shows(u"MEETING DETECTED"_s) && windows.activeWindow() == meeting)
        << "a recording outranks the offer and takes no focus";

    QQuickItem* time = item(u"duration"_s);
    ASSERT_TRUE(time && time->property("text").toString() == recorder.formattedDuration());
    const qreal width = time->implicitWidth();
    EXPECT_TRUE(waitUntil([&] { return time->property("text") == u"00:01"_s && time->implicitWidth() == width; }));

    const auto level = [&] { return root()->findChild<QQuickItem*>(u"waveform"_s)->property("level").toDouble(); };
    ASSERT_TRUE(waitUntil([&] { return std::abs(level() - 0.2247) < 0.04; }, 5000)) << level();
    EXPECT_EQ(std::pair(recorder.systemAudioAvailable(), item(u"systemAudio"_s)->property("available").toBool()),
        std::pair(true, true));
    for (int bar = 0; bar < 7; ++bar)
        EXPECT_GT(bars().value(bar), quiet.value(bar)) << "bar " << bar << " rises with the level";

    // Its window closes: a while later the widget offers to stop, which stops like the stop button.
    windows.destroy(meeting);
    detector.poll();
    ASSERT_TRUE(waitUntil([&] { return shows(u"Meeting ended · Stop"_s) && settledIn(u"recording"_s); }));
    EXPECT_EQ(std::pair(recorder.isRecording(), capsule()->width()), std::pair(true, 368.0));
    const QString second = QDir(*recorder.sessionFolder()).dirName();
    const double duration = recorder.duration();
    click(panel, item(u"meetingEndedStop"_s));
    ASSERT_EQ(library.cards().size(), 1);
    const PendingUpload pending = library.cards().first();
    EXPECT_EQ(std::tuple(controller->stateName(), pending.fileName, pending.duration >= std::max(duration, 1.0)),
        std::tuple(u"saved"_s, second, true));
    ASSERT_TRUE(waitUntil([&] { return settledIn(u"saved"_s); }));
    EXPECT_EQ(std::pair(shows(u"Saved"_s), capsule()->width()), std::pair(true, 165.0));
    ASSERT_TRUE(waitUntil([&] { return controller->stateName() == u"idle"_s; }, 3000));
}
