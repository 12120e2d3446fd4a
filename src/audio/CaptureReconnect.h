#pragma once

#include "CaptureTimings.h"

#include <QFuture>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

// Rebuilds the capture services when the audio hardware changes: stops them, lets the hardware settle,
// starts them again and checks that the microphone delivers (if not, tries it once more on its own);
// after a failed start it reconnects to the sound server until capture runs again or the recording
// stops. One restart at a time, on a thread of its own; a stop cuts every wait short. Pauses reach
// `context`'s thread.
class CaptureReconnect {
public:
    // The capture services a restart rebuilds. The service calls come with the services lock held.
    class Services {
    public:
        // Stops both services.
        virtual void stopServices() = 0;
        // Starts both; throws the microphone's error.
        virtual void startServices() = 0;
        // Drops both, half-built ones included.
        virtual void dropServices() = 0;
        virtual void dropMic() = 0;
        // A new microphone service in place of the dropped one; throws its error.
        virtual void startMic() = 0;
        // Not under the lock: the segments after a gap, on the write queue.
        virtual void startNewSegments() = 0;
        // Not under the lock: a restart failed.
        virtual void reportTapUnavailable(const QString& description) = 0;

    protected:
        ~Services() = default;
    };

    CaptureReconnect(QObject& context, const CaptureTimings& timings, std::mutex& servicesMutex, Services& services);

    // True when a restart failed and capture waits for the sound server; false once the microphone delivers again.
    void setOnCapturePaused(std::function<void(bool paused)> handler);

    // The recording runs from now on; hardware changes restart its services.
    void begin();
    [[nodiscard]] bool isRunning() const { return m_isRunning; }
    // On the sound server's notification thread.
    void handleHardwareChange();
    // On the write queue, as each microphone buffer arrives and once it is routed.
    void countMicBuffer() { ++m_micBufferGeneration; }
    void micBufferRouted();
    // A stop's first step, at once on the caller's thread: no restart goes on. Returns the restart
    // task, which ends soon since its waits are cut short.
    QFuture<void> halt();
    // Until no restart task runs.
    void waitForDone() { m_restartPool.waitForDone(); }

private:
    void runHardwareRestart(int generation);
    [[nodiscard]] bool isCurrent(int generation);
    void endRestart(int generation, bool withCooldown);
    bool sleepWhileCurrent(int generation, std::chrono::milliseconds duration);
    bool micDelivers(int generation, std::int64_t since);
    bool reconnect(int generation);
    void reportCapturePaused(bool paused);

    QObject& m_context;
    const CaptureTimings m_timings;
    std::mutex& m_servicesMutex;
    Services& m_services;
    std::function<void(bool)> m_onCapturePaused;

    // The restart's state, shared by the notifying thread, the restart task and the stop; the
    // running flag too, so that a stop cuts the waits short.
    std::mutex m_restartMutex;
    std::condition_variable m_restartWake;
    std::atomic<bool> m_isRunning = false;
    bool m_isRestartingForHardwareChange = false;
    QFuture<void> m_restartTask;
    std::chrono::steady_clock::time_point m_ignoreHardwareChangesUntil = std::chrono::steady_clock::time_point::min();
    int m_hardwareRestartGeneration = 0;

    // Counted on the write queue, read by the restart task to tell a silent microphone.
    std::atomic<std::int64_t> m_micBufferGeneration = 0;
    // Set once capture runs again after a failed restart; the next microphone buffer ends the pause.
    std::atomic<bool> m_resumePending = false;
    QThreadPool m_restartPool;
};
