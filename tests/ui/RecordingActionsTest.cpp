#include "AudioCaptureManager.h"
#include "AudioRecorder.h"
#include "DemoSession.h"
#include "MeetingStore.h"
#include "QtPrinters.h"
#include "QuickRecorder.h"
#include "RecordingActions.h"
#include "SoundPlayer.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

std::unique_ptr<AudioRecorder> makeRecorder(DevServerProcess &service, const QString &documents)
{
    return makeQuickRecorder(service.url(u"/blob/"_s).toString(), documents);
}

// A recorder writing into a temporary folder and uploading to the local
// service, and a meeting store that follows notes quickly.
class RecordingActionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service.isRunning());
        Endpoints::setServiceOrigin(service.origin());
        token = service.signIn();
        recorder = makeRecorder(service, folder.path());
        actions.setRecorder(recorder.get());
        actions.setMeetingStore(&store);
        actions.setSavedDuration(300);
        actions.setTokenProvider([this] { return storedToken; });
    }
    void TearDown() override { APIClient::shared().network().clearConnectionCache(); }

    // Starts through the actions and records until the microphone has delivered sound, then `time` longer.
    bool recordFor(std::chrono::milliseconds time)
    {
        actions.toggle();
        if (!waitUntil([&] { return recorder->isRecording() && recorder->audioLevel() > 0; }, 15000))
            return false;
        waitUntil([] { return false; }, int(time.count()));
        return true;
    }

    DevServerProcess service;
    QString token;
    std::optional<QString> storedToken;
    QTemporaryDir folder;
    std::unique_ptr<AudioRecorder> recorder;
    MeetingStore store {[this] { return std::optional<QString>(token); }, MeetingStore::Timings{50ms, 50ms, 100ms, 100}};
    RecordingActions actions;
};

}

TEST_F(RecordingActionsTest, AStopWithATokenBecomesAProcessingCardAndThenANote)
{
    const auto speech = SoundPlayer::tone(u"micfeed"_s, 60, 300);
    storedToken = token;
    ASSERT_TRUE(recordFor(1200ms));
    const QString folderName = QFileInfo(*recorder->currentFileURL()).fileName();
    ASSERT_TRUE(folderName.startsWith(u"Session_"_s));

    QSignalSpy saved(&actions, &RecordingActions::showSavedChanged);
    actions.toggle();
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_TRUE(actions.showSaved());
    ASSERT_EQ(store.pendingUploads().size(), 1);
    const PendingUpload card = store.pendingUploads().first();
    EXPECT_EQ(card.fileName, folderName) << "named after the session folder";
    EXPECT_GE(card.duration, 1.0);
    EXPECT_EQ(card.status, UploadStatus::uploading());

    ASSERT_TRUE(waitUntil([&] { return !actions.showSaved(); }, 2000)) << "\"Saved\" shows for a moment";
    EXPECT_EQ(saved.count(), 2);

    // The upload reaches the service, which acknowledges it with a note id.
    ASSERT_TRUE(waitUntil([&] { return store.pendingUpload(card.id)->noteId.has_value(); }, 30000));
    const qint64 noteId = *store.pendingUpload(card.id)->noteId;
    EXPECT_GT(noteId, 0);
    service.control("POST", "/__dev/process");
    ASSERT_TRUE(waitUntil([&] { return store.pendingUpload(card.id)->status == UploadStatus::done(); }, 10000));
    EXPECT_TRUE(std::any_of(store.meetings().begin(), store.meetings().end(), [&](const MeetingNote &n) { return n.id == noteId; }))
        << "the note is in the list";
}

TEST_F(RecordingActionsTest, WithoutATokenTheRecordingOnlyStops)
{
    const auto speech = SoundPlayer::tone(u"micfeed"_s, 30, 300);
    ASSERT_TRUE(recordFor(500ms));
    const QString folderPath = *recorder->currentFileURL();
    actions.toggle();
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_TRUE(actions.showSaved());
    EXPECT_TRUE(store.pendingUploads().isEmpty());
    EXPECT_EQ(recorder->lastSavedURL(), folderPath);
    EXPECT_FALSE(recorder->isStoppingRecording()) << "no upload";
}

TEST_F(RecordingActionsTest, NoSessionNoCard)
{
    // A card for a recording that was never handed over would wait for ever.
    EXPECT_FALSE(RecordingActions::stopRecording(*recorder, store, token).has_value());
    EXPECT_TRUE(store.pendingUploads().isEmpty());
}

namespace {

// The home screen's capsule driving a recorder that uploads to the local service.
class RecordCapsule : public DemoSession {
};

QString labelOf(QQuickItem *capsule)
{
    return ScreenDriver::byObjectName(capsule, u"capsuleLabel"_s)->property("text").toString();
}

}

TEST_F(RecordCapsule, ARecordingFromTheCapsuleBecomesAProcessingCardThenANote)
{
    using namespace ScreenDriver;
    const auto speech = SoundPlayer::tone(u"micfeed"_s, 60, 300);
    QTemporaryDir documents;
    const auto recorder = makeRecorder(service, documents.path());
    AppWindow app;
    openWindow(app);
    QQuickItem *home = byObjectName(app.root(), u"HomeView"_s);
    ASSERT_TRUE(home);
    QQuickItem *capsule = byObjectName(home, u"HomeRecordCapsule"_s);
    ASSERT_TRUE(capsule);
    capsule->setProperty("recorder", QVariant::fromValue(recorder.get()));
    capsule->setProperty("savedDuration", 400);
    EXPECT_EQ(labelOf(capsule), u"Record"_s);

    click(app.window, capsule);
    ASSERT_TRUE(waitUntil([&] { return recorder->isRecording() && recorder->audioLevel() > 0; }, 15000));
    EXPECT_EQ(labelOf(capsule), u"Recording"_s);
    pause(1000);
    grab(app.window, u"HomeView-recording"_s);

    click(app.window, capsule);
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(labelOf(capsule), u"Saved"_s);
    ASSERT_TRUE(waitUntil([&] { return byText(home, u"PROCESSING"_s) != nullptr; }));
    EXPECT_TRUE(byText(home, u"New recording"_s));
    pause(100);
    grab(app.window, u"HomeView-saved"_s);
    EXPECT_TRUE(waitUntil([&] { return labelOf(capsule) == u"Record"_s; }, 2000)) << "\"Saved\" goes away";

    // The upload reaches the service and the card moves on.
    const QList<PendingUpload> &cards = app.delegate.meetingStore()->pendingUploads();
    ASSERT_EQ(cards.size(), 1);
    ASSERT_TRUE(waitUntil([&] { return cards.first().noteId.has_value(); }, 30000));
    const qint64 noteId = *cards.first().noteId;
    EXPECT_EQ(requestsTo(u"/api/desktop/meeting-notes"_s).size(), 1);

    // Once the service has written the note, the card says so and opens it. The
    // application's store keeps its own pace: two stages, then a poll, ~32 s.
    service.control("POST", "/__dev/process");
    QQuickItem *done = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (done = byText(home, u"VIEW TRANSCRIPT →"_s)) != nullptr; }, 45000));
    EXPECT_TRUE(byText(home, u"Your note is ready."_s));
    MeetingStore &store = *app.delegate.meetingStore();
    EXPECT_TRUE(std::any_of(store.meetings().begin(), store.meetings().end(),
        [&](const MeetingNote &note) { return note.id == noteId; })) << "the note is in the list";
    pause(100);
    grab(app.window, u"HomeView-done"_s);
    click(app.window, done);
    EXPECT_TRUE(store.pendingUploads().isEmpty());
    ASSERT_TRUE(waitUntil([&] { return shows(app.detailColumn(), "MeetingDetailView"); }));
    ASSERT_TRUE(waitUntil([&] { return store.meetingDetail() && store.meetingDetail()->id == noteId; }));
}
