#include "PcmBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <type_traits>

namespace {

// The header sits at the front of the block; samples start at the next aligned offset.
constexpr std::size_t headerBytes()
{
    return (sizeof(PcmBuffer) + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) * alignof(std::max_align_t);
}

}

// The header lives in raw storage that is released without running its destructor.
static_assert(std::is_trivially_destructible_v<PcmBuffer>);

std::shared_ptr<PcmBuffer> PcmBuffer::create(const AudioFormat& format, std::uint32_t frameCapacity)
{
    if (format.channelCount == 0)
        return nullptr;
    const std::size_t sampleBytes = std::size_t(frameCapacity) * format.bytesPerFrame();
    const std::size_t units = (headerBytes() + sampleBytes + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
    std::shared_ptr<std::max_align_t[]> block;
    try {
        block = std::make_shared_for_overwrite<std::max_align_t[]>(units);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    auto* header = new (block.get()) PcmBuffer(format, frameCapacity);
    return std::shared_ptr<PcmBuffer>(std::move(block), header);
}

PcmBuffer::PcmBuffer(const AudioFormat& format, std::uint32_t frameCapacity)
    : m_format(format)
    , m_frameCapacity(frameCapacity)
{
}

void PcmBuffer::setFrameLength(std::uint32_t frames)
{
    m_frameLength = frames < m_frameCapacity ? frames : m_frameCapacity;
}

std::size_t PcmBuffer::bufferStride() const
{
    const std::size_t samplesPerFrame = m_format.interleaved ? m_format.channelCount : 1;
    return std::size_t(m_frameCapacity) * samplesPerFrame * m_format.bytesPerSample();
}

std::byte* PcmBuffer::data(std::uint32_t buffer)
{
    return reinterpret_cast<std::byte*>(this) + headerBytes() + buffer * bufferStride();
}

const std::byte* PcmBuffer::data(std::uint32_t buffer) const
{
    return reinterpret_cast<const std::byte*>(this) + headerBytes() + buffer * bufferStride();
}

std::uint32_t PcmBuffer::byteSize(std::uint32_t buffer) const
{
    if (buffer >= bufferCount())
        return 0;
    const std::uint32_t samplesPerFrame = m_format.interleaved ? m_format.channelCount : 1;
    return m_frameLength * samplesPerFrame * m_format.bytesPerSample();
}

std::size_t PcmBuffer::copyIn(std::size_t byteOffset, const void* data, std::size_t bytes)
{
    const std::size_t capacity = bufferStride();
    if (byteOffset >= capacity)
        return 0;
    const std::size_t taken = std::min(bytes, capacity - byteOffset);
    if (data)
        std::memcpy(this->data(0) + byteOffset, data, taken);
    else
        std::memset(this->data(0) + byteOffset, 0, taken);
    return taken;
}
