#pragma once

#include "AudioFormat.h"
#include "PcmBuffer.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>

// Which capture produced a buffer; consumers keep their per-source state by it.
enum class AudioCaptureSource { mic, systemOutput };

// "mic" or "systemOutput", as the session metadata names the sources.
inline QString sourceName(AudioCaptureSource source)
{
    return source == AudioCaptureSource::mic ? QStringLiteral("mic") : QStringLiteral("systemOutput");
}

// One delivered buffer of captured audio. Copies share the one private copy of the samples.
struct CapturedAudioBuffer {
    AudioCaptureSource source = AudioCaptureSource::mic;
    // Monotonic clock in nanoseconds when the capture thread received the samples.
    std::uint64_t hostTime = 0;
    // Wall clock just after the samples were copied.
    std::chrono::system_clock::time_point capturedAt;
    AudioFormat format;
    std::uint32_t frameCount = 0;
    std::shared_ptr<const PcmBuffer> pcmBuffer;
};

// The capture threads' time stamp: the monotonic clock in nanoseconds.
inline std::uint64_t hostTimeNow()
{
    const auto sinceBoot = std::chrono::steady_clock::now().time_since_epoch();
    return std::uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(sinceBoot).count());
}
