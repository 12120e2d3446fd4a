#include "AudioRecorder.h"
#include "APIClient.h"
#include "Await.h"
#include "DevServerProcess.h"
#include "Endpoints.h"
#include "Log.h"
#include "PrivateSoundServer.h"
#include "QuickRecorder.h"
#include "SoundPlayer.h"
#include "SoundTools.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// The local service, with a sound server of the test's own or the desktop's.
class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service.isRunning());
        Endpoints::setServiceOrigin(service.origin());
        token = service.signIn();
    }
    void TearDown() override { APIClient::shared().network().clearConnectionCache(); }

    std::unique_ptr<AudioRecorder> makeRecorder(const QString &soundServer = {})
    {
        return makeQuickRecorder(service.url(u"/blob/"_s).toString(), folder.path(), quickTimings(), soundServer);
    }

    // The service's count of `method` requests to `path`.
    int requests(const QString &method, const std::string &path)
    {
        int count = 0;
        for (const QJsonValue &request : service.control("GET", "/__dev/requests?path=" + path).toArray())
            count += request[u"method"_s] == method ? 1 : 0;
        return count;
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

    DevServerProcess service;
    QString token;
    QTemporaryDir folder;
};

}

TEST(AudioRecorderText, FormattedDurationTruncatesToWholeSeconds)
{
    const std::pair<double, const char *> cases[] = {
        { 0, "00:00" },
        { 59.9, "00:59" },
        { 60, "01:00" },
        { 3599, "59:59" },
        { 3600, "1:00:00" },
        { 3725, "1:02:05" },
        { 36000, "10:00:00" },
    };
    for (const auto &[seconds, text] : cases)
        EXPECT_EQ(AudioRecorder::formatDuration(seconds), QString::fromLatin1(text)) << seconds;
}

TEST_F(RecorderTest, ASoundServerThatRefusesOrCannotRecordLeavesNothingRunningAndUploadsNothing)
{
    // A server of our own without devices: no output, and for now no microphone.
    PrivateSoundServer sound;
    ASSERT_TRUE(sound.isReady());
    ASSERT_TRUE(SoundTools::pactl({ u"unload-module"_s, u"module-null-sink"_s }, sound.address()));
    Log::Capture log;
    {
        SCOPED_TRACE("the desktop's server refuses us");
        const QByteArray desktop = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", sound.guardedAddress().toUtf8());
        const auto restore = qScopeGuard([&] { qputenv("PULSE_SERVER", desktop); });
        int managers = 0;
        AudioRecorder recorder(
            [&] {
                ++managers;
                return std::make_unique<AudioCaptureManager>();
            },
            nullptr);
        recorder.start();
        ASSERT_TRUE(waitUntil([&] { return !recorder.isStartingRecording(); }, 10000));
        EXPECT_TRUE(recorder.permissionDenied());
        EXPECT_FALSE(recorder.isRecording());
        EXPECT_EQ(managers, 0) << "no capture is attempted";
        EXPECT_TRUE(log.contains(u"[AudioRecorder] startRecording: permission denied"_s));
    }
    {
        SCOPED_TRACE("the capture cannot start");
        log.clear();
        auto recorder = makeRecorder(sound.address());
        recorder->start();
        ASSERT_TRUE(waitUntil([&] { return log.containsPrefix(u"[AudioRecorder] startRecording error: "_s); }, 10000));
        EXPECT_FALSE(recorder->isStartingRecording());
        EXPECT_FALSE(recorder->isRecording());
        EXPECT_FALSE(recorder->currentFileURL());
        EXPECT_FALSE(recorder->permissionDenied()) << "a failure is not a refusal";
    }
    {
        SCOPED_TRACE("the microphone never delivers");
        ASSERT_TRUE(
            SoundTools::pactl({ u"load-module"_s, u"module-null-source"_s, u"source_name=mute"_s }, sound.address()));
        ASSERT_TRUE(SoundTools::pactl({ u"suspend-source"_s, u"mute"_s, u"1"_s }, sound.address()));
        auto recorder = makeRecorder(sound.address());
        QList<UploadStatus> withoutSession, statuses;
        recorder->stopAndUpload(token, [&](const UploadStatus &s) { withoutSession << s; });
        EXPECT_TRUE(log.contains(u"[AudioRecorder] stopAndUpload: no active session"_s));
        EXPECT_FALSE(recorder->isStoppingRecording());
        recorder->start();
        ASSERT_TRUE(waitUntil([&] { return recorder->isRecording(); }, 10000));
        EXPECT_FALSE(recorder->systemAudioAvailable());
        recorder->stopAndUpload(token, [&](const UploadStatus &s) { statuses << s; });
        ASSERT_TRUE(waitUntil([&] { return !recorder->isStoppingRecording(); }, 20000));
        EXPECT_EQ(statuses, QList<UploadStatus> { UploadStatus::failed(u"No audio file produced"_s) });
        EXPECT_TRUE(withoutSession.isEmpty()) << "a stop without a session reports nothing, ever";
        EXPECT_EQ(requests(u"POST"_s, "/api/desktop/meeting-notes/upload-token"), 0) << "nothing is uploaded";
    }
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

TEST_F(RecorderTest, ASecondRecordingStoppedDuringTheFirstUploadIsUploadedToo)
{
    // A stop is never ignored because another recording's upload still runs.
    const auto speech = SoundPlayer::tone(u"micfeed"_s, 60, 300);
    const auto tone = SoundPlayer::tone(u"speakers"_s, 60);
    service.control("POST", "/__dev/latency", { { u"ms"_s, 3000 }, { u"path"_s, u"/api/desktop/meeting-notes"_s } });
    auto recorder = makeRecorder();
    QList<UploadStatus> first, second;

    ASSERT_TRUE(recordFor(*recorder, 1500ms));
    recorder->stopAndUpload(token, [&](const UploadStatus &s) { first.append(s); });
    EXPECT_TRUE(recorder->isStoppingRecording());
    ASSERT_TRUE(recordFor(*recorder, 1500ms)) << "a new recording may start while the first uploads";
    recorder->stopAndUpload(token, [&](const UploadStatus &s) { second.append(s); });
    EXPECT_FALSE(recorder->isRecording()) << "no recording is left running";

    ASSERT_TRUE(waitUntil([&] { return !recorder->isStoppingRecording(); }, 40000));
    ASSERT_FALSE(first.isEmpty());
    ASSERT_FALSE(second.isEmpty());
    EXPECT_EQ(first.last().stage(), UploadStatus::Processing);
    EXPECT_EQ(second.last().stage(), UploadStatus::Processing);
    EXPECT_NE(first.last(), second.last()) << "two notes";
    EXPECT_EQ(requests(u"POST"_s, "/api/desktop/meeting-notes"), 2);
    EXPECT_EQ(requests(u"POST"_s, "/api/desktop/meeting-notes/upload-token"), 4) << "both tracks of both recordings";
}
