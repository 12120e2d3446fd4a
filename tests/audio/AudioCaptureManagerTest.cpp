#include "AudioCaptureManager.h"
#include "Await.h"
#include "Log.h"
#include "MediaModule.h"
#include "PrivateSoundServer.h"
#include "QuickRecorder.h"
#include "SoundPlayer.h"
#include "SoundServerError.h"
#include "SoundTools.h"
#include "TestAudio.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QString prefix = u"[AudioCaptureManager] "_s;
const QString flowing = prefix + u"First system audio buffer received — audio is flowing"_s;

const auto onMainThread = [] { return QThread::currentThread() == QCoreApplication::instance()->thread(); };
const auto nothing = [](const CaptureSessionResult& r) { return !r.micURL && !r.systemURL; };

class AudioCaptureManagerTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        SoundTools::pactl({ u"suspend-source"_s, u"virtual_mic2"_s, u"0"_s });
        SoundTools::pactl({ u"set-default-source"_s, u"virtual_mic"_s });
        SoundTools::pactl({ u"set-default-sink"_s, u"speakers"_s });
    }

    AudioTrackWriter::Options writerOptions() const { return { documents.path(), {}, {} }; }

    // The manager's lines without their prefix, leaving out the notes about system audio flowing.
    QStringList restartLines() const
    {
        QStringList out = log.lines().filter(QRegularExpression(u"^"_s + QRegularExpression::escape(prefix)));
        return out.removeAll(flowing), out.replaceInStrings(prefix, QString());
    }

    bool logged(const QString& text) const
    {
        return waitUntil([&] { return log.contains(prefix + text); }, 10000);
    }

    // The sources have delivered their first buffers into the writer.
    bool recording(bool withSystem = true) const
    {
        const QString mic = u"[AudioTrackWriter] Opened mic_track_000.caf"_s;
        const QString system = u"[AudioTrackWriter] Opened system_track_000.caf"_s;
        return waitUntil([&] { return log.containsPrefix(mic) && (!withSystem || log.containsPrefix(system)); }, 10000);
    }

    static std::string joined(const QStringList& lines) { return lines.join(u'\n').toStdString(); }

    // The upload track at `url` holds every frame of its segments `files` (at its own rate, within an AAC
    // frame), decodes cleanly end to end and has the movie header before the media data.
    static void expectWholeTrack(const QString& url, const QJsonArray& files)
    {
        SCOPED_TRACE(url.toStdString());
        const int rate = TestAudio::probe(url).sampleRate;
        double frames = 0;
        for (const QJsonValue& file : files) {
            const auto segment = TestAudio::readSegment(QFileInfo(url).dir().filePath(file.toString()));
            frames += double(segment.frames()) * rate / segment.sampleRate;
        }
        EXPECT_NEAR(double(TestAudio::decodeMono(url).size()), frames, 1024);
        EXPECT_EQ(TestAudio::decodeErrors(url).toStdString(), "");
        const QStringList boxes = TestAudio::topLevelAtoms(url);
        EXPECT_TRUE(boxes.contains(u"moov"_s) && boxes.indexOf(u"moov"_s) < boxes.indexOf(u"mdat"_s));
    }

    QTemporaryDir documents;
    Log::Capture log;
};

}

TEST_F(AudioCaptureManagerTest, ARecordingYieldsBothUploadTracksHoldingExactlyWhatWasPlayed)
{
    // Quiet tones keep both null sinks delivering in small blocks; the loud two seconds are what is measured.
    const SoundPlayer quietOutput = SoundPlayer::tone(u"speakers"_s, 60, 440, -40);
    const SoundPlayer quietVoice = SoundPlayer::tone(u"micfeed"_s, 60, 300, -40);
    const int streamsBefore = int(SoundTools::sourceOutputIndices().size());

    AudioCaptureManager manager(quickTimings(), writerOptions());
    manager.setDiskLimits({ .reserveBytes = 4096, .reserveBytesPerSecond = 1e6 });
    const QDir recordings(documents.filePath(u"Echoquill Recordings"_s));
    ASSERT_TRUE(
        recordings.mkpath(u"."_s) && QFile(recordings.filePath(u".space-reserve"_s)).open(QIODevice::WriteOnly));
    const auto reserves
        = [&] { return recordings.entryInfoList({ u".space-reserve*"_s }, QDir::Files | QDir::Hidden); };
    std::vector<float> levels;
    int levelsOffMain = 0;
    manager.setOnMicLevel([&](float level) { levels.push_back(level), levelsOffMain += onMainThread() ? 0 : 1; });
    manager.start();
    EXPECT_TRUE(manager.isRunning() && manager.isSystemAudioRunning());
    const std::optional<QString> session = manager.sessionDirectory();
    ASSERT_TRUE(session);
    EXPECT_EQ(QFileInfo(*session).dir().path(), QDir(documents.path()).filePath(u"Echoquill Recordings"_s));
    ASSERT_TRUE(recording());
    const SoundPlayer output = SoundPlayer::tone(u"speakers"_s, 2.0);
    const SoundPlayer voice = SoundPlayer::tone(u"micfeed"_s, 2.0, 300);
    ASSERT_TRUE(waitUntil([&] { return !output.isPlaying() && !voice.isPlaying(); }, 15000));
    const auto toneEnded = [&] { // the mic level shows the tone's end came through, and the output's with it
        const auto loud = std::find_if(levels.rbegin(), levels.rend(), [](float l) { return l > 0.5f; });
        return loud != levels.rend() && loud != levels.rbegin() && levels.back() < 0.1f;
    };
    ASSERT_TRUE(waitUntil(toneEnded, 5000));
    // The stale reserve went; this recording's own grew with what was recorded (here a megabyte a second).
    ASSERT_EQ(reserves().size(), 1);
    EXPECT_TRUE(reserves()[0].fileName().startsWith(u".space-reserve."_s) && reserves()[0].size() >= 2'000'000);
    // Three more microphone fragments (3 x 128 ms): the system's 256 ms fragment with the output's end is in too.
    ASSERT_TRUE(waitUntil([&, seen = levels.size()] { return levels.size() >= seen + 3; }));
    const CaptureSessionResult result = await(manager.stopCapture());
    EXPECT_TRUE(reserves().isEmpty());
    EXPECT_FALSE(manager.isRunning() || manager.sessionDirectory());
    EXPECT_EQ(int(SoundTools::sourceOutputIndices().size()), streamsBefore);
    ASSERT_EQ(std::pair(result.micURL, result.systemURL),
        std::pair(std::optional(QDir(*session).filePath(u"upload_track.m4a"_s)),
            std::optional(QDir(*session).filePath(u"system_upload.m4a"_s))));
    const QJsonArray tracks = TestAudio::metadata(*session)["tracks"_L1].toArray();
    const QString urls[] = { *result.micURL, *result.systemURL };
    const QString segments[] = { u"mic_track_000.caf"_s, u"system_track_000.caf"_s };
    for (int t = 0; t < 2; ++t) {
        SCOPED_TRACE(urls[t].toStdString());
        const QJsonObject track = tracks.at(t).toObject();
        const auto segment = TestAudio::readSegment(QDir(*session).filePath(segments[t]));
        EXPECT_EQ(std::uint64_t(track.value("totalFrameCount"_L1).toInteger()), segment.frames()); // as counted
        const TestAudio::TrackInfo info = TestAudio::probe(urls[t]);
        EXPECT_EQ(std::tuple(info.codec, info.sampleRate, info.channels), std::tuple(u"aac"_s, 48000, t + 1));
        EXPECT_NEAR(info.durationSeconds, track.value("durationSeconds"_L1).toDouble(), 1024.0 / 48000);
        EXPECT_NEAR(TestAudio::loudSeconds(TestAudio::decodeMono(urls[t]), 48000), 2.0, 0.05); // each frame once
        EXPECT_TRUE(log.containsPrefix(u"[LiveTrackEncoder] Finished "_s + QFileInfo(urls[t]).fileName())); // live
        expectWholeTrack(urls[t], track["files"_L1].toArray());
    }

    const bool inRange = std::ranges::all_of(levels, [](float l) { return l >= 0.0f && l <= 1.0f; });
    EXPECT_EQ(std::tuple(levels.size() > 10, levelsOffMain, inRange), std::tuple(true, 0, true));
}

TEST_F(AudioCaptureManagerTest, DeviceChangesRestartCaptureQuittingFinalizesAndAFailedFinalizeKeepsTheSegments)
{
    {
        // A manager that never started has nothing to stop and touches no file.
        AudioCaptureManager idle(quickTimings(), writerOptions());
        EXPECT_TRUE(nothing(await(idle.stopCapture())) && idle.stopForQuit(1000ms));
        EXPECT_TRUE(QDir(documents.path()).isEmpty());
        EXPECT_TRUE(log.lines().isEmpty()) << joined(log.lines());
    }
    const SoundPlayer output(u"speakers"_s, 440);
    const SoundPlayer voice(u"micfeed"_s, 300);
    const int streamsBefore = int(SoundTools::sourceOutputIndices().size());
    // A new default device restarts capture once, then cools down; the changed track goes on in a new segment.
    const SoundPlayer second(u"micfeed2"_s, 500);
    for (const auto& [name, command, device, back, track] :
        { std::tuple { "microphone", u"set-default-source"_s, u"virtual_mic2"_s, u"virtual_mic"_s, 0 },
            std::tuple { "output alone", u"set-default-sink"_s, u"micfeed2"_s, u"speakers"_s, 1 } }) {
        const QString secondSegment = track ? u"system_track_001.caf"_s : u"mic_track_001.caf"_s;
        SCOPED_TRACE(name);
        log.clear();
        AudioCaptureManager manager(quickTimings(), writerOptions());
        int micBuffers = 0;
        manager.setOnMicLevel([&](float) { ++micBuffers; });
        manager.start();
        ASSERT_TRUE(recording());

        ASSERT_TRUE(SoundTools::pactl({ command, device }));
        ASSERT_TRUE(logged(u"Restarted capture services; cooldown active for 5s"_s));
        ASSERT_TRUE(SoundTools::pactl({ command, back })); // back within the cool-down: noted and ignored
        ASSERT_TRUE(logged(u"Ignoring hardware change during cooldown"_s));
        ASSERT_TRUE(waitUntil([&] { return log.count(flowing) == 2; }, 10000)) << "system audio flows again";
        ASSERT_TRUE(
            waitUntil([&, seen = micBuffers] { return micBuffers >= seen + 10; })); // a second of the new format
        const CaptureSessionResult result = await(manager.stopCapture());
        // The same session; the new format gets a segment of its own, the change back none.
        ASSERT_TRUE(result.micURL && result.systemURL);
        const QJsonArray tracks = TestAudio::metadata(QFileInfo(*result.micURL).path())["tracks"_L1].toArray();
        const QJsonArray files = tracks[track]["files"_L1].toArray();
        EXPECT_EQ(files.size() == 2 ? files[1].toString() : QString(), secondSegment);
        EXPECT_EQ(TestAudio::readSegment(QFileInfo(*result.micURL).dir().filePath(secondSegment)).sampleRate,
            SoundTools::sourceRateAndChannels(track ? device + u".monitor"_s : device).first);
        EXPECT_EQ(TestAudio::probe(track == 0 ? *result.micURL : *result.systemURL).sampleRate, 48000);
        // Each track, both formats in one, was encoded while recording.
        for (const auto& [t, url] : { std::pair(0, *result.micURL), std::pair(1, *result.systemURL) }) {
            EXPECT_TRUE(log.containsPrefix(u"[LiveTrackEncoder] Finished "_s + QFileInfo(url).fileName()));
            expectWholeTrack(url, tracks[t]["files"_L1].toArray());
        }
    }

    // A silent microphone after a restart is retried alone once, unless stopped first.
    CaptureTimings timings = quickTimings();
    timings.micVerificationWindow = 2000ms;
    // pipewire-pulse wakes a suspended source for a new stream, so there it is never silent.
    for (const bool stopping : { false, true }) {
        if (SoundTools::isPipeWire() && !stopping)
            continue;
        SCOPED_TRACE(stopping ? "stopped during the verification" : "left to retry");
        log.clear();
        ASSERT_TRUE(SoundTools::pactl({ u"set-default-source"_s, u"virtual_mic"_s }));
        ASSERT_TRUE(SoundTools::pactl({ u"suspend-source"_s, u"virtual_mic2"_s, u"1"_s })); // takes a stream, is silent
        AudioCaptureManager manager(timings, writerOptions());
        manager.start();
        ASSERT_TRUE(recording());
        ASSERT_TRUE(SoundTools::pactl({ u"set-default-source"_s, u"virtual_mic2"_s }));
        ASSERT_TRUE(logged(u"Starting capture services after hardware settle"_s));
        ASSERT_TRUE(waitUntil([] { return !SoundTools::sourceOutputIndices({}, u"virtual_mic2"_s).isEmpty(); }, 5000));
        if (stopping) {
            EXPECT_TRUE(await(manager.stopCapture()).micURL);
            EXPECT_EQ(int(SoundTools::sourceOutputIndices().size()), streamsBefore);
            break;
        }
        // While the rebuilt microphone is being verified, the server ends its stream: one more change, ignored.
        ASSERT_TRUE(SoundTools::killSourceOutput(SoundTools::sourceOutputIndices({}, u"virtual_mic2"_s).value(0)));
        ASSERT_TRUE(logged(u"Restarted capture services; cooldown active for 5s"_s));
        const QStringList lines = restartLines();
        const CaptureSessionResult result = await(manager.stopCapture());
        EXPECT_EQ(joined(lines),
            joined(u"Hardware changed — stopping mic + system tap|Starting capture services "
                   u"after hardware settle|Hardware restart already in progress|Mic silent after "
                   u"restart — retrying mic only|Mic-only retry: still silent|Restarted capture "
                   u"services; cooldown active for 5s"_s.split(u'|')));
        EXPECT_TRUE(result.micURL && result.systemURL); // what the first microphone recorded is still the mic track
    }

    // Through 30 later microphone buffers (2.5 s, past the verification window) the stopped restart is silent.
    ASSERT_TRUE(SoundTools::pactl({ u"set-default-source"_s, u"virtual_mic"_s }));
    log.clear();
    AudioCaptureManager later(quickTimings(), writerOptions());
    int buffers = 0;
    later.setOnMicLevel([&](float) { ++buffers; });
    later.start();
    ASSERT_TRUE(waitUntil([&] { return buffers >= 30; }, 15000));
    EXPECT_EQ(int(SoundTools::sourceOutputIndices().size()), streamsBefore + 2);
    await(later.stopCapture());
    EXPECT_TRUE(restartLines().filter(QRegularExpression(u"^(Mic silent|Restarted capture)"_s)).isEmpty());

    for (const auto& [quitting, finalizeFails] :
        { std::pair { true, false }, std::pair { true, true }, std::pair { false, true } }) {
        SCOPED_TRACE(std::string(quitting ? "quitting" : "stopping") + (finalizeFails ? ", the finalize fails" : ""));
        log.clear();
        AudioCaptureManager manager(quickTimings(), writerOptions());
        manager.start();
        const QString session = manager.sessionDirectory().value();
        ASSERT_TRUE(recording());
        if (finalizeFails) { // a directory where the metadata goes: the finalize cannot write it
            ASSERT_TRUE(QDir(session).mkdir(u"metadata.json"_s));
        }
        EXPECT_TRUE(quitting ? manager.stopForQuit(5000ms) == !finalizeFails : nothing(await(manager.stopCapture())));
        EXPECT_FALSE(manager.isRunning());
        EXPECT_EQ(int(SoundTools::sourceOutputIndices().size()), streamsBefore);
        EXPECT_TRUE(QDir(session).entryList({ u"*.m4a"_s }).isEmpty());
        EXPECT_EQ(TestAudio::metadata(session)["tracks"_L1].toArray().size(), finalizeFails ? 0 : 2);
        if (finalizeFails) {
            EXPECT_GT(TestAudio::readSegment(QDir(session).filePath(u"mic_track_000.caf"_s)).frames(), 0u);
            EXPECT_GT(TestAudio::readSegment(QDir(session).filePath(u"system_track_000.caf"_s)).frames(), 0u);
        }
        EXPECT_TRUE(nothing(await(manager.stopCapture()))); // nothing is left to stop
    }
}

namespace {

// The module's push, failing for the microphone's track (the one mono source here) from its tenth buffer on.
EqMediaLivePush modulePush = nullptr;
int micPushes = 0;
int failingPush(EqMediaLiveTrack* track, const void* const* planes, int frames, int format, int interleaved,
    double rate, int channels, EqMediaFailure* failure)
{
    if (channels == 1 && ++micPushes >= 10) {
        *failure = { eqMediaExportFailed, 0, "broken on purpose", "" };
        return 1;
    }
    return modulePush(track, planes, frames, format, interleaved, rate, channels, failure);
}

}

TEST_F(AudioCaptureManagerTest, AnEncoderFailingWhileRecordingLeavesItsTrackToTheExport)
{
    MediaModule& module = MediaModule::replaceableForTests();
    modulePush = std::exchange(module.livePush, failingPush), micPushes = 0;
    const auto restore = qScopeGuard([&] { module.livePush = modulePush; });
    const SoundPlayer output(u"speakers"_s, 440);
    const SoundPlayer voice(u"micfeed"_s, 300);
    AudioCaptureManager manager(quickTimings(), writerOptions());
    manager.start();
    const QString session = manager.sessionDirectory().value();
    const QString gaveUp = u"[LiveTrackEncoder] upload_track.m4a: encoding while recording stopped (Audio export "
                           u"failed: broken on purpose) — the track will be made from the segments"_s;
    ASSERT_TRUE(waitUntil([&] { return log.contains(gaveUp); }));
    const CaptureSessionResult result = await(manager.stopCapture());
    ASSERT_TRUE(result.micURL && result.systemURL);
    // The microphone's track is the export of its segments; the system's was still encoded while recording.
    EXPECT_FALSE(log.containsPrefix(u"[LiveTrackEncoder] Finished upload_track.m4a"_s));
    EXPECT_TRUE(log.containsPrefix(u"[LiveTrackEncoder] Finished system_upload.m4a"_s));
    const QJsonArray tracks = TestAudio::metadata(session)["tracks"_L1].toArray();
    expectWholeTrack(*result.micURL, tracks[0]["files"_L1].toArray());
    expectWholeTrack(*result.systemURL, tracks[1]["files"_L1].toArray());
}

TEST_F(AudioCaptureManagerTest, WithoutSystemOutputTheRecordingGoesOnMicOnly)
{
    // A server of our own with no output device, and at first no microphone either.
    PrivateSoundServer server;
    ASSERT_TRUE(server.isReady() && SoundTools::pactl({ u"unload-module"_s, u"module-null-sink"_s }, server.address()));
    {
        AudioCaptureManager manager(quickTimings(), writerOptions());
        manager.setSoundServer(server.address());
        EXPECT_THROW(manager.start(), SoundServerError);
        EXPECT_TRUE(!manager.isRunning() && manager.sessionDirectory() && nothing(await(manager.stopCapture())));
    }
    ASSERT_TRUE(
        SoundTools::pactl({ u"load-module"_s, u"module-null-source"_s, u"source_name=lonely"_s }, server.address()));

    AudioCaptureManager manager(quickTimings(), writerOptions());
    manager.setSoundServer(server.address());
    QStringList unavailable;
    int offMain = 0;
    manager.setOnSystemTapUnavailable([&](const QString& why) { unavailable << why, offMain += !onMainThread(); });
    log.clear();
    manager.start();
    EXPECT_TRUE(manager.isRunning() && !manager.isSystemAudioRunning());
    ASSERT_TRUE(waitUntil([&] { return unavailable.size() == 1; }));
    EXPECT_TRUE(unavailable[0].startsWith(u"No output device to record the computer sound from ("_s))
        << unavailable[0].toStdString();
    ASSERT_TRUE(recording(false));

    // The only microphone goes away: the rebuild cannot start one and says so.
    ASSERT_TRUE(SoundTools::pactl({ u"unload-module"_s, u"module-null-source"_s }, server.address()));
    ASSERT_TRUE(waitUntil([&] { return unavailable.size() == 2; }, 10000));
    EXPECT_EQ(offMain, 0);

    const CaptureSessionResult result = await(manager.stopCapture());
    ASSERT_TRUE(result.micURL && !result.systemURL);
    EXPECT_TRUE(QFile::exists(*result.micURL));
    EXPECT_FALSE(QFile::exists(QFileInfo(*result.micURL).dir().filePath(u"system_upload.m4a"_s)));
}
