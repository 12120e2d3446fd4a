#include "MicCaptureService.h"
#include "Await.h"
#include "BufferCollector.h"
#include "Raised.h"
#include "SoundPlayer.h"
#include "SoundServerConnection.h"
#include "SoundServerError.h"
#include "SoundTools.h"

#include <gtest/gtest.h>

#include <pulse/def.h>

using namespace Qt::StringLiterals;

namespace {

class MicCaptureServiceTest : public ::testing::Test {
protected:
    void TearDown() override { SoundTools::pactl({ u"set-default-source"_s, u"virtual_mic"_s }); }

    SerialQueue queue { u"test.audiowrite"_s };
    BufferCollector collected { queue };
};

}

TEST_F(MicCaptureServiceTest, SoundIntoTheDefaultSourceArrivesOnTheWriteQueue)
{
    const int streamsBefore = int(SoundTools::sourceOutputIndices().size());
    MicCaptureService mic(queue);
    mic.setOnBuffer(collected.handler());
    mic.start();
    mic.start();
    EXPECT_TRUE(mic.isRunning());
    EXPECT_EQ(int(SoundTools::sourceOutputIndices().size()), streamsBefore + 1)
        << "a second start opens no second stream";
    // The desktop's microphone indicator and sound settings show the client by name and icon, and the stream by what it
    // takes.
    const QString streams = SoundTools::pactl({ u"list"_s, u"source-outputs"_s }).value_or(QString());
    for (const auto property :
        { "application.name = \"Echoquill\"", "application.icon_name = \"com.echoquill.Desktop\"",
            "media.name = \"Microphone\"", "media.role = \"production\"" })
        EXPECT_TRUE(streams.contains(QLatin1String(property))) << property;

    const SoundPlayer voice(u"micfeed"_s, 300);
    ASSERT_TRUE(waitUntil([&] { return collected.count() >= 25 && collected.maxRms() > 0.02; }, 20000))
        << collected.count() << " buffers, loudest " << collected.maxRms();
    const AudioFormat expected { 48000, 1, AudioFormat::CommonFormat::Float32, true };
    for (const CapturedAudioBuffer& buffer : collected.buffers()) {
        EXPECT_EQ(buffer.source, AudioCaptureSource::mic);
        EXPECT_EQ(buffer.format, expected);
        // About one fragment each, whatever pieces the server sent.
        EXPECT_GE(buffer.frameCount, MicCaptureService::tapBufferFrames);
        EXPECT_LE(buffer.frameCount, 2 * MicCaptureService::tapBufferFrames);
        EXPECT_EQ(buffer.pcmBuffer->frameLength(), buffer.frameCount);
    }
    EXPECT_EQ(collected.deliveredOffQueue(), 0);

    // Stopped and started again, buffers flow again.
    mic.stop();
    EXPECT_FALSE(mic.isRunning());
    queue.sync([] {});
    const std::size_t stopped = collected.count();
    mic.start();
    ASSERT_TRUE(waitUntil([&] { return collected.count() > stopped; }, 10000));
}

TEST_F(MicCaptureServiceTest, DeviceChangesAreReportedOnlyWhileRunning)
{
    // A listener of the test's own sees every change; an event posted after it runs once the change is handed out.
    const auto connection = SoundServerConnection::shared();
    std::atomic<int> seen = 0;
    const int witness = connection->addListener([&](const SoundServerConnection::DefaultsChange&) { ++seen; });
    const auto handedOut = [&] {
        const auto done = std::make_shared<std::atomic<bool>>(false);
        connection->postEvent([done] { *done = true; });
        return waitUntil([&] { return done->load(); });
    };
    std::atomic<int> changes = 0;
    MicCaptureService mic(queue);
    mic.setOnConfigurationChange([&changes] { ++changes; });
    mic.start();
    mic.stop();

    ASSERT_TRUE(SoundTools::pactl({ u"set-default-source"_s, u"virtual_mic2"_s }));
    ASSERT_TRUE(waitUntil([&] { return seen == 1; }));
    ASSERT_TRUE(handedOut());
    EXPECT_EQ(changes, 0);

    // While running, a new default is a change (the capture manager's test checks it is followed).
    const QStringList others = SoundTools::sourceOutputIndices();
    mic.start();
    ASSERT_TRUE(SoundTools::pactl({ u"set-default-source"_s, u"virtual_mic"_s }));
    ASSERT_TRUE(waitUntil([&] { return changes == 1; }));

    // The server ending the stream is a change too.
    for (const QString& index : SoundTools::sourceOutputIndices())
        if (!others.contains(index))
            ASSERT_TRUE(SoundTools::killSourceOutput(index));
    ASSERT_TRUE(waitUntil([&] { return changes == 2; }));
    mic.stop();
    connection->removeListener(witness);
}

TEST_F(MicCaptureServiceTest, StartFailsWithTheServersError)
{
    MicCaptureService mic(queue, u"unix:/nonexistent/echoquill/native"_s);
    const auto error = raised<SoundServerError>([&] { mic.start(); });
    ASSERT_TRUE(error) << "started without a server";
    EXPECT_EQ(std::pair(error->code(), error->description()),
        std::pair(int(PA_ERR_CONNECTIONREFUSED), u"Could not connect to the sound server: Connection refused"_s));
    EXPECT_FALSE(mic.isRunning());
}
