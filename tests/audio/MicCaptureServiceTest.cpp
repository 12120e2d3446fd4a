#include "Await.h"
#include "BufferCollector.h"
#include "Log.h"
#include "MicCaptureService.h"
#include "SoundPlayer.h"
#include "SoundServerError.h"
#include "SoundTools.h"

#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <pulse/def.h>

using namespace Qt::StringLiterals;

namespace {

class MicCaptureServiceTest : public ::testing::Test {
protected:
    void TearDown() override { SoundTools::pactl({ u"set-default-source"_s, u"virtual_mic"_s }); }

    static bool quietFor(int ms)
    {
        QThread::msleep(ms);
        return true;
    }

    SerialQueue queue { u"test.audiowrite"_s };
    BufferCollector collected { queue };
    Log::Capture log;
    QTemporaryDir dir;
};

}

TEST_F(MicCaptureServiceTest, SpeechIntoTheDefaultSourceArrivesOnTheWriteQueue)
{
    MicCaptureService mic(queue);
    mic.setOnBuffer(collected.handler());
    mic.start();
    EXPECT_TRUE(mic.isRunning());
    EXPECT_TRUE(log.contains(u"[MicCaptureService] start() inputFormat=48000.0Hz/1ch/interleaved=true"_s));
    EXPECT_TRUE(log.contains(u"[MicCaptureService] Engine started"_s));

    const auto speech = SoundPlayer::file(SoundTools::speechFile(dir.path()), u"micfeed"_s, 20);
    ASSERT_TRUE(waitUntil([&] { return collected.count() >= 25 && collected.maxRms() > 0.02; }, 20000))
        << collected.count() << " buffers, loudest " << collected.maxRms();

    const AudioFormat expected { 48000, 1, AudioFormat::CommonFormat::Float32, true };
    for (const CapturedAudioBuffer &buffer : collected.buffers()) {
        EXPECT_EQ(buffer.source, AudioCaptureSource::mic);
        EXPECT_EQ(buffer.format, expected);
        // About one fragment each, whatever pieces the server sent.
        EXPECT_GE(buffer.frameCount, MicCaptureService::tapBufferFrames);
        EXPECT_LE(buffer.frameCount, 2 * MicCaptureService::tapBufferFrames);
        EXPECT_EQ(buffer.pcmBuffer->frameLength(), buffer.frameCount);
    }
    EXPECT_EQ(collected.deliveredOffQueue(), 0);

    // Exactly the first 20 buffers are logged, numbered from #0.
    const QStringList lines = log.lines().filter(u"[MicCaptureService] Tap buffer #"_s);
    ASSERT_EQ(lines.size(), 20);
    for (int i = 0; i < 20; ++i) {
        EXPECT_TRUE(lines[i].startsWith(u"[MicCaptureService] Tap buffer #%1: frames="_s.arg(i))) << lines[i].toStdString();
        EXPECT_TRUE(lines[i].endsWith(u" 48000.0Hz/1ch/interleaved=true"_s)) << lines[i].toStdString();
    }

    // After a restart the numbering begins again.
    mic.stop();
    EXPECT_FALSE(mic.isRunning());
    log.clear();
    mic.start();
    ASSERT_TRUE(waitUntil([&] { return log.containsPrefix(u"[MicCaptureService] Tap buffer #0: "_s); }, 10000));
    mic.stop();
}

TEST_F(MicCaptureServiceTest, SecondStartOpensNoSecondStream)
{
    const int before = int(SoundTools::sourceOutputIndices().size());
    MicCaptureService mic(queue);
    mic.start();
    mic.start();
    EXPECT_EQ(log.count(u"[MicCaptureService] start() inputFormat="_s), 1);
    EXPECT_EQ(SoundTools::sourceOutputIndices().size(), before + 1);
    mic.stop();
    EXPECT_TRUE(waitUntil([&] { return SoundTools::sourceOutputIndices().size() == before; }, 5000));
}

TEST_F(MicCaptureServiceTest, DeviceChangesAreReportedOnlyWhileRunning)
{
    std::atomic<int> changes = 0;
    MicCaptureService mic(queue);
    mic.setOnConfigurationChange([&changes] { ++changes; });
    mic.start();
    mic.stop();

    ASSERT_TRUE(SoundTools::pactl({ u"set-default-source"_s, u"virtual_mic2"_s }));
    quietFor(700);
    EXPECT_EQ(changes, 0);
    EXPECT_FALSE(log.contains(u"[MicCaptureService] Audio hardware changed"_s));

    // The capture follows the new default in its own format.
    const QStringList others = SoundTools::sourceOutputIndices();
    mic.start();
    EXPECT_TRUE(log.contains(u"[MicCaptureService] start() inputFormat=44100.0Hz/2ch/interleaved=true"_s));
    ASSERT_TRUE(SoundTools::pactl({ u"set-default-source"_s, u"virtual_mic"_s }));
    ASSERT_TRUE(waitUntil([&] { return changes == 1; }, 5000));
    EXPECT_TRUE(log.contains(u"[MicCaptureService] Audio hardware changed"_s));

    // The server ending the stream is a change too.
    for (const QString &index : SoundTools::sourceOutputIndices()) {
        if (!others.contains(index)) {
            ASSERT_TRUE(SoundTools::killSourceOutput(index));
        }
    }
    ASSERT_TRUE(waitUntil([&] { return changes == 2; }, 5000));
    mic.stop();
}

TEST_F(MicCaptureServiceTest, StartFailsWithTheServersError)
{
    MicCaptureService mic(queue, u"unix:/nonexistent/echoquill/native"_s);
    try {
        mic.start();
        ADD_FAILURE() << "started without a server";
    } catch (const SoundServerError &error) {
        EXPECT_EQ(error.code(), PA_ERR_CONNECTIONREFUSED);
        EXPECT_EQ(error.description(), u"Could not connect to the sound server: Connection refused"_s);
    }
    EXPECT_FALSE(mic.isRunning());
    EXPECT_FALSE(log.contains(u"[MicCaptureService] Engine started"_s));
}
