#include "CaptureWarnings.h"

#include "Log.h"
#include "QueuedCall.h"
#include "SoundServerConnection.h"

#include <algorithm>
#include <vector>

namespace {

// The warnings are the recording's, and logged under its manager's tag.
void log(const QString& text)
{
    Log::line(QStringLiteral("[AudioCaptureManager] ") + text);
}

// Exact zeros in every sample: a muted or disconnected device, never a quiet room.
bool isDigitalSilence(const CapturedAudioBuffer& buffer)
{
    if (!buffer.pcmBuffer)
        return false;
    const PcmBuffer& pcm = *buffer.pcmBuffer;
    for (std::uint32_t b = 0; b < pcm.bufferCount(); ++b) {
        const float* samples = pcm.samples<float>(b);
        const std::size_t n = samples ? pcm.byteSize(b) / sizeof(float) : 0;
        for (std::size_t i = 0; i < n; ++i)
            if (samples[i] != 0.0f)
                return false;
    }
    return true;
}

double secondsOf(const CapturedAudioBuffer& buffer)
{
    return buffer.format.sampleRate > 0 ? double(buffer.frameCount) / buffer.format.sampleRate : 0.0;
}

}

CaptureWarnings::CaptureWarnings(QObject& context, const CaptureTimings& timings)
    : m_context(context)
    , m_silenceWarningAfter(timings.silenceWarningAfter)
    , m_soundServerTimeout(timings.soundServerTimeout)
{
}

void CaptureWarnings::setOnMicrophoneSilent(std::function<void(bool)> handler)
{
    m_onMicrophoneSilent = std::move(handler);
}

void CaptureWarnings::setOnSoundElsewhere(std::function<void(const QString&, const QString&)> handler)
{
    m_onSoundElsewhere = std::move(handler);
}

void CaptureWarnings::checkMic(const CapturedAudioBuffer& buffer)
{
    bool changed = false;
    if (isDigitalSilence(buffer)) {
        m_micSilentSeconds += secondsOf(buffer);
        changed = !m_micSilentReported && m_micSilentSeconds * 1000 >= double(m_silenceWarningAfter.count());
    } else {
        m_micSilentSeconds = 0;
        changed = m_micSilentReported;
    }
    if (changed) {
        m_micSilentReported = !m_micSilentReported;
        log(m_micSilentReported ? QStringLiteral("Microphone delivers only silence")
                                : QStringLiteral("Microphone sound is back"));
        callQueued(m_context, m_onMicrophoneSilent, m_micSilentReported);
    }
}

bool CaptureWarnings::checkSystem(const CapturedAudioBuffer& buffer)
{
    if (isDigitalSilence(buffer)) {
        // Looked at again after every further stretch of silence: the other stream may start later.
        m_systemSilentSeconds += secondsOf(buffer);
        if (m_systemSilentSeconds * 1000 >= double(m_silenceWarningAfter.count())) {
            m_systemSilentSeconds = 0;
            return true;
        }
        return false;
    }
    m_systemSilentSeconds = 0;
    if (m_soundElsewhereReported.exchange(false))
        callQueued(m_context, m_onSoundElsewhere, QString(), QString());
    return false;
}

void CaptureWarnings::lookForSoundElsewhere(const QString& server, const QString& captured)
{
    std::vector<SoundServerConnection::SinkInfo> sinks;
    try {
        const auto timeout = m_soundServerTimeout;
        sinks = SoundServerConnection::shared(server, timeout)->sinks(timeout);
    } catch (const std::exception& error) {
        log(QStringLiteral("Could not look at the other sinks: ") + QString::fromUtf8(error.what()));
        return;
    }
    const auto playing = std::find_if(
        sinks.begin(), sinks.end(), [&](const auto& sink) { return sink.playing && sink.name != captured; });
    if (playing == sinks.end())
        return;
    if (!m_soundElsewhereReported.exchange(true))
        log(QStringLiteral("Captured system audio is silent while sound plays on ") + playing->name);
    callQueued(m_context, m_onSoundElsewhere, playing->name,
        playing->description.isEmpty() ? playing->name : playing->description);
}
