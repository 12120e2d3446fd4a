#pragma once

#include <QString>

#include <cstdint>

// The shape of a stream of PCM samples. Two formats are the same exactly when
// rate, channel count, sample type and interleaving all agree.
struct AudioFormat {
    enum class CommonFormat : std::uint8_t { Float32, Float64, Int16, Int32 };

    double sampleRate = 0.0;
    std::uint32_t channelCount = 0;
    CommonFormat commonFormat = CommonFormat::Float32;
    bool interleaved = true;

    [[nodiscard]] std::uint32_t bytesPerSample() const;
    [[nodiscard]] std::uint32_t bytesPerFrame() const { return bytesPerSample() * channelCount; }
    // Sample buffers a PCM buffer of this format holds: one per channel, or one for all.
    [[nodiscard]] std::uint32_t bufferCount() const { return interleaved ? 1 : channelCount; }
    // Linear PCM flag bits as stream descriptions carry them (float 1, signed 4, packed 8, non-interleaved 32).
    [[nodiscard]] std::uint32_t formatFlags() const;

    // "48000.0Hz/2ch/interleaved=false"
    [[nodiscard]] QString description() const;
    // "48000.0Hz/1ch"
    [[nodiscard]] QString rateAndChannels() const;

    friend bool operator==(const AudioFormat&, const AudioFormat&) = default;
};

// Shortest decimal that reads back as the same value, with at least one
// fractional digit ("48000.0", "44100.5").
QString sampleRateText(double rate);
