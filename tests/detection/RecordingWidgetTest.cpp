#include "APIClient.h"
#include "AudioCaptureManager.h"
#include "Await.h"
#include "DevServerProcess.h"
#include "Endpoints.h"
#include "KeychainService.h"
#include "KeyringTest.h"
#include "RecordingPanel.h"
#include "RecordingPanelController.h"
#include "ScreenDriver.h"
#include "SoundPlayer.h"
#include "TestWindows.h"
#include "UploadPipeline.h"

#include <QDir>
#include <QGuiApplication>
#include <QJsonArray>
#include <QProcess>
#include <QQuickItem>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

#include <limits>
#include <memory>

Q_IMPORT_QML_PLUGIN(Echoquill_UiPlugin)
Q_IMPORT_QML_PLUGIN(Echoquill_WidgetPlugin)

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace ScreenDriver;

namespace {

const QByteArray meetingTitle = "Quarterly planning with the whole product and design group";
// Where the panel sits on the 1280×800 test screen, and how big it is.
const QRect panelAtStart(868, 32, 380, 68);

// Moves and presses the real pointer through the X server, as a user's hand would.
void pointer(const QStringList &arguments)
{
    QProcess process;
    process.start(u"xdotool"_s, arguments);
    ASSERT_TRUE(process.waitForFinished(5000)) << arguments.join(u' ').toStdString();
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
}

void pointerTo(QPoint at, const QStringList &then = {})
{
    pointer(QStringList {u"mousemove"_s, u"--sync"_s, QString::number(at.x()), QString::number(at.y())} + then);
}

// The widget with real stores, a real recorder on the test sound server, the
// real detector on the test display, and the local service as its peer.
class RecordingWidget : public KeyringTest {
protected:
    void SetUp() override
    {
        KeyringTest::SetUp();
        ASSERT_TRUE(windows.isConnected());
        ASSERT_TRUE(server.isRunning());
        Endpoints::setServiceOrigin(server.origin());
    }

    void TearDown() override
    {
        controller.reset();
        APIClient::shared().network().clearConnectionCache();
        KeyringTest::TearDown();
    }

    RecordingPanel *showWidget()
    {
        controller = std::make_unique<RecordingPanelController>(&recorder, &meetings, &detector, &auth,
                                                                &KeychainService::loadToken, timings);
        controller->show();
        RecordingPanel *panel = controller->panel();
        EXPECT_TRUE(panel && panel->rootObject()) << "the widget's QML did not load";
        EXPECT_TRUE(panel && waitUntil([&] { return panel->isExposed(); }));
        return panel;
    }

    [[nodiscard]] QQuickItem *root() const { return controller->panel()->rootObject(); }
    [[nodiscard]] QQuickItem *item(const QString &name) const { return byObjectName(root(), name); }
    [[nodiscard]] bool shows(const QString &text) const { return byText(root(), text) != nullptr; }
    [[nodiscard]] QQuickItem *capsule() const { return root()->findChild<QQuickItem *>(u"capsule"_s); }
    [[nodiscard]] bool settledIn(const QString &state) const
    {
        return controller->stateName() == state && capsule()->width() == controller->capsuleWidth();
    }
    // An item's centre on the screen.
    [[nodiscard]] QPoint onScreen(QQuickItem *target) const
    {
        return controller->panel()->mapToGlobal(
            target->mapToScene(QPointF(target->width() / 2, target->height() / 2)).toPoint());
    }
    // The pointer rests on the capsule; returns whether the close button is then offered.
    [[nodiscard]] bool hoverOffersClose() const
    {
        QTest::mouseMove(controller->panel(), onScreen(capsule()) - controller->panel()->position());
        EXPECT_TRUE(waitUntil([&] { return root()->property("isHovering").toBool(); }));
        return root()->findChild<QQuickItem *>(u"closeButton"_s)->property("shown").toBool();
    }
    // Lets the controller act on every signal sent so far; it handles them queued.
    void handleQueued()
    {
        bool handled = false;
        QMetaObject::invokeMethod(controller.get(), [&] { handled = true; }, Qt::QueuedConnection);
        ASSERT_TRUE(waitUntil([&] { return handled; }));
    }
    quint32 activate(const char *windowClass, const QByteArray &title)
    {
        const quint32 window = windows.create({windowClass, title, std::nullopt, true});
        EXPECT_TRUE(windows.activate(window));
        return window;
    }

    TestWindows windows;
    DevServerProcess server {{u"--processing-seconds"_s, u"1"_s}};
    UploadPipeline pipeline {server.url(u"/blob/"_s).toString(), {3, 0.05}};
    // A silent source is pointed out after two seconds; a test may ask for more free disk than there is.
    DiskLimits disk;
    AudioRecorder recorder {[this] {
                                CaptureTimings timings;
                                timings.silenceWarningAfter = 2s;
                                auto manager = std::make_unique<AudioCaptureManager>(timings);
                                manager->setDiskLimits(disk);
                                return manager;
                            },
                            &pipeline};
    MeetingStore meetings {&KeychainService::loadToken, {10ms, 10ms, 200ms, 60}};
    MeetingDetector detector;
    AuthStore auth;
    RecordingPanelController::Timings timings {1500ms};
    std::unique_ptr<RecordingPanelController> controller;
};

}

TEST_F(RecordingWidget, FloatsWithoutFocusClosesUntilAMeetingOffersItselfAndMovesWhenDragged)
{
    const quint32 notes = activate("Gedit", "Notes");
    RecordingPanel *panel = showWidget();
    ASSERT_TRUE(panel);
    const auto id = quint32(panel->winId());

    const Qt::WindowFlags floating
        = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus;
    EXPECT_EQ(panel->flags() & floating, floating);
    EXPECT_EQ(panel->color().alpha(), 0) << "only the capsule is drawn";
    const auto placedAtStart = [&] {
        EXPECT_TRUE(waitUntil([&] { return windows.geometry(id) == panelAtStart; }))
            << "at " << windows.geometry(id).x() << "," << windows.geometry(id).y();
        EXPECT_EQ(windows.property32(id, "_NET_WM_DESKTOP"), QList<quint32> {0xFFFFFFFF}) << "on every desktop";
        EXPECT_TRUE(windows.property32(id, "_NET_WM_STATE").contains(windows.atom("_NET_WM_STATE_ABOVE")));
    };
    placedAtStart();
    ASSERT_TRUE(windows.windowManagerRoundTrip());
    EXPECT_EQ(windows.activeWindow(), notes) << "the window that had the focus keeps it";
    EXPECT_NE(QGuiApplication::focusWindow(), panel);

    // Outside the capsule the panel is cut away: the idle capsule is 165 wide, centred, 56 high.
    ASSERT_TRUE(waitUntil([&] { return settledIn(u"idle"_s); }));
    EXPECT_TRUE(shows(u"RECORD"_s));
    EXPECT_TRUE(panel->mask().contains(QPoint(190, 34)));
    EXPECT_TRUE(panel->mask().contains(QPoint(140, 10)));
    EXPECT_FALSE(panel->mask().contains(QPoint(20, 34))) << "beside the capsule";
    EXPECT_FALSE(panel->mask().contains(QPoint(109, 8))) << "in the capsule's rounded corner";
    grab(panel, u"widget-idle"_s);

    // Closing: the button shows on hover only, and is part of the panel's shape.
    QQuickItem *close = root()->findChild<QQuickItem *>(u"closeButton"_s);
    EXPECT_FALSE(close->isVisible());
    EXPECT_TRUE(hoverOffersClose());
    ASSERT_TRUE(waitUntil([&] { return close->isVisible() && close->opacity() == 1; }));
    EXPECT_TRUE(panel->mask().contains(onScreen(close) - panel->position()));
    click(panel, close);
    ASSERT_TRUE(waitUntil([&] { return !panel->isVisible(); }));
    EXPECT_TRUE(controller->isManuallyDismissed());
    detector.poll();
    handleQueued();
    EXPECT_FALSE(panel->isVisible()) << "nothing to offer: it stays closed";

    // A meeting brings it back, where it was and on every desktop, with the meeting's name.
    const quint32 meeting = activate("zoom", meetingTitle);
    detector.poll();
    ASSERT_TRUE(waitUntil([&] { return panel->isVisible(); }));
    EXPECT_FALSE(controller->isManuallyDismissed());
    placedAtStart();
    ASSERT_TRUE(waitUntil([&] { return settledIn(u"detected"_s); })) << capsule()->width();
    EXPECT_EQ(capsule()->width(), 368);
    EXPECT_TRUE(shows(u"MEETING DETECTED"_s));
    EXPECT_FALSE(shows(u"RECORD"_s));
    EXPECT_TRUE(shows(u"Record"_s));
    EXPECT_TRUE(item(u"glowEdge"_s));
    QQuickItem *name = item(u"meetingName"_s);
    ASSERT_TRUE(name);
    EXPECT_EQ(name->property("text").toString(), QString::fromUtf8(meetingTitle));
    EXPECT_LE(name->width(), 150);
    EXPECT_TRUE(name->property("truncated").toBool()) << "a long name ends in an ellipsis";
    grab(panel, u"widget-detected"_s);

    // The real pointer on the cross: the offer goes, the widget stays, the meeting keeps the focus.
    pointerTo(onScreen(item(u"dismissDetectionButton"_s)), {u"click"_s, u"1"_s});
    ASSERT_TRUE(waitUntil([&] { return controller->stateName() == u"idle"_s; }));
    EXPECT_EQ(detector.lastDismissedName(), QString::fromUtf8(meetingTitle));
    EXPECT_FALSE(controller->isManuallyDismissed());
    EXPECT_EQ(windows.activeWindow(), meeting);
    detector.poll();
    handleQueued();
    EXPECT_EQ(controller->stateName(), u"idle"_s) << "the same meeting is not offered again while in front";
    EXPECT_TRUE(panel->isVisible());

    // A press on the record button that moves a few points is a drag, from where the window follows the pointer.
    ASSERT_TRUE(waitUntil([&] { return settledIn(u"idle"_s); }));
    const QPoint from = onScreen(item(u"recordButton"_s));
    pointerTo(from, {u"mousedown"_s, u"1"_s});
    waitUntil([] { return false; }, 200);
    for (int step = 0; step <= 4; ++step) {
        pointerTo(from - QPoint(4, 0) + QPoint(-30, 25) * step);
        waitUntil([] { return false; }, 50);
    }
    pointer({u"mouseup"_s, u"1"_s});
    ASSERT_TRUE(waitUntil([&] { return windows.geometry(id).topLeft() == panelAtStart.topLeft() + QPoint(-120, 100); }))
        << "at " << windows.geometry(id).x() << "," << windows.geometry(id).y();
    EXPECT_FALSE(recorder.isRecording()) << "a drag is not a press of the record button";
}

TEST_F(RecordingWidget, RecordingsToDiskAndToTheServiceEndSaved)
{
    activate("Gedit", "Notes");
    RecordingPanel *panel = showWidget();
    ASSERT_TRUE(panel);
    ASSERT_TRUE(waitUntil([&] { return settledIn(u"idle"_s); }));
    // Too little free disk: the press is refused and the widget says why.
    disk.minimumFreeBytes = std::numeric_limits<qint64>::max();
    click(panel, item(u"recordButton"_s));
    ASSERT_TRUE(waitUntil([&] { return controller->stateName() == u"notice"_s; }, 10000));
    EXPECT_TRUE(shows(u"Not enough disk space to record"_s));
    EXPECT_FALSE(recorder.isRecording());
    disk = {};
    controller->dismiss();
    ASSERT_TRUE(waitUntil([&] { return !panel->isVisible(); }));

    // Started elsewhere, as the home screen would: the closed widget comes back.
    recorder.start();
    ASSERT_TRUE(waitUntil([&] { return panel->isVisible(); }, 10000));
    EXPECT_FALSE(controller->isManuallyDismissed());
    ASSERT_TRUE(waitUntil([&] { return settledIn(u"recording"_s); }, 10000));
    EXPECT_EQ(capsule()->width(), 300);
    EXPECT_TRUE(shows(u"REC"_s));
    EXPECT_FALSE(hoverOffersClose()) << "never while it records";
    // Nothing reaches the microphone: the widget says so where the level would be.
    ASSERT_TRUE(waitUntil([&] { return item(u"captureWarning"_s) != nullptr; }, 10000));
    EXPECT_TRUE(shows(u"Microphone is silent"_s));
    EXPECT_FALSE(item(u"waveform"_s)) << "in place of the level bars";

    // Without a stored token it stops to disk only: "Saved", and nothing goes out.
    click(panel, item(u"stopButton"_s));
    EXPECT_EQ(controller->stateName(), u"saved"_s);
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_TRUE(meetings.pendingUploads().isEmpty());
    EXPECT_FALSE(hoverOffersClose()) << "nor while it says Saved";
    ASSERT_TRUE(waitUntil([&] { return controller->stateName() == u"idle"_s; }, 3000));
    EXPECT_TRUE(hoverOffersClose()) << "once idle again the widget can be closed";
    ASSERT_TRUE(waitUntil([&] { return !recorder.isStoppingRecording(); }, 20000));
    EXPECT_TRUE(server.control("GET", "/__dev/requests?path=/*").toArray().isEmpty()) << "nothing went out";

    // With a token, from the offer of the meeting in front.
    const SoundPlayer voice = SoundPlayer::tone(u"micfeed"_s, 60);
    KeychainService::saveToken(server.signIn());
    const quint32 meeting = activate("zoom", meetingTitle);
    detector.poll();
    ASSERT_TRUE(waitUntil([&] { return settledIn(u"detected"_s); }));
    controller->stop();
    EXPECT_TRUE(meetings.pendingUploads().isEmpty()) << "no recording, nothing to upload";
    EXPECT_EQ(controller->stateName(), u"detected"_s);

    click(panel, item(u"detectionRecordButton"_s));
    ASSERT_TRUE(waitUntil([&] { return recorder.isRecording(); }, 10000));
    ASSERT_TRUE(waitUntil([&] { return settledIn(u"recording"_s); }));
    EXPECT_FALSE(shows(u"MEETING DETECTED"_s)) << "a recording outranks the offer";
    EXPECT_EQ(windows.activeWindow(), meeting) << "recording takes no focus";

    // The time rises second by second in digits of one width.
    QQuickItem *time = item(u"duration"_s);
    ASSERT_TRUE(time);
    EXPECT_EQ(time->property("text").toString(), recorder.formattedDuration());
    const qreal width = time->implicitWidth();
    ASSERT_TRUE(waitUntil([&] { return time->property("text").toString() == u"00:01"_s; }, 5000));
    EXPECT_EQ(time->implicitWidth(), width);

    // The bars follow the microphone above their floor, and the speaker shows the system sound is taken.
    ASSERT_TRUE(waitUntil([&] { return recorder.audioLevel() > 0.2f; }, 5000));
    const QList<qreal> heights = item(u"waveform"_s)->property("heights").value<QList<qreal>>();
    ASSERT_EQ(heights.size(), 7);
    EXPECT_GT(heights[2], 4 + 18 * 0.12);
    EXPECT_EQ(heights, RecordingWidgetLayout::barHeights(recorder.audioLevel(),
                                                         RecordingWidgetLayout::recordingMultipliers(), 7, 4, 22));
    EXPECT_TRUE(recorder.systemAudioAvailable());
    EXPECT_TRUE(item(u"systemAudio"_s)->property("available").toBool());
    grab(panel, u"widget-recording"_s);

    const QString second = QDir(*recorder.currentFileURL()).dirName();
    const double duration = recorder.duration();
    click(panel, item(u"stopButton"_s));
    EXPECT_EQ(controller->stateName(), u"saved"_s);
    ASSERT_EQ(meetings.pendingUploads().size(), 1);
    const PendingUpload pending = meetings.pendingUploads().first();
    EXPECT_EQ(pending.fileName, second);
    EXPECT_GE(pending.duration, duration);
    EXPECT_GE(pending.duration, 1.0);
    ASSERT_TRUE(waitUntil([&] { return settledIn(u"saved"_s); }));
    EXPECT_TRUE(shows(u"Saved"_s));
    EXPECT_EQ(capsule()->width(), 165);
    grab(panel, u"widget-saved"_s);
    // "Saved" lasts its time; the meeting is still in front and is offered again.
    ASSERT_TRUE(waitUntil([&] { return controller->stateName() == u"detected"_s; }, 3000));

    // The pending upload was handed the stored token and goes all the way.
    EXPECT_TRUE(waitUntil([&] { return meetings.pendingUpload(pending.id)->status == UploadStatus::done(); }, 30000))
        << meetings.pendingUpload(pending.id)->status.label().toStdString();
}
