// Capture at the edges of a recording: what the sound server still holds when a
// stream stops, and a disk that fills up during a recording.
#include "AudioCaptureManager.h"
#include "AudioRecorder.h"
#include "Await.h"
#include "BufferCollector.h"
#include "MicCaptureService.h"
#include "SoundPlayer.h"
#include "SoundTools.h"
#include "TestAudio.h"

#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <numeric>

#include <sys/mount.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

std::uint64_t framesIn(const std::vector<CapturedAudioBuffer> &buffers)
{
    return std::accumulate(buffers.begin(), buffers.end(), std::uint64_t(0),
                           [](std::uint64_t sum, const CapturedAudioBuffer &b) { return sum + b.frameCount; });
}

}

// Stopped right after a fragment arrived, the stream still hands over the next one, which the
// server was filling; without that every stop loses up to a fragment (~85 ms).
TEST(CaptureResilienceTest, AStopKeepsTheFragmentInFlight)
{
    SerialQueue queue{u"test.audiowrite"_s};
    BufferCollector collected{queue};
    MicCaptureService mic(queue);
    mic.setOnBuffer(collected.handler());
    const auto tone = SoundPlayer::tone(u"micfeed"_s, 30);
    mic.start();
    ASSERT_TRUE(waitUntil([&] { return collected.count() >= 3; }, 15000));
    const std::size_t seen = collected.count();
    ASSERT_TRUE(waitUntil([&] { return collected.count() > seen; }, 5000));
    const std::uint64_t before = framesIn(collected.buffers());

    mic.stop();
    queue.sync([] {});
    const std::uint64_t after = framesIn(collected.buffers());
    EXPECT_GE(after - before, MicCaptureService::tapBufferFrames / 2) << "the fragment in flight was dropped";
}

// A recordings folder on a 12 MB disk (about 20 s of both sources): the recording stops by
// itself when the disk is full, keeps what was written, says why, and still makes its upload
// tracks; with the disk full the next recording is refused.
TEST(CaptureResilienceTest, AFullDiskStopsTheRecordingWithWhatWasWritten)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small disk (tmpfs) needs root";
    QTemporaryDir mountPoint;
    const QByteArray where = QFile::encodeName(mountPoint.path());
    ASSERT_EQ(::mount("tmpfs", where.constData(), "tmpfs", 0, "size=12m"), 0) << std::strerror(errno);
    const auto unmount = qScopeGuard([&] { ::umount2(where.constData(), MNT_DETACH); });

    AudioRecorder recorder(
        [&] {
            AudioTrackWriter::Options options;
            options.documentsDirectory = mountPoint.path();
            auto manager = std::make_unique<AudioCaptureManager>(CaptureTimings {}, options);
            manager->setDiskLimits({ 4'000'000, 3'000'000 });
            return manager;
        },
        nullptr);
    const auto speech = SoundPlayer::tone(u"micfeed"_s, 60, 300);
    const auto meeting = SoundPlayer::tone(u"speakers"_s, 60, 440);
    recorder.start();
    ASSERT_TRUE(waitUntil([&] { return recorder.isRecording(); }, 15000));
    EXPECT_EQ(recorder.timeLeft(), u"Less than a minute left"_s);
    const QString session = recorder.currentFileURL().value_or(QString());

    ASSERT_TRUE(waitUntil([&] { return !recorder.isRecording(); }, 60000)) << "the recording ran on with the disk full";
    EXPECT_EQ(recorder.notice(), u"Recording stopped: the disk is full"_s);
    const QDir dir(session);
    ASSERT_TRUE(waitUntil([&] { return dir.exists(u"upload_track.m4a"_s) && dir.exists(u"metadata.json"_s); }, 30000))
        << dir.entryList().join(u' ').toStdString();
    for (const QString &name : {u"mic_track_000.caf"_s, u"system_track_000.caf"_s}) {
        const TestAudio::SegmentContents written = TestAudio::readSegment(dir.filePath(name));
        ASSERT_TRUE(written.opened) << name.toStdString();
        EXPECT_GT(double(written.frames()) / written.sampleRate, 5.0) << name.toStdString();
        EXPECT_GT(TestAudio::rms(written.interleaved, 0, written.interleaved.size()), 0.1)
            << name.toStdString() << " holds the tone";
    }

    recorder.start();
    ASSERT_TRUE(waitUntil([&] { return recorder.notice() == u"Not enough disk space to record"_s; }, 15000));
    EXPECT_FALSE(recorder.isRecording());
}

// The default output silent, a tone on a second device (a headset the meeting app plays to) and
// nothing at the microphone: the recording names the device, one tap records the tone from
// there, and the silent microphone is still pointed out.
TEST(CaptureResilienceTest, SilenceIsPointedOutAndSoundElsewhereCanBeRecorded)
{
    const std::optional<QString> module = SoundTools::pactl({u"load-module"_s, u"module-null-sink"_s, u"sink_name=headset"_s,
                                                             u"sink_properties=device.description=Headset"_s, u"rate=48000"_s});
    ASSERT_TRUE(module);
    const auto unload = qScopeGuard([&] { SoundTools::pactl({u"unload-module"_s, module->trimmed()}); });
    QTemporaryDir documents;
    CaptureTimings timings;
    timings.silenceWarningAfter = 2000ms;
    AudioRecorder recorder(
        [&] {
            AudioTrackWriter::Options options;
            options.documentsDirectory = documents.path();
            return std::make_unique<AudioCaptureManager>(timings, options);
        },
        nullptr);
    const auto call = SoundPlayer::tone(u"headset"_s, 60, 660);
    recorder.start();
    ASSERT_TRUE(waitUntil([&] { return recorder.isRecording(); }, 15000));
    const QString session = recorder.currentFileURL().value_or(QString());

    ASSERT_TRUE(waitUntil([&] { return recorder.captureWarning() == u"Computer sound is playing on Headset"_s; }, 15000))
        << recorder.captureWarning().toStdString();
    ASSERT_TRUE(recorder.canCaptureElsewhere());
    recorder.captureElsewhere();
    const QDir dir(session);
    double tail = 0;
    EXPECT_TRUE(waitUntil(
        [&] {
            const QStringList system = dir.entryList({u"system_track_*.caf"_s}, QDir::Files, QDir::Name);
            const TestAudio::SegmentContents last = system.isEmpty() ? TestAudio::SegmentContents {} : TestAudio::readSegment(dir.filePath(system.last()));
            const std::size_t half = std::size_t(last.sampleRate / 2) * std::size_t(last.channels);
            tail = last.interleaved.size() >= half
                ? TestAudio::rms(last.interleaved, last.interleaved.size() - half, last.interleaved.size())
                : 0;
            return tail > 0.1;
        },
        15000))
        << "the tone on the headset is not in the system track: " << tail;
    EXPECT_EQ(recorder.captureWarning(), u"Microphone is silent"_s);
    recorder.stopRecording();
    EXPECT_TRUE(recorder.captureWarning().isEmpty());
    EXPECT_TRUE(waitUntil([&] { return dir.exists(u"metadata.json"_s); }, 30000));
}
