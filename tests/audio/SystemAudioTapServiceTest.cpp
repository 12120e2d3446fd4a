#include "SystemAudioTapService.h"
#include "Await.h"
#include "BufferCollector.h"
#include "PrivateSoundServer.h"
#include "Raised.h"
#include "SoundPlayer.h"
#include "SoundTools.h"

#include <gtest/gtest.h>

#include <pulse/def.h>

using namespace Qt::StringLiterals;
using SystemTapError = SystemAudioTapService::SystemTapError;

namespace {

class SystemAudioTapServiceTest : public ::testing::Test {
protected:
    SerialQueue queue { u"test.audiowrite"_s };
    BufferCollector collected { queue };
};

}

// What the monitor delivers, and that a stop closes its stream, the capture manager's test checks in the tracks.
TEST_F(SystemAudioTapServiceTest, OneStreamDeliversOnTheWriteQueue)
{
    const auto before = SoundTools::sourceOutputIndices();
    SystemAudioTapService tap(queue);
    tap.setOnBuffer(collected.handler());
    tap.start();
    tap.start();
    ASSERT_TRUE(tap.isRunning());
    EXPECT_EQ(SoundTools::sourceOutputIndices().size(), before.size() + 1) << "one stream";

    const SoundPlayer tone(u"speakers"_s, 440);
    ASSERT_TRUE(waitUntil([&] { return collected.count() >= 25; }, 20000)) << collected.count() << " buffers";
    EXPECT_EQ(collected.deliveredOffQueue(), 0);

    tap.stop();
    EXPECT_FALSE(tap.isRunning());
    EXPECT_FALSE(tap.tapFormat().has_value());
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
    const auto noSink = raised<SystemTapError>([&] { tap.start(); });
    ASSERT_TRUE(noSink);
    EXPECT_EQ(noSink->kind(), SystemTapError::monitorNotFound);
    EXPECT_EQ(noSink->status(), PA_ERR_NOENTITY);
    EXPECT_EQ(noSink->description(), u"No output device to record the computer sound from (5)"_s);
    EXPECT_FALSE(tap.isRunning());
    EXPECT_TRUE(waitUntil([&] { return SoundTools::sourceOutputIndices(server.address()).isEmpty(); }, 5000));

    SystemAudioTapService unreachable(queue, u"unix:/nonexistent/echoquill/native"_s);
    const auto noServer = raised<SystemTapError>([&] { unreachable.start(); });
    ASSERT_TRUE(noServer);
    EXPECT_EQ(noServer->kind(), SystemTapError::serverUnreachable);
    EXPECT_EQ(noServer->description(), u"Could not reach the sound server (6)"_s);
    EXPECT_FALSE(tap.tapFormat() || unreachable.tapFormat()) << "both failed before the format was read";
}
