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

#include <csignal>

using namespace Qt::StringLiterals;

namespace {

class RecorderTest : public ::testing::Test {
protected:
    void TearDown() override { APIClient::shared().network().clearConnectionCache(); }
    std::unique_ptr<AudioRecorder> makeRecorder(const QString& soundServer = {})
    {
        return makeQuickRecorder(folder.path(), quickTimings(), soundServer);
    }
    std::unique_ptr<RecordingLibrary> makeLibrary(AudioRecorder* recorder)
    {
        return makeQuickLibrary(
            recorder, service.url(u"/blob/"_s).toString(), folder.path(), [this] { return std::optional(token); });
    }
    int posts(const std::string& path) { return service.requestCount(u"POST"_s, path); }
    // Idle null sinks start delivering only after a while.
    static bool recordFor(AudioRecorder& recorder, int ms)
    {
        return (recorder.start(), waitUntil([&] { return recorder.isRecording() && recorder.audioLevel() > 0; }, 15000))
            && (waitUntil([] { return false; }, ms), true);
    }
    DevServerProcess service;
    QString token = (Endpoints::setServiceOrigin(service.origin()), service.signIn());
    QTemporaryDir folder;
};

}

TEST(AudioRecorderText, FormattedDurationTruncatesToWholeSeconds)
{
    const std::pair<double, const char*> cases[] = { { 0, "00:00" }, { 59.9, "00:59" }, { 60, "01:00" },
        { 3599, "59:59" }, { 3600, "1:00:00" }, { 3725, "1:02:05" }, { 36000, "10:00:00" } };
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(AudioRecorder::formatDuration(seconds), QString::fromLatin1(text)) << seconds;
}

TEST_F(RecorderTest, RefusedOrFailedStartsLeaveNothingRunningADoubleStartIsIgnoredAndEveryStopIsHandedOn)
{
    // A server of our own without devices: no output, and for now no microphone.
    PrivateSoundServer sound;
    ASSERT_TRUE(sound.isReady());
    ASSERT_TRUE(SoundTools::pactl({ u"unload-module"_s, u"module-null-sink"_s }, sound.address()));
    Log::Capture log;
    const auto state = [](AudioRecorder& r) { // starting, recording, has a folder, refused
        return std::tuple(r.isStartingRecording(), r.isRecording(), bool(r.sessionFolder()), r.permissionDenied());
    };
    {
        const auto restore = qScopeGuard([desktop = qgetenv("PULSE_SERVER")] { qputenv("PULSE_SERVER", desktop); });
        qputenv("PULSE_SERVER", sound.guardedAddress().toUtf8());
        int managers = 0;
        AudioRecorder recorder([&, make = captureManagers({}, {})] { return ++managers, make(); }, nullptr);
        recorder.start();
        ASSERT_TRUE(waitUntil([&] { return !recorder.isStartingRecording(); }, 10000)) << "refused";
        EXPECT_EQ(std::tuple_cat(state(recorder), std::tuple(managers)), std::tuple(false, false, false, true, 0))
            << "refused, and no capture is attempted";
        EXPECT_TRUE(log.contains(u"[AudioRecorder] startRecording: permission denied"_s));
    }
    log.clear();
    auto recorder = makeRecorder(sound.address());
    recorder->start();
    ASSERT_TRUE(waitUntil([&] { return log.containsPrefix(u"[AudioRecorder] startRecording error: "_s); }, 10000));
    EXPECT_EQ(state(*recorder), std::tuple(false, false, false, false)) << "the capture cannot start; not a refusal";
    ASSERT_TRUE(
        SoundTools::pactl({ u"load-module"_s, u"module-null-source"_s, u"source_name=mute"_s }, sound.address()));
    ASSERT_TRUE(SoundTools::pactl({ u"suspend-source"_s, u"mute"_s, u"1"_s }, sound.address()));
    auto library = makeLibrary(recorder.get());
    library->stopRecording(); // without a session: no card, which would wait for ever
    EXPECT_FALSE(recorder->isStoppingRecording());
    recorder->start();
    EXPECT_EQ(std::pair(waitUntil([&] { return recorder->isRecording(); }, 10000), recorder->systemAudioAvailable()),
        std::pair(true, false));
    EXPECT_TRUE(library->cards().isEmpty());
    library->stopRecording();
    ASSERT_TRUE(waitUntil([&] { return !recorder->isStoppingRecording(); }, 20000));
    ASSERT_EQ(library->cards().size(), 1);
    EXPECT_EQ(library->cards()[0].status, UploadStatus::failed(u"No audio file produced"_s));
    EXPECT_EQ(posts("/api/desktop/meeting-notes/upload-token"), 0) << "nothing is uploaded";

    const auto speech = SoundPlayer::tone(u"micfeed"_s, 60, 300), tone = SoundPlayer::tone(u"speakers"_s, 60);
    recorder = makeRecorder();
    library.reset(); // the recorder alone: stopping it only finishes its files
    log.clear();
    recorder->start();
    ASSERT_TRUE(recordFor(*recorder, 1000));
    EXPECT_TRUE(log.contains(u"[AudioRecorder] startRecording ignored: isRecording=false isStarting=true"_s));
    const QString folderPath = recorder->sessionFolder().value_or(QString());
    ASSERT_TRUE(waitUntil([&] { return recorder->duration() >= 1.0; }, 5000)) << "the tick advances the duration";
    // A suspend (the sleep clock jumps between two ticks) is said on the widget's row; a few seconds are noise.
    std::chrono::seconds slept {};
    recorder->setSleepClock([&] { return slept; });
    slept = std::chrono::seconds(3);
    const double awake = recorder->duration();
    ASSERT_TRUE(waitUntil([&] { return recorder->duration() > awake + 0.3; }));
    EXPECT_EQ(recorder->sleepNotice(), QString());
    slept += std::chrono::minutes(12);
    EXPECT_TRUE(waitUntil([&] { return recorder->sleepNotice() == u"Paused 12 min while the computer slept"_s; }));
    EXPECT_EQ(recorder->stopRecording(), folderPath) << "the session folder first";
    const double stoppedAt = recorder->duration();
    EXPECT_EQ(std::pair(recorder->isRecording(), bool(recorder->sessionFolder())), std::pair(false, false));
    ASSERT_TRUE(waitUntil([&] { return recorder->lastSavedURL() != folderPath; }, 20000));
    EXPECT_EQ(std::pair(recorder->lastSavedURL(), recorder->duration()),
        std::pair(std::optional(QDir(folderPath).filePath(u"upload_track.m4a"_s)), stoppedAt))
        << "then the exported track; the last duration stays on screen";
    EXPECT_TRUE(log.containsPrefix(u"[AudioRecorder] stopRecording: mic_track saved "_s));
    // A stop is never ignored because another recording's upload still runs.
    library = makeLibrary(recorder.get());
    service.control("POST", "/__dev/latency", { { u"ms"_s, 3000 }, { u"path"_s, u"/api/desktop/meeting-notes"_s } });
    ASSERT_TRUE(recordFor(*recorder, 1500));
    library->stopRecording();
    EXPECT_TRUE(recorder->isStoppingRecording());
    ASSERT_TRUE(recordFor(*recorder, 1500)) << "a new recording may start while the first uploads";
    library->stopRecording();
    EXPECT_FALSE(recorder->isRecording()) << "no recording is left running";
    ASSERT_TRUE(waitUntil(
        [&] { return library->cards().size() == 2 && library->cards()[0].noteId && library->cards()[1].noteId; },
        40000));
    EXPECT_NE(library->cards()[0].noteId, library->cards()[1].noteId) << "two notes";
    EXPECT_EQ(std::pair(posts("/api/desktop/meeting-notes"), posts("/api/desktop/meeting-notes/upload-token")),
        std::pair(2, 4))
        << "one note, both tracks, for each upload";
}

// A sound server that stops answering holds nothing up: the stop keeps what reached the disk, a start fails in time.
TEST_F(RecorderTest, AStalledSoundServerHoldsNeitherTheStopNorTheStart)
{
    PrivateSoundServer sound;
    ASSERT_TRUE(sound.isReady());
    CaptureTimings timings = quickTimings();
    timings.soundServerTimeout = std::chrono::seconds(1);
    auto recorder = makeQuickRecorder(folder.path(), timings, sound.address());
    recorder->start();
    ASSERT_TRUE(waitUntil([&] { return recorder->isRecording(); }, 10000));
    const QDir session(recorder->sessionFolder().value_or(QString()));
    ASSERT_TRUE(waitUntil([&] { return QFileInfo(session.filePath(u"mic_track_000.caf"_s)).size() > 100000; }, 15000));

    ASSERT_EQ(::kill(pid_t(sound.processId()), SIGSTOP), 0);
    const auto resume = qScopeGuard([&] { ::kill(pid_t(sound.processId()), SIGCONT); });
    recorder->stopRecording();
    ASSERT_TRUE(waitUntil([&] { return recorder->lastSavedURL() == session.filePath(u"upload_track.m4a"_s); }, 20000))
        << "the stop kept nothing";
    recorder->start();
    ASSERT_TRUE(waitUntil([&] { return !recorder->isStartingRecording(); }, 20000));
    EXPECT_EQ(std::pair(recorder->isRecording(), recorder->notice()),
        std::pair(false, u"Recording did not start: the sound server does not answer"_s));
}
