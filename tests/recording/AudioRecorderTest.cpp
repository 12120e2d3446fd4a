#include "APIClient.h"
#include "AudioCaptureManager.h"
#include "AudioRecorder.h"
#include "Await.h"
#include "Endpoints.h"
#include "Log.h"
#include "QuickRecorder.h"
#include "SoundPlayer.h"
#include "TestServer.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// A service and blob store whose notify call can be made slow.
class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto &s = server.server();
        s.Post("/api/desktop/meeting-notes/upload-token", [](const httplib::Request &req, httplib::Response &res) {
            const auto path = QJsonDocument::fromJson(QByteArray::fromStdString(req.body))["payload"_L1]["pathname"_L1].toString();
            res.set_content(("{\"clientToken\":\"ct-" + path + "\"}").toStdString(), "application/json");
        });
        s.Put(R"(/blob/(.*))", [this](const httplib::Request &req, httplib::Response &res) {
            ++blobs;
            res.set_content("{\"url\":\"" + server.url(u"/blob/"_s).toString().toStdString() + req.matches[1].str() + "\"}",
                            "application/json");
        });
        s.Post("/api/desktop/meeting-notes", [this](const httplib::Request &, httplib::Response &res) {
            std::this_thread::sleep_for(std::chrono::milliseconds(notifyDelayMs.load()));
            res.set_content("{\"success\": true, \"noteId\": " + std::to_string(++notifies) + "}", "application/json");
        });
        server.start();
        Endpoints::setServiceOrigin(server.origin());
    }
    void TearDown() override { APIClient::shared().network().clearConnectionCache(); }

    std::unique_ptr<AudioRecorder> makeRecorder()
    {
        return makeQuickRecorder(server.url(u"/blob/"_s).toString(), folder.path());
    }

    // Records until the microphone has delivered sound, then `time` longer
    // (idle null sinks start delivering only after a while).
    static bool recordFor(AudioRecorder &recorder, std::chrono::milliseconds time)
    {
        recorder.start();
        if (!waitUntil([&] { return recorder.isRecording() && recorder.audioLevel() > 0; }, 15000))
            return false;
        waitUntil([] { return false; }, int(time.count()));
        return true;
    }

    TestServer server;
    QTemporaryDir folder;
    std::atomic_int blobs = 0;
    std::atomic_int notifies = 0;
    std::atomic_int notifyDelayMs = 0;
};

}

TEST(AudioRecorderText, FormattedDurationTruncatesToWholeSeconds)
{
    const std::pair<double, const char *> cases[] = {
        {0, "00:00"}, {59.9, "00:59"}, {60, "01:00"}, {3599, "59:59"}, {3600, "1:00:00"}, {3725, "1:02:05"}, {36000, "10:00:00"},
    };
    for (const auto &[seconds, text] : cases)
        EXPECT_EQ(AudioRecorder::formatDuration(seconds), QString::fromLatin1(text)) << seconds;
}

TEST_F(RecorderTest, DoubleStartIsIgnoredAndAStopKeepsTheDurationThenPointsAtTheTrack)
{
    const auto speech = SoundPlayer::tone(u"micfeed"_s, 30, 300);
    auto recorder = makeRecorder();
    Log::Capture log;
    recorder->start();
    // recordFor's own start() comes while the first one still waits for permission.
    ASSERT_TRUE(recordFor(*recorder, 1000ms));
    EXPECT_TRUE(log.contains(u"[AudioRecorder] startRecording ignored: isRecording=false isStarting=true"_s));
    const QString folderPath = recorder->currentFileURL().value_or(QString());
    EXPECT_TRUE(QFileInfo(folderPath).fileName().startsWith(u"Session_"_s));
    ASSERT_TRUE(waitUntil([&] { return recorder->duration() >= 1.0; }, 5000)) << "the tick advances the duration";

    const auto saved = recorder->stopRecording();
    const double stoppedAt = recorder->duration();
    EXPECT_EQ(saved, folderPath) << "the session folder first";
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_FALSE(recorder->currentFileURL());
    ASSERT_TRUE(waitUntil([&] { return recorder->lastSavedURL() != folderPath; }, 20000));
    EXPECT_EQ(recorder->lastSavedURL(), QDir(folderPath).filePath(u"upload_track.m4a"_s)) << "then the exported track";
    EXPECT_EQ(recorder->duration(), stoppedAt) << "the last duration stays on screen";
    EXPECT_TRUE(log.containsPrefix(u"[AudioRecorder] stopRecording: mic_track saved "_s));
}

TEST_F(RecorderTest, StopAndUploadWithoutASessionNeverReportsAStatus)
{
    auto recorder = makeRecorder();
    Log::Capture log;
    bool called = false;
    recorder->stopAndUpload(u"tok"_s, [&](const UploadStatus &) { called = true; });
    waitUntil([] { return false; }, 200);
    EXPECT_FALSE(called);
    EXPECT_TRUE(log.contains(u"[AudioRecorder] stopAndUpload: no active session"_s));
    EXPECT_FALSE(recorder->isStoppingRecording());
}

TEST_F(RecorderTest, ASecondRecordingStoppedDuringTheFirstUploadIsUploadedToo)
{
    // A stop is never ignored because another recording's upload still runs.
    const auto speech = SoundPlayer::tone(u"micfeed"_s, 60, 300);
    const auto tone = SoundPlayer::tone(u"speakers"_s, 60);
    notifyDelayMs = 3000;
    auto recorder = makeRecorder();
    QList<UploadStatus> first, second;

    ASSERT_TRUE(recordFor(*recorder, 1500ms));
    recorder->stopAndUpload(u"tok"_s, [&](const UploadStatus &s) { first.append(s); });
    EXPECT_TRUE(recorder->isStoppingRecording());
    ASSERT_TRUE(recordFor(*recorder, 1500ms)) << "a new recording may start while the first uploads";
    recorder->stopAndUpload(u"tok"_s, [&](const UploadStatus &s) { second.append(s); });
    EXPECT_FALSE(recorder->isRecording()) << "no recording is left running";

    ASSERT_TRUE(waitUntil([&] { return !recorder->isStoppingRecording(); }, 40000));
    ASSERT_FALSE(first.isEmpty());
    ASSERT_FALSE(second.isEmpty());
    EXPECT_EQ(first.last().stage(), UploadStatus::Processing);
    EXPECT_EQ(second.last().stage(), UploadStatus::Processing);
    EXPECT_NE(first.last(), second.last()) << "two notes";
    EXPECT_EQ(notifies.load(), 2);
    EXPECT_GE(blobs.load(), 2);
}

TEST_F(RecorderTest, QuittingDuringARecordingClosesItsFilesWithoutUploading)
{
    const auto speech = SoundPlayer::tone(u"micfeed"_s, 30, 300);
    auto recorder = makeRecorder();
    ASSERT_TRUE(recordFor(*recorder, 1500ms));
    const QString folderPath = *recorder->currentFileURL();

    recorder->finishForQuit(2s);
    EXPECT_FALSE(recorder->isRecording());
    const QJsonObject metadata = QJsonDocument::fromJson([&] {
        QFile f(QDir(folderPath).filePath(u"metadata.json"_s));
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }()).object();
    EXPECT_FALSE(metadata.isEmpty()) << "metadata.json is written before exit";
    EXPECT_TRUE(QFileInfo::exists(QDir(folderPath).filePath(u"mic_track_000.caf"_s)));
    EXPECT_FALSE(QFileInfo::exists(QDir(folderPath).filePath(u"upload_track.m4a"_s))) << "no export at quit";
    EXPECT_EQ(notifies.load(), 0);
}
