// The real client in a Wayland session without an X server (weston's headless backend): the main window of the
// stored session, a recording from the home screen's capsule, and the widget, shown as an ordinary window.
#include "AudioRecorder.h"
#include "ChildProcess.h"
#include "DemoSession.h"
#include "MeetingDetector.h"
#include "RecordingLibrary.h"
#include "RecordingPanel.h"
#include "RecordingPanelController.h"
#include "SoundPlayer.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace ScreenDriver;

using WaylandSession = DemoSession;

TEST_F(WaylandSession, TheStoredSessionARecordingFromHomeAndTheWidgetAsAWindow)
{
    if (!ChildProcess::isChild()) {
        // A home of its own: the recording it leaves queued must not be taken up by later tests' clients.
        QTemporaryDir home;
        ASSERT_TRUE(QDir(home.path()).mkdir(u"Documents"_s));
        QProcessEnvironment changes;
        changes.insert(u"HOME"_s, home.path());
        const auto child = ChildProcess::rerunInWaylandSession(changes);
        EXPECT_EQ(child.exitCode, 0) << child.output.toStdString();
        static const QRegularExpression foregroundError(
            u"(?i)^.*(foreground|x11|xcb|display).*(error|fail).*$"_s, QRegularExpression::MultilineOption);
        EXPECT_FALSE(child.output.contains(foregroundError)) << child.output.toStdString();
        return;
    }
    ASSERT_EQ(QGuiApplication::platformName(), u"wayland"_s);
    const auto speech = SoundPlayer::tone(u"micfeed"_s, 60, 300);
    AppWindow app;
    app.delegate.finishLaunching();
    openWindow(app);

    // The widget stands on its own as a toplevel; the detector runs with no window source.
    RecordingPanelController* widget = app.delegate.recordingPanelController();
    ASSERT_TRUE(widget && widget->panel());
    EXPECT_TRUE(waitUntil([&] { return widget->panel()->isExposed(); }));
    EXPECT_TRUE(app.delegate.meetingDetector()->isMonitoring());

    QQuickItem* capsule = byObjectName(byObjectName(app.root(), u"HomeView"_s), u"HomeRecordCapsule"_s);
    ASSERT_TRUE(capsule);
    const auto label = [&] { return byObjectName(capsule, u"capsuleLabel"_s)->property("text").toString(); };
    AudioRecorder& recorder = *app.delegate.audioRecorder();
    EXPECT_EQ(label(), u"Record"_s);
    click(app.window, capsule);
    ASSERT_TRUE(waitUntil([&] { return recorder.isRecording() && recorder.duration() >= 1.0; }, 15000));
    EXPECT_EQ(label(), u"Recording"_s);
    EXPECT_EQ(widget->stateName(), u"recording"_s) << "the widget follows the recording";
    const QString folder = QFileInfo(recorder.sessionFolder().value_or(QString())).fileName();
    click(app.window, capsule);
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_EQ(label(), u"Saved"_s);
    const QList<PendingUpload>& cards = app.delegate.recordingLibrary()->cards();
    ASSERT_EQ(cards.size(), 1);
    EXPECT_EQ(std::pair(cards.first().fileName, cards.first().status), std::pair(folder, UploadStatus::uploading()));
    EXPECT_TRUE(waitUntil([&] { return !service.requests(u"/api/desktop/meeting-notes/upload-token"_s).isEmpty(); }))
        << "the saved recording goes to the upload";
    ASSERT_TRUE(waitUntil([&] { return label() == u"Record"_s; }));
    EXPECT_EQ(byObjectName(capsule, u"recordDot"_s)->opacity(), 1.0) << "the dot is lit again, not left mid-pulse";
}
