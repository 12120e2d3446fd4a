// Capture at the edges of a recording: a stream that stops, a disk that fills up, sound on another device.
#include "Await.h"
#include "BufferCollector.h"
#include "MicCaptureService.h"
#include "QuickRecorder.h"
#include "SoundPlayer.h"
#include "SoundTools.h"
#include "TestAudio.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <numeric>

#include <sys/mount.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

// Stopped right after a fragment arrived, the stream still hands over the one the server was filling (~128 ms).
TEST(CaptureResilienceTest, AStopKeepsTheFragmentInFlight)
{
    SerialQueue queue { u"test.audiowrite"_s };
    BufferCollector collected { queue };
    MicCaptureService mic(queue);
    mic.setOnBuffer(collected.handler());
    const auto frames = [&](const std::vector<CapturedAudioBuffer>& all) {
        return std::accumulate(all.begin(), all.end(), 0ull, [](auto sum, auto& b) { return sum + b.frameCount; });
    };
    const auto tone = SoundPlayer::tone(u"micfeed"_s, 30);
    mic.start();
    ASSERT_TRUE(waitUntil([&] { return collected.count() >= 3; }, 15000));
    const std::size_t seen = collected.count();
    ASSERT_TRUE(waitUntil([&] { return collected.count() > seen; }, 5000));
    const std::uint64_t before = frames(collected.buffers());
    mic.stop();
    queue.sync([] {});
    EXPECT_GE(frames(collected.buffers()) - before, MicCaptureService::tapBufferFrames / 2) << "fragment dropped";
}

// On a 12 MB disk (20 s of sound) a recording stops by itself, keeps its tracks, says why; the next is refused.
TEST(CaptureResilienceTest, AFullDiskStopsTheRecordingWithWhatWasWritten)
{
    if (::geteuid() != 0) {
        // Without root, the test runs again in a user and mount namespace of its own, where it may mount one.
        if (QProcess::execute(u"unshare"_s, { u"-rm"_s, u"true"_s }) != 0) {
            if (qEnvironmentVariableIsSet("CI"))
                FAIL() << "mounting a small disk (tmpfs) needs root or a user namespace, and neither is here";
            GTEST_SKIP() << "mounting a small disk (tmpfs) needs root or a user namespace";
        }
        const QString self = u"--gtest_filter="_s + ::testing::UnitTest::GetInstance()->current_test_suite()->name()
            + u"."_s + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        EXPECT_EQ(QProcess::execute(u"unshare"_s, { u"-rm"_s, QCoreApplication::applicationFilePath(), self }), 0);
        return;
    }
    QTemporaryDir mountPoint;
    const QByteArray where = QFile::encodeName(mountPoint.path());
    ASSERT_EQ(::mount("tmpfs", where.constData(), "tmpfs", 0, "size=12m"), 0);
    const auto unmount = qScopeGuard([&] { ::umount2(where.constData(), MNT_DETACH); });
    const DiskLimits small { 4'000'000, 3'000'000 };
    const auto rec = makeQuickRecorder(mountPoint.path(), {}, {}, &small);
    const auto speech = SoundPlayer::tone(u"micfeed"_s, 60, 300), meeting = SoundPlayer::tone(u"speakers"_s, 60, 440);
    rec->start();
    ASSERT_TRUE(waitUntil([&] { return rec->isRecording(); }, 15000));
    EXPECT_EQ(rec->timeLeft(), u"Less than a minute left"_s);
    const QDir dir(rec->sessionFolder().value_or(QString()));

    ASSERT_TRUE(waitUntil([&] { return !rec->isRecording(); }, 60000)) << "the recording ran on, the disk full";
    EXPECT_EQ(rec->notice(), u"Recording stopped: the disk is full"_s);
    ASSERT_TRUE(waitUntil([&] { return dir.exists(u"upload_track.m4a"_s) && dir.exists(u"metadata.json"_s); }, 30000));
    for (const QString& name : { u"mic_track_000.caf"_s, u"system_track_000.caf"_s }) {
        const TestAudio::SegmentContents kept = TestAudio::readSegment(dir.filePath(name));
        EXPECT_GT(TestAudio::loudSeconds(kept.interleaved, kept.sampleRate * kept.channels), 5.0) << name.toStdString();
    }
    rec->start();
    ASSERT_TRUE(waitUntil([&] { return rec->notice() == u"Not enough disk space to record"_s; }, 15000));
    EXPECT_FALSE(rec->isRecording());
}

// The default output and microphone silent, a tone on a headset: the recording names it, records it with one tap.
TEST(CaptureResilienceTest, SilenceIsPointedOutAndSoundElsewhereCanBeRecorded)
{
    const auto module = SoundTools::pactl(u"load-module module-null-sink sink_name=headset rate=48000"_s.split(u' ')
        << u"sink_properties=device.description=Headset"_s);
    ASSERT_TRUE(module);
    const auto unload = qScopeGuard([&] { SoundTools::pactl({ u"unload-module"_s, module->trimmed() }); });
    QTemporaryDir documents;
    const auto rec = makeQuickRecorder(documents.path(), { .silenceWarningAfter = std::chrono::seconds(2) });
    const auto call = SoundPlayer::tone(u"headset"_s, 60, 660);
    rec->start();
    ASSERT_TRUE(waitUntil([&] { return rec->isRecording(); }, 15000));
    const QDir dir(rec->sessionFolder().value_or(QString()));

    ASSERT_TRUE(waitUntil([&] { return rec->captureWarning() == u"Computer sound is playing on Headset"_s; }, 15000));
    ASSERT_TRUE(rec->canCaptureElsewhere());
    rec->captureElsewhere();
    // The newest system segment holds the tone.
    EXPECT_TRUE(waitUntil(
        [&] {
            const QStringList system = dir.entryList({ u"system_track_*.caf"_s }, QDir::Files, QDir::Name);
            const auto last = TestAudio::readSegment(system.isEmpty() ? QString() : dir.filePath(system.last()));
            return TestAudio::loudSeconds(last.interleaved, last.sampleRate * last.channels) > 0.3;
        },
        15000))
        << "the tone on the headset is not in the system track";
    EXPECT_EQ(rec->captureWarning(), u"Microphone is silent"_s);
    rec->stopRecording();
    EXPECT_TRUE(rec->captureWarning().isEmpty());
    EXPECT_TRUE(waitUntil([&] { return dir.exists(u"metadata.json"_s); }, 30000));
}
