#pragma once

#include "CapturedAudioBuffer.h"
#include "SerialQueue.h"
#include "TestAudio.h"

#include <mutex>
#include <vector>

// Keeps every buffer a capture service delivers, noting whether it arrived on the write queue.
class BufferCollector {
public:
    explicit BufferCollector(const SerialQueue& queue)
        : m_queue(queue)
    {
    }

    std::function<void(const CapturedAudioBuffer&)> handler()
    {
        return [this](const CapturedAudioBuffer& buffer) {
            std::lock_guard lock(m_mutex);
            m_buffers.push_back(buffer);
            m_offQueue += m_queue.isCurrent() ? 0 : 1;
        };
    }

    [[nodiscard]] std::vector<CapturedAudioBuffer> buffers() const
    {
        std::lock_guard lock(m_mutex);
        return m_buffers;
    }
    [[nodiscard]] std::size_t count() const { return buffers().size(); }
    [[nodiscard]] int deliveredOffQueue() const
    {
        std::lock_guard lock(m_mutex);
        return m_offQueue;
    }
    // The loudest buffer's root mean square, over its float samples.
    [[nodiscard]] double maxRms() const
    {
        double loudest = 0;
        for (const CapturedAudioBuffer& buffer : buffers()) {
            std::vector<float> samples;
            for (std::uint32_t b = 0; b < buffer.pcmBuffer->bufferCount(); ++b)
                samples.insert(samples.end(), buffer.pcmBuffer->samples<float>(b),
                    buffer.pcmBuffer->samples<float>(b) + buffer.pcmBuffer->byteSize(b) / sizeof(float));
            loudest = std::max(loudest, TestAudio::rms(samples, 0, samples.size()));
        }
        return loudest;
    }

private:
    const SerialQueue& m_queue;
    mutable std::mutex m_mutex;
    std::vector<CapturedAudioBuffer> m_buffers;
    int m_offQueue = 0;
};
