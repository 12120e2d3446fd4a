#include "AudioFormat.h"
#include "PcmBuffer.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace Qt::StringLiterals;
using Common = AudioFormat::CommonFormat;

TEST(AudioFormat, TextFormsUseShortestRateWithAFractionalDigit)
{
    EXPECT_EQ((AudioFormat { 48000, 2, Common::Float32, false }).description(), u"48000.0Hz/2ch/interleaved=false"_s);
    EXPECT_EQ((AudioFormat { 44100, 1, Common::Float32, true }).rateAndChannels(), u"44100.0Hz/1ch"_s);
    EXPECT_EQ(sampleRateText(22050.5), u"22050.5"_s);
    EXPECT_EQ(sampleRateText(0.1), u"0.1"_s);
    EXPECT_EQ(sampleRateText(8000), u"8000.0"_s);
}

TEST(PcmBuffer, PiecesAreCopiedInAndGapsBecomeSilence)
{
    const AudioFormat stereo { 48000, 2, Common::Float32, true };
    const auto copy = PcmBuffer::create(stereo, 4);
    ASSERT_TRUE(copy);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(copy->data(0)) % alignof(std::max_align_t), 0u);
    const float first[] = { 0.1f, -0.1f, 0.2f, -0.2f };
    const float last[] = { 0.4f, -0.4f, 0.5f, -0.5f };
    EXPECT_EQ(copy->copyIn(0, first, sizeof first), sizeof first);
    EXPECT_EQ(copy->copyIn(16, nullptr, 8), 8u);
    // Only what fits is taken.
    EXPECT_EQ(copy->copyIn(24, last, sizeof last), 8u);
    copy->setFrameLength(4);
    EXPECT_EQ(copy->byteSize(0), 32u);
    const float expected[] = { 0.1f, -0.1f, 0.2f, -0.2f, 0.0f, 0.0f, 0.4f, -0.4f };
    EXPECT_EQ(std::memcmp(copy->data(0), expected, sizeof expected), 0);

    // One plane per channel when not interleaved, each sized by the frame length.
    const auto planar = PcmBuffer::create({ 44100, 3, Common::Float32, false }, 100);
    planar->setFrameLength(40);
    EXPECT_EQ(planar->bufferCount(), 3u);
    EXPECT_EQ(planar->byteSize(2), 160u);
    EXPECT_EQ(planar->data(1) - planar->data(0), 400);
    planar->setFrameLength(500);
    EXPECT_EQ(planar->frameLength(), 100u);
}
