#include "RecordingActions.h"
#include "AudioRecorder.h"
#include "DemoSession.h"
#include "QtPrinters.h"
#include "QuickRecorder.h"
#include "SoundPlayer.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace ScreenDriver;

namespace {

// The home screen's capsule driving a recorder that uploads to the local service.
class RecordCapsule : public DemoSession {
protected:
    QString label() { return byObjectName(capsule, u"capsuleLabel"_s)->property("text").toString(); }
    QTemporaryDir documents;
    std::unique_ptr<AudioRecorder> recorder = makeQuickRecorder(documents.path());
    std::unique_ptr<RecordingLibrary> library = makeQuickLibrary(
        recorder.get(), service.url(u"/blob/"_s).toString(), documents.path(), [this] { return std::optional(token); });
    QQuickItem* capsule = nullptr;
};

}

TEST_F(RecordCapsule, ARecordingFromTheCapsuleBecomesAProcessingCardAndReachesTheService)
{
    const auto speech = SoundPlayer::tone(u"micfeed"_s, 60, 300);
    AppWindow app;
    openWindow(app);
    QQuickItem* home = byObjectName(app.root(), u"HomeView"_s);
    ASSERT_TRUE(home);
    capsule = byObjectName(home, u"HomeRecordCapsule"_s);
    ASSERT_TRUE(capsule);
    capsule->setProperty("recorder", QVariant::fromValue(recorder.get()));
    capsule->setProperty("library", QVariant::fromValue(library.get()));
    capsule->setProperty("savedDuration", 400);
    EXPECT_EQ(label(), u"Record"_s);

    click(app.window, capsule);
    ASSERT_TRUE(waitUntil([&] { return recorder->isRecording() && recorder->audioLevel() > 0; }, 15000));
    EXPECT_EQ(label(), u"Recording"_s);
    const QString folderName = QFileInfo(recorder->sessionFolder().value_or(QString())).fileName();
    ASSERT_TRUE(folderName.startsWith(u"Session_"_s));
    ASSERT_TRUE(waitUntil([&] { return recorder->duration() >= 1.0; }, 10000)) << "a second of sound to upload";
    grab(app.window, u"HomeView-recording"_s);

    click(app.window, capsule);
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(label(), u"Saved"_s);
    const QList<PendingUpload>& cards = library->cards();
    ASSERT_EQ(cards.size(), 1);
    EXPECT_EQ(cards.first().fileName, folderName) << "named after the session folder";
    EXPECT_GE(cards.first().duration, 1.0);
    EXPECT_EQ(cards.first().status, UploadStatus::uploading());
    grab(app.window, u"HomeView-saved"_s);
    EXPECT_TRUE(waitUntil([&] { return label() == u"Record"_s; }, 2000)) << "\"Saved\" goes away";
    EXPECT_EQ(byObjectName(capsule, u"recordDot"_s)->opacity(), 1.0) << "the dot is lit again, not left mid-pulse";

    // The upload reaches the service, which acknowledges it with a note id.
    ASSERT_TRUE(waitUntil([&] { return cards.first().noteId.has_value(); }, 30000));
    EXPECT_EQ(service.requests(u"/api/desktop/meeting-notes"_s).size(), 1);
}
