#include "APIClient.h"
#include "AudioCaptureManager.h"
#include "AudioRecorder.h"
#include "Await.h"
#include "AuthStore.h"
#include "DevServerProcess.h"
#include "Endpoints.h"
#include "KeychainService.h"
#include "KeyringTest.h"
#include "MeetingDetector.h"
#include "MeetingStore.h"
#include "RecordingPanel.h"
#include "RecordingPanelController.h"
#include "RecordingWidgetLayout.h"
#include "ScreenDriver.h"
#include "SoundPlayer.h"
#include "TestWindows.h"
#include "UploadPipeline.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QPixmap>
#include <QProcess>
#include <QQuickItem>
#include <QScreen>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

#include <memory>

Q_IMPORT_QML_PLUGIN(Echoquill_UiPlugin)
Q_IMPORT_QML_PLUGIN(Echoquill_WidgetPlugin)

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace ScreenDriver;

namespace {

const QByteArray notesTitle = "Notes";
const QByteArray meetingTitle = "Quarterly planning with the whole product and design group";

// Presses and releases the real pointer through the X server, as a user's hand would.
void xdotool(const QStringList &arguments)
{
    QProcess process;
    process.start(u"xdotool"_s, arguments);
    ASSERT_TRUE(process.waitForFinished(5000)) << arguments.join(u' ').toStdString();
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
}

// The whole screen as the X server shows it, next to the window grabs in the artifacts.
void grabScreen(const QString &name)
{
    QString dir = qEnvironmentVariable("ECHOQUILL_ARTIFACTS");
    if (dir.isEmpty())
        dir = QStringLiteral(ECHOQUILL_ARTIFACTS_DIR);
    QDir().mkpath(dir);
    const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    EXPECT_TRUE(screen.save(dir + u'/' + name + u".png"_s)) << name.toStdString();
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
    [[nodiscard]] qreal capsuleWidth() const { return root()->findChild<QQuickItem *>(u"capsule"_s)->width(); }
    [[nodiscard]] bool settledIn(const QString &state) const
    {
        return controller->stateName() == state && capsuleWidth() == controller->capsuleWidth();
    }
    // An item's centre on the screen.
    [[nodiscard]] QPoint onScreen(QQuickItem *target) const
    {
        return controller->panel()->mapToGlobal(
            target->mapToScene(QPointF(target->width() / 2, target->height() / 2)).toPoint());
    }
    void hover(QQuickItem *target) const
    {
        QTest::mouseMove(controller->panel(),
                         target->mapToScene(QPointF(target->width() / 2, target->height() / 2)).toPoint());
    }
    [[nodiscard]] bool closeButtonShows() const
    {
        QQuickItem *close = root()->findChild<QQuickItem *>(u"closeButton"_s);
        return close->isVisible() && close->opacity() > 0;
    }
    quint32 activateMeeting()
    {
        const quint32 window = windows.create({"zoom", meetingTitle, std::nullopt, true});
        EXPECT_TRUE(windows.activate(window));
        return window;
    }
    quint32 activateNotes()
    {
        const quint32 window = windows.create({"Gedit", notesTitle, std::nullopt, true});
        EXPECT_TRUE(windows.activate(window));
        return window;
    }
    [[nodiscard]] QJsonArray requests(const QString &path)
    {
        return server.control("GET", ("/__dev/requests?path=" + path).toStdString()).toArray();
    }

    TestWindows windows;
    DevServerProcess server {{u"--processing-seconds"_s, u"1"_s}};
    UploadPipeline pipeline {server.url(u"/blob/"_s).toString(), {3, 0.05}};
    AudioRecorder recorder {[] { return std::make_unique<AudioCaptureManager>(); }, &pipeline};
    MeetingStore meetings {&KeychainService::loadToken, {10ms, 10ms, 200ms, 60}};
    MeetingDetector detector;
    AuthStore auth;
    RecordingPanelController::Timings timings {1500ms};
    std::unique_ptr<RecordingPanelController> controller;
};

}

TEST_F(RecordingWidget, FloatsAtTheTopRightOfEveryDesktopAndLeavesTheFocusAlone)
{
    const quint32 notes = activateNotes();
    RecordingPanel *panel = showWidget();
    ASSERT_TRUE(panel);
    const auto id = quint32(panel->winId());

    const Qt::WindowFlags floating
        = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus;
    EXPECT_EQ(panel->flags() & floating, floating);
    EXPECT_EQ(panel->color().alpha(), 0) << "only the capsule is drawn";
    ASSERT_TRUE(waitUntil([&] { return windows.geometry(id) == QRect(868, 32, 380, 68); }))
        << "at " << windows.geometry(id).x() << "," << windows.geometry(id).y();

    EXPECT_EQ(windows.property32(id, "_NET_WM_DESKTOP"), QList<quint32> {0xFFFFFFFF}) << "on every desktop";
    EXPECT_TRUE(windows.property32(id, "_NET_WM_STATE").contains(windows.atom("_NET_WM_STATE_ABOVE")));

    waitUntil([] { return false; }, 300);
    EXPECT_EQ(windows.activeWindow(), notes) << "the window that had the focus keeps it";
    EXPECT_NE(QGuiApplication::focusWindow(), panel);

    // Outside the capsule the panel is cut away: the idle capsule is 165 wide, centred, 56 high.
    ASSERT_TRUE(waitUntil([&] { return settledIn(u"idle"_s); }));
    const QRegion shape = panel->mask();
    EXPECT_TRUE(shape.contains(QPoint(190, 34)));
    EXPECT_TRUE(shape.contains(QPoint(140, 10)));
    EXPECT_FALSE(shape.contains(QPoint(20, 34))) << "beside the capsule";
    EXPECT_FALSE(shape.contains(QPoint(109, 8))) << "in the capsule's rounded corner";
    EXPECT_TRUE(shows(u"RECORD"_s));
}

TEST_F(RecordingWidget, ADetectedMeetingIsOfferedByNameAndTheCrossLeavesTheIdleWidget)
{
    RecordingPanel *panel = showWidget();
    ASSERT_TRUE(panel);
    ASSERT_TRUE(waitUntil([&] { return settledIn(u"idle"_s); }));
    grab(panel, u"widget-idle"_s);

    const quint32 meeting = activateMeeting();
    detector.poll();
    ASSERT_TRUE(detector.currentDetection());
    EXPECT_EQ(controller->stateName(), u"detected"_s);
    ASSERT_TRUE(waitUntil([&] { return settledIn(u"detected"_s); })) << capsuleWidth();
    EXPECT_EQ(capsuleWidth(), 368);
    EXPECT_TRUE(shows(u"MEETING DETECTED"_s));
    EXPECT_FALSE(shows(u"RECORD"_s));
    EXPECT_TRUE(shows(u"Record"_s));
    QQuickItem *name = item(u"meetingName"_s);
    ASSERT_TRUE(name);
    EXPECT_EQ(name->property("text").toString(), QString::fromUtf8(meetingTitle));
    EXPECT_LE(name->width(), 150);
    EXPECT_TRUE(name->property("truncated").toBool()) << "a long name ends in an ellipsis";
    EXPECT_TRUE(item(u"glowEdge"_s));
    const QFont label = byText(root(), u"MEETING DETECTED"_s)->property("font").value<QFont>();
    EXPECT_TRUE(label.bold());
    EXPECT_NEAR(label.letterSpacing(), 1.6, 0.01);
    grab(panel, u"widget-detected"_s);
    grabScreen(u"screen-detected"_s);

    // The user's real pointer on the cross: the offer goes, the widget stays, the meeting keeps the focus.
    QQuickItem *cross = item(u"dismissDetectionButton"_s);
    ASSERT_TRUE(cross);
    const QPoint at = onScreen(cross);
    xdotool({u"mousemove"_s, u"--sync"_s, QString::number(at.x()), QString::number(at.y()), u"click"_s, u"1"_s});
    ASSERT_TRUE(waitUntil([&] { return controller->stateName() == u"idle"_s; }));
    EXPECT_EQ(detector.lastDismissedName(), QString::fromUtf8(meetingTitle));
    EXPECT_TRUE(panel->isVisible());
    EXPECT_FALSE(controller->isManuallyDismissed());
    EXPECT_EQ(windows.activeWindow(), meeting);

    // The same meeting is not offered again while it stays in front.
    detector.poll();
    waitUntil([] { return false; }, 50);
    EXPECT_EQ(controller->stateName(), u"idle"_s);
    EXPECT_TRUE(panel->isVisible());
}

TEST_F(RecordingWidget, ClosingHidesTheWidgetUntilTheNextDetection)
{
    activateNotes();
    RecordingPanel *panel = showWidget();
    ASSERT_TRUE(panel);
    ASSERT_TRUE(waitUntil([&] { return settledIn(u"idle"_s); }));
    EXPECT_FALSE(closeButtonShows()) << "only on hover";

    hover(root()->findChild<QQuickItem *>(u"capsule"_s));
    ASSERT_TRUE(waitUntil([&] { return closeButtonShows(); }));
    EXPECT_TRUE(panel->mask().contains(onScreen(item(u"closeButton"_s)) - panel->position()))
        << "the close button is part of the panel's shape";
    click(panel, item(u"closeButton"_s));
    ASSERT_TRUE(waitUntil([&] { return !panel->isVisible(); }));
    EXPECT_TRUE(controller->isManuallyDismissed());

    // Nothing to offer: it stays closed.
    detector.poll();
    waitUntil([] { return false; }, 100);
    EXPECT_FALSE(panel->isVisible());

    activateMeeting();
    detector.poll();
    ASSERT_TRUE(waitUntil([&] { return panel->isVisible(); }));
    EXPECT_FALSE(controller->isManuallyDismissed());
    EXPECT_EQ(controller->stateName(), u"detected"_s);
    const auto id = quint32(panel->winId());
    ASSERT_TRUE(waitUntil([&] { return windows.geometry(id) == QRect(868, 32, 380, 68); }));
    EXPECT_EQ(windows.property32(id, "_NET_WM_DESKTOP"), QList<quint32> {0xFFFFFFFF}) << "still on every desktop";
}

TEST_F(RecordingWidget, DraggingTheCapsuleMovesThePanel)
{
    activateNotes();
    RecordingPanel *panel = showWidget();
    ASSERT_TRUE(panel);
    const auto id = quint32(panel->winId());
    ASSERT_TRUE(waitUntil([&] { return windows.geometry(id).topLeft() == QPoint(868, 32); }));

    // From the record button, which fills the idle capsule: a press that moves is a drag.
    const QPoint from = onScreen(item(u"recordButton"_s));
    xdotool({u"mousemove"_s, u"--sync"_s, QString::number(from.x()), QString::number(from.y()), u"mousedown"_s, u"1"_s});
    waitUntil([] { return false; }, 200);
    // A few points to become a drag, from where the window follows the pointer.
    const QPoint start = from - QPoint(4, 0);
    for (int step = 0; step <= 4; ++step) {
        const QPoint at = start + QPoint(-30, 25) * step;
        xdotool({u"mousemove"_s, u"--sync"_s, QString::number(at.x()), QString::number(at.y())});
        waitUntil([] { return false; }, 50);
    }
    xdotool({u"mouseup"_s, u"1"_s});
    ASSERT_TRUE(waitUntil([&] { return windows.geometry(id).topLeft() == QPoint(868 - 120, 32 + 100); }))
        << "at " << windows.geometry(id).x() << "," << windows.geometry(id).y();
    EXPECT_FALSE(recorder.isRecording()) << "a drag is not a press of the record button";
}

TEST_F(RecordingWidget, ARecordingFromTheOfferEndsSavedAndBecomesANote)
{
    KeychainService::saveToken(server.signIn());
    const quint32 meeting = activateMeeting();
    RecordingPanel *panel = showWidget();
    ASSERT_TRUE(panel);
    detector.poll();
    ASSERT_TRUE(waitUntil([&] { return settledIn(u"detected"_s); }));
    controller->stop();
    EXPECT_TRUE(meetings.pendingUploads().isEmpty()) << "no recording, nothing to upload";
    EXPECT_EQ(controller->stateName(), u"detected"_s);

    const SoundPlayer voice = SoundPlayer::tone(u"micfeed"_s, 30);
    click(panel, item(u"detectionRecordButton"_s));
    ASSERT_TRUE(waitUntil([&] { return recorder.isRecording(); }, 10000));
    ASSERT_TRUE(waitUntil([&] { return settledIn(u"recording"_s); }));
    EXPECT_EQ(capsuleWidth(), 300);
    EXPECT_TRUE(shows(u"REC"_s));
    EXPECT_FALSE(shows(u"MEETING DETECTED"_s)) << "a recording outranks the offer";
    EXPECT_EQ(windows.activeWindow(), meeting) << "recording takes no focus either";

    // The time rises second by second in digits of one width.
    QQuickItem *time = item(u"duration"_s);
    ASSERT_TRUE(time);
    EXPECT_EQ(time->property("text").toString(), recorder.formattedDuration());
    const qreal width = time->implicitWidth();
    ASSERT_TRUE(waitUntil([&] { return time->property("text").toString() == u"00:01"_s; }, 5000));
    EXPECT_EQ(time->implicitWidth(), width);

    // The bars follow the microphone above their floor, and the speaker shows the system sound is taken.
    QQuickItem *bars = item(u"waveform"_s);
    ASSERT_TRUE(bars);
    ASSERT_TRUE(waitUntil([&] { return recorder.audioLevel() > 0.2f; }, 5000));
    const QList<qreal> heights = bars->property("heights").value<QList<qreal>>();
    ASSERT_EQ(heights.size(), 7);
    EXPECT_GT(heights[2], 4 + 18 * 0.12);
    EXPECT_EQ(heights, RecordingWidgetLayout::barHeights(recorder.audioLevel(),
                                                         RecordingWidgetLayout::recordingMultipliers(), 7, 4, 22));
    EXPECT_TRUE(recorder.systemAudioAvailable());
    EXPECT_TRUE(item(u"systemAudio"_s)->property("available").toBool());

    // Hovering never offers to close the widget while it records.
    hover(root()->findChild<QQuickItem *>(u"capsule"_s));
    waitUntil([] { return false; }, 250);
    EXPECT_FALSE(closeButtonShows());
    grab(panel, u"widget-recording"_s);

    const QString folder = QDir(*recorder.currentFileURL()).dirName();
    const double duration = recorder.duration();
    click(panel, item(u"stopButton"_s));
    EXPECT_EQ(controller->stateName(), u"saved"_s);
    EXPECT_FALSE(recorder.isRecording());
    ASSERT_EQ(meetings.pendingUploads().size(), 1);
    const PendingUpload pending = meetings.pendingUploads().first();
    EXPECT_EQ(pending.fileName, folder);
    EXPECT_GE(pending.duration, duration);
    EXPECT_GE(pending.duration, 1.0);
    ASSERT_TRUE(waitUntil([&] { return settledIn(u"saved"_s); }));
    EXPECT_TRUE(shows(u"Saved"_s));
    EXPECT_EQ(capsuleWidth(), 165);
    hover(root()->findChild<QQuickItem *>(u"capsule"_s));
    waitUntil([] { return false; }, 250);
    EXPECT_FALSE(closeButtonShows()) << "nor while it says Saved";
    grab(panel, u"widget-saved"_s);

    // "Saved" lasts its time; the meeting is still in front and is offered again.
    ASSERT_TRUE(waitUntil([&] { return controller->stateName() == u"detected"_s; }, 3000));

    // The service received the tracks and the note; the pending upload follows it.
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto record = meetings.pendingUpload(pending.id);
            return record && record->noteId.has_value();
        },
        30000))
        << meetings.pendingUpload(pending.id)->status.label().toStdString();
    const QJsonArray notes = requests(u"/api/desktop/meeting-notes"_s);
    ASSERT_EQ(notes.size(), 1);
    EXPECT_EQ(notes[0][u"method"_s].toString(), u"POST"_s);
    EXPECT_GE(requests(u"/blob/*"_s).size(), 1);

    // And the recording ends as a note in the list.
    const qint64 noteId = *meetings.pendingUpload(pending.id)->noteId;
    ASSERT_TRUE(waitUntil([&] { return meetings.pendingUpload(pending.id)->status == UploadStatus::done(); }, 30000))
        << meetings.pendingUpload(pending.id)->status.label().toStdString();
    const QList<MeetingNote> &list = meetings.meetings();
    EXPECT_TRUE(std::any_of(list.begin(), list.end(), [&](const MeetingNote &note) { return note.id == noteId; }));
}

TEST_F(RecordingWidget, StoppingWithoutAStoredTokenShowsSavedAndUploadsNothing)
{
    activateNotes();
    RecordingPanel *panel = showWidget();
    ASSERT_TRUE(panel);
    ASSERT_TRUE(waitUntil([&] { return settledIn(u"idle"_s); }));

    const SoundPlayer voice = SoundPlayer::tone(u"micfeed"_s, 30);
    click(panel, item(u"recordButton"_s));
    ASSERT_TRUE(waitUntil([&] { return recorder.isRecording(); }, 10000));
    ASSERT_TRUE(waitUntil([&] { return settledIn(u"recording"_s); }));
    ASSERT_TRUE(waitUntil([&] { return recorder.duration() >= 1.0 && recorder.audioLevel() > 0; }, 5000));

    const QString folder = *recorder.currentFileURL();
    click(panel, item(u"stopButton"_s));
    EXPECT_EQ(controller->stateName(), u"saved"_s);
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_TRUE(meetings.pendingUploads().isEmpty());
    // The recording stays on disk as its microphone track, and nothing goes out.
    ASSERT_TRUE(waitUntil([&] { return recorder.lastSavedURL().value_or(folder) != folder; }, 20000));
    EXPECT_TRUE(recorder.lastSavedURL()->startsWith(folder + u'/'));
    EXPECT_TRUE(QFile::exists(*recorder.lastSavedURL()));
    EXPECT_TRUE(requests(u"/api/*"_s).isEmpty());
    EXPECT_TRUE(requests(u"/blob/*"_s).isEmpty());
    EXPECT_TRUE(meetings.pendingUploads().isEmpty());

    ASSERT_TRUE(waitUntil([&] { return controller->stateName() == u"idle"_s; }, 3000));
    hover(root()->findChild<QQuickItem *>(u"capsule"_s));
    EXPECT_TRUE(waitUntil([&] { return closeButtonShows(); })) << "once idle again the widget can be closed";
}

TEST_F(RecordingWidget, ARecordingStartedElsewhereBringsBackAClosedWidget)
{
    activateNotes();
    RecordingPanel *panel = showWidget();
    ASSERT_TRUE(panel);
    controller->dismiss();
    ASSERT_TRUE(waitUntil([&] { return !panel->isVisible(); }));

    // As the home screen would start it.
    recorder.start();
    ASSERT_TRUE(waitUntil([&] { return panel->isVisible(); }, 10000));
    EXPECT_FALSE(controller->isManuallyDismissed());
    EXPECT_EQ(controller->stateName(), u"recording"_s);
    recorder.stopRecording();
}
