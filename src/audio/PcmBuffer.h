#pragma once

#include "AudioFormat.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// A block of PCM samples in one format: one sample buffer per channel when the
// format is not interleaved, else one buffer for all channels. Header and
// samples share one allocation, so copying a captured fragment costs exactly one.
class PcmBuffer {
public:
    // Null when the memory cannot be had.
    static std::shared_ptr<PcmBuffer> create(const AudioFormat& format, std::uint32_t frameCapacity);

    [[nodiscard]] const AudioFormat& format() const { return m_format; }
    [[nodiscard]] std::uint32_t frameCapacity() const { return m_frameCapacity; }
    [[nodiscard]] std::uint32_t frameLength() const { return m_frameLength; }
    // Clamped to the capacity.
    void setFrameLength(std::uint32_t frames);

    [[nodiscard]] std::uint32_t bufferCount() const { return m_format.bufferCount(); }
    [[nodiscard]] std::byte* data(std::uint32_t buffer);
    [[nodiscard]] const std::byte* data(std::uint32_t buffer) const;
    // Bytes of valid samples in one buffer, following the frame length.
    [[nodiscard]] std::uint32_t byteSize(std::uint32_t buffer) const;

    // Copies `bytes` into the first sample buffer at `byteOffset`, clipped to
    // the capacity; null `data` (a gap reported by the sound server) gives silence.
    // Returns the bytes taken. The frame length is left to the caller.
    std::size_t copyIn(std::size_t byteOffset, const void* data, std::size_t bytes);

    template <class Sample> [[nodiscard]] Sample* samples(std::uint32_t buffer)
    {
        return reinterpret_cast<Sample*>(data(buffer));
    }
    template <class Sample> [[nodiscard]] const Sample* samples(std::uint32_t buffer) const
    {
        return reinterpret_cast<const Sample*>(data(buffer));
    }

private:
    PcmBuffer(const AudioFormat& format, std::uint32_t frameCapacity);
    [[nodiscard]] std::size_t bufferStride() const;

    AudioFormat m_format;
    std::uint32_t m_frameCapacity;
    std::uint32_t m_frameLength = 0;
};
