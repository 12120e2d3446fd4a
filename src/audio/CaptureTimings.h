#pragma once

#include <chrono>

// The waits of a hardware restart, and how often the tracks encoded while recording reach the disk; tests
// shrink them.
struct CaptureTimings {
    // After a hardware change, before the services are built again.
    std::chrono::milliseconds hardwareSettleDelay { 3000 };
    // How long a rebuilt microphone has to deliver its first buffer, and how often we look.
    std::chrono::milliseconds micVerificationWindow { 2000 };
    std::chrono::milliseconds micVerificationPoll { 100 };
    // Before a silent microphone is tried once more on its own.
    std::chrono::milliseconds micOnlyRetryDelay { 1500 };
    // Further hardware changes are ignored this long after a restart.
    std::chrono::milliseconds hardwareChangeCooldown { 5000 };
    // After a failed restart the server is tried again after the first wait, each wait doubling up to the longest.
    std::chrono::milliseconds reconnectFirstDelay { 250 };
    std::chrono::milliseconds reconnectLongestDelay { 2000 };
    // A source that delivers nothing but exact zeros this long is worth a warning.
    std::chrono::milliseconds silenceWarningAfter { 30000 };
    // The longest wait for any answer of the sound server; past it a start fails with PA_ERR_TIMEOUT.
    std::chrono::milliseconds soundServerTimeout { 5000 };
    // Of audio: a kill loses the encoding of at most this much, which is encoded again from the segments.
    std::chrono::milliseconds encoderCheckpointEvery { 10000 };
};
