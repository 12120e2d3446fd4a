#pragma once

#include "AudioFormat.h"
#include "CapturedAudioBuffer.h"

#include <QString>

#include <cstdint>
#include <vector>

// Synthetic buffers and segment read-back for the writer tests.
namespace TestAudio {

AudioFormat format(double rate, std::uint32_t channels, bool interleaved = true,
                   AudioFormat::CommonFormat common = AudioFormat::CommonFormat::Float32);

// The sample every test buffer carries for a frame and channel: distinct, in [-1, 1).
float sampleAt(std::uint64_t frame, std::uint32_t channel);

// A buffer of `frames` frames starting at frame `first` of the test signal, in `format`'s layout.
CapturedAudioBuffer buffer(AudioCaptureSource source, const AudioFormat &format, std::uint32_t frames, std::uint64_t first = 0);

struct SegmentContents {
    bool opened = false;
    int sampleRate = 0;
    int channels = 0;
    int format = 0;
    std::vector<float> interleaved;

    [[nodiscard]] std::uint64_t frames() const { return channels ? interleaved.size() / std::uint64_t(channels) : 0; }
};

// Every frame of a segment file as libsndfile reads it.
SegmentContents readSegment(const QString &path);

}
