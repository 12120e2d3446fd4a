// A client killed with SIGKILL in the middle of a recording: the segment
// files it leaves open with libsndfile and hold every frame played into both
// sources up to about a second before the kill (the writer brings each file's
// header up to date after every second of audio; what came after is in the
// file, unnamed).
#include "Await.h"
#include "SessionAudio.h"
#include "SoundPlayer.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <iostream>

using namespace Qt::StringLiterals;

namespace {

// The first channel of a source's first segment, as far as its header says.
std::vector<float> firstChannel(const SourceOnDisk &source)
{
    std::vector<float> out;
    if (source.segments.empty() || source.segments.front().channels <= 0)
        return out;
    const auto &segment = source.segments.front();
    for (std::size_t i = 0; i < segment.interleaved.size(); i += std::size_t(segment.channels))
        out.push_back(segment.interleaved[i]);
    return out;
}

// The loud part is readable whole: at least 1.9 s of it, then a third of a second of quiet.
bool holdsTheWholeTone(const SourceOnDisk &source)
{
    const std::vector<float> samples = firstChannel(source);
    const std::size_t block = 480;
    std::size_t lastLoud = 0;
    for (std::size_t from = 0; from + block <= samples.size(); from += block)
        lastLoud = TestAudio::rms(samples, from, from + block) > 0.1 ? from + block : lastLoud;
    return TestAudio::loudSeconds(samples, 48000) >= 1.9 && samples.size() >= lastLoud + 16000;
}

}

TEST(ClientKill, SegmentsOfAKilledRecordingHoldEveryFramePlayedUpToTheLastHeaderUpdate)
{
    // Quiet tones keep both null sinks delivering; two loud seconds are played once the recording runs.
    const SoundPlayer quietVoice = SoundPlayer::tone(u"micfeed"_s, 120, 300, -40);
    const SoundPlayer quietOutput = SoundPlayer::tone(u"speakers"_s, 120, 440, -40);
    QTemporaryDir documents;
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QStringLiteral(RECORDING_CHILD), { documents.path() });
    ASSERT_TRUE(child.waitForStarted());
    const auto reap = qScopeGuard([&] {
        child.kill();
        child.waitForFinished();
    });

    // The child prints "recording <folder>", then "duration <s> level <level>" at every tick.
    QString session;
    bool heard = false;
    ASSERT_TRUE(waitUntil(
        [&] {
            while (child.canReadLine()) {
                const QByteArray line = child.readLine().trimmed();
                if (line.startsWith("recording "))
                    session = QString::fromLocal8Bit(line.mid(10));
                heard = heard || (line.startsWith("duration ") && line.split(' ').value(3).toFloat() > 0);
            }
            return heard && !session.isEmpty();
        },
        30000))
        << "no sound reached the recorder";
    {
        const SoundPlayer voice = SoundPlayer::tone(u"micfeed"_s, 2.0, 300);
        const SoundPlayer output = SoundPlayer::tone(u"speakers"_s, 2.0);
        ASSERT_TRUE(waitUntil([&] { return !voice.isPlaying() && !output.isPlaying(); }, 15000));
    }
    ASSERT_TRUE(waitUntil(
        [&] {
            child.readAll();
            return holdsTheWholeTone(SourceOnDisk::read(session, u"mic_track_"_s))
                && holdsTheWholeTone(SourceOnDisk::read(session, u"system_track_"_s));
        },
        15000))
        << "the tone did not reach the files' headers";
    ASSERT_EQ(child.state(), QProcess::Running) << "the recording child ended by itself";
    child.kill();
    ASSERT_TRUE(child.waitForFinished());
    ASSERT_EQ(child.exitStatus(), QProcess::CrashExit);

    EXPECT_FALSE(QDir(session).exists(u"metadata.json"_s)) << "the session was never finalized";
    std::cout << "[figure] client killed with SIGKILL:";
    for (const auto &[prefix, channels] : { std::pair { u"mic_track_"_s, 1 }, std::pair { u"system_track_"_s, 2 } }) {
        SCOPED_TRACE(prefix.toStdString());
        const SourceOnDisk source = SourceOnDisk::read(session, prefix);
        ASSERT_EQ(source.fileNames.size(), 1u) << source.fileNames.join(u' ').toStdString();
        ASSERT_TRUE(source.allOpened());
        EXPECT_EQ(source.segments.front().sampleRate, 48000);
        EXPECT_EQ(source.segments.front().channels, channels);
        // What plays reaches the last header update: at most a second and one buffer back from what was written.
        const double seconds = source.seconds();
        const double written = source.writtenSeconds();
        EXPECT_GE(seconds, written - 1.1);
        EXPECT_LE(seconds, written);
        // Every frame of the tone once: nothing lost, nothing doubled.
        EXPECT_NEAR(TestAudio::loudSeconds(firstChannel(source), 48000), 2.0, 0.05);
        std::cout << u" %1 opens and plays %2 s of the %3 s written"_s.arg(source.fileNames.front())
                         .arg(seconds, 0, 'f', 2)
                         .arg(written, 0, 'f', 2)
                         .toStdString();
    }
    std::cout << "\n";
}
