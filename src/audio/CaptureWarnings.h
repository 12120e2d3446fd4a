#pragma once

#include "CaptureTimings.h"
#include "CapturedAudioBuffer.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>

// The two warnings of a running recording: a microphone that delivers only exact zeros for the silence
// wait, and captured system output that stays silent while sound plays on another sink. The buffers are
// checked on the write queue; the warnings reach `context`'s thread.
class CaptureWarnings {
public:
    CaptureWarnings(QObject& context, const CaptureTimings& timings);

    // Silent (true) after the silence wait of exact zeros, false once sound is back.
    void setOnMicrophoneSilent(std::function<void(bool silent)> handler);
    // The sink that plays and its description; both empty once captured sound is back.
    void setOnSoundElsewhere(std::function<void(const QString& sinkName, const QString& description)> handler);

    // On the write queue, once per microphone buffer.
    void checkMic(const CapturedAudioBuffer& buffer);
    // On the write queue, once per system buffer. True after each silence wait of exact zeros: time to
    // look at the other sinks.
    [[nodiscard]] bool checkSystem(const CapturedAudioBuffer& buffer);
    // Asks the sound server at `server` whether a sink other than `captured` plays, and warns if so.
    void lookForSoundElsewhere(const QString& server, const QString& captured);

private:
    QObject& m_context;
    const std::chrono::milliseconds m_silenceWarningAfter;
    const std::chrono::milliseconds m_soundServerTimeout;
    std::function<void(bool)> m_onMicrophoneSilent;
    std::function<void(const QString&, const QString&)> m_onSoundElsewhere;

    // Only on the write queue.
    double m_micSilentSeconds = 0;
    double m_systemSilentSeconds = 0;
    bool m_micSilentReported = false;
    // Also set by the look at the other sinks.
    std::atomic<bool> m_soundElsewhereReported = false;
};
