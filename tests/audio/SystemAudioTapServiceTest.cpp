#include "SystemAudioTapService.h"
#include "Await.h"
#include "BufferCollector.h"
#include "Log.h"
#include "PrivateSoundServer.h"
#include "SoundPlayer.h"
#include "SoundTools.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <pulse/def.h>

using namespace Qt::StringLiterals;
using SystemTapError = SystemAudioTapService::SystemTapError;

namespace {

class SystemAudioTapServiceTest : public ::testing::Test {
protected:
    template <class F> static std::optional<SystemTapError> tapError(F&& call)
    {
        try {
            call();
        } catch (const SystemTapError& error) {
            return error;
        }
        return std::nullopt;
    }

    SerialQueue queue { u"test.audiowrite"_s };
    BufferCollector collected { queue };
    Log::Capture log;
};

}

TEST_F(SystemAudioTapServiceTest, ToneIntoTheDefaultSinkArrivesThroughItsMonitor)
{
    const auto before = SoundTools::sourceOutputIndices();
    SystemAudioTapService tap(queue);
    tap.setOnBuffer(collected.handler());
    tap.start();
    tap.start();
    ASSERT_TRUE(tap.isRunning());
    EXPECT_TRUE(
        log.contains(u"[SystemAudioTapService] Tap format: sampleRate=48000.0 channels=2 bytesPerFrame=8 flags=9"_s));

    // One stream, named in the log with the monitor it records.
    const auto after = SoundTools::sourceOutputIndices();
    ASSERT_EQ(after.size(), before.size() + 1);
    QString stream;
    for (const QString& index : after)
        stream = before.contains(index) ? stream : index;
    EXPECT_EQ(log.lines().filter(u"AudioDeviceStart succeeded"_s),
        QStringList { u"[SystemAudioTapService] AudioDeviceStart succeeded — aggregateDeviceID=%1 tapID=%2"_s.arg(
            stream, SoundTools::sourceIndex(u"speakers.monitor"_s)) });

    const SoundPlayer tone(u"speakers"_s, 440);
    ASSERT_TRUE(waitUntil([&] { return collected.count() >= 25 && collected.maxRms() > 0.2; }, 20000))
        << collected.count() << " buffers, loudest " << collected.maxRms();
    const AudioFormat expected { 48000, 2, AudioFormat::CommonFormat::Float32, true };
    for (const CapturedAudioBuffer& buffer : collected.buffers()) {
        EXPECT_EQ(buffer.source, AudioCaptureSource::systemOutput);
        EXPECT_EQ(buffer.format, expected);
        EXPECT_EQ(buffer.pcmBuffer->frameLength(), buffer.frameCount);
    }
    EXPECT_EQ(collected.deliveredOffQueue(), 0);

    // The first 20 cycles are logged, frames following from the byte size.
    const QStringList lines = log.lines().filter(u"[SystemAudioTapService] IOProc #"_s);
    ASSERT_EQ(lines.size(), 20);
    const auto last = QRegularExpression(
        u"^\\[SystemAudioTapService\\] IOProc #19: buffers=1 sizes=\\[(\\d+)\\] frames=(\\d+) 48000.0Hz/2ch interleaved=true$"_s)
                          .match(lines.last());
    ASSERT_TRUE(last.hasMatch()) << lines.last().toStdString();
    EXPECT_EQ(last.captured(1).toInt() / 8, last.captured(2).toInt());

    tap.stop();
    EXPECT_FALSE(tap.isRunning());
    EXPECT_FALSE(tap.tapFormat().has_value());
    EXPECT_TRUE(waitUntil([&] { return SoundTools::sourceOutputIndices() == before; }, 5000));
}

TEST_F(SystemAudioTapServiceTest, SetupFailuresNameTheirStepAndLeaveNothingBehind)
{
    PrivateSoundServer server;
    ASSERT_TRUE(server.isReady());
    {
        SystemAudioTapService tap(queue, server.address());
        tap.start();
        EXPECT_TRUE(tap.isRunning());
        EXPECT_EQ(SoundTools::sourceOutputIndices(server.address()).size(), 1);
    }

    // Without a default sink there is no monitor to record.
    ASSERT_TRUE(SoundTools::pactl({ u"unload-module"_s, u"module-null-sink"_s }, server.address()));
    SystemAudioTapService tap(queue, server.address());
    const auto noSink = tapError([&] { tap.start(); });
    ASSERT_TRUE(noSink);
    EXPECT_EQ(noSink->kind(), SystemTapError::tapUIDReadFailed);
    EXPECT_EQ(noSink->status(), PA_ERR_NOENTITY);
    EXPECT_EQ(noSink->description(), u"Could not read tap UID (5)"_s);
    EXPECT_FALSE(tap.isRunning());
    EXPECT_TRUE(waitUntil([&] { return SoundTools::sourceOutputIndices(server.address()).isEmpty(); }, 5000));

    SystemAudioTapService unreachable(queue, u"unix:/nonexistent/echoquill/native"_s);
    const auto noServer = tapError([&] { unreachable.start(); });
    ASSERT_TRUE(noServer);
    EXPECT_EQ(noServer->kind(), SystemTapError::tapCreationFailed);
    EXPECT_EQ(noServer->description(), u"Process tap creation failed (6)"_s);
    // Both failures came before the format was read.
    EXPECT_EQ(log.count(u"[SystemAudioTapService] Tap format:"_s), 1);
}
