#include "CaptureReconnect.h"

#include "Log.h"
#include "QueuedCall.h"

#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

using Clock = std::chrono::steady_clock;

namespace {

// The restart is the recording's, and logged under its manager's tag.
void log(const QString& text)
{
    Log::line(QStringLiteral("[AudioCaptureManager] ") + text);
}

// Every error this library raises describes itself through what().
QString describe(const std::exception& error)
{
    return QString::fromUtf8(error.what());
}

}

CaptureReconnect::CaptureReconnect(
    QObject& context, const CaptureTimings& timings, std::mutex& servicesMutex, Services& services)
    : m_context(context)
    , m_timings(timings)
    , m_servicesMutex(servicesMutex)
    , m_services(services)
{
    m_restartPool.setMaxThreadCount(1);
}

void CaptureReconnect::setOnCapturePaused(std::function<void(bool)> handler)
{
    m_onCapturePaused = std::move(handler);
}

void CaptureReconnect::begin()
{
    std::lock_guard lock(m_restartMutex);
    m_isRunning = true;
}

void CaptureReconnect::micBufferRouted()
{
    if (m_resumePending.exchange(false)) {
        log(QStringLiteral("Audio flows again"));
        reportCapturePaused(false);
    }
}

void CaptureReconnect::reportCapturePaused(bool paused)
{
    callQueued(m_context, m_onCapturePaused, paused);
}

// On the sound server's notification thread.
void CaptureReconnect::handleHardwareChange()
{
    std::lock_guard lock(m_restartMutex);
    if (!m_isRunning)
        return;
    if (Clock::now() < m_ignoreHardwareChangesUntil) {
        log(QStringLiteral("Ignoring hardware change during cooldown"));
        return;
    }
    if (m_isRestartingForHardwareChange) {
        log(QStringLiteral("Hardware restart already in progress"));
        return;
    }
    m_isRestartingForHardwareChange = true;
    const int generation = ++m_hardwareRestartGeneration;
    // An older task's waits end at once; it sees it is no longer current.
    m_restartWake.notify_all();
    m_restartTask = QtConcurrent::run(&m_restartPool, [this, generation] { runHardwareRestart(generation); });
}

bool CaptureReconnect::isCurrent(int generation)
{
    std::lock_guard lock(m_restartMutex);
    return m_isRunning && m_hardwareRestartGeneration == generation;
}

// Cut short when a newer restart or the stop makes this one stale; false then.
bool CaptureReconnect::sleepWhileCurrent(int generation, std::chrono::milliseconds duration)
{
    std::unique_lock lock(m_restartMutex);
    const bool stale = m_restartWake.wait_for(
        lock, duration, [&] { return !m_isRunning || m_hardwareRestartGeneration != generation; });
    return !stale;
}

// Polls for a microphone buffer newer than `since` until the verification window ends.
bool CaptureReconnect::micDelivers(int generation, std::int64_t since)
{
    const auto deadline = Clock::now() + m_timings.micVerificationWindow;
    while (Clock::now() < deadline) {
        if (m_micBufferGeneration > since)
            return true;
        if (!sleepWhileCurrent(generation, m_timings.micVerificationPoll))
            return false;
    }
    return false;
}

// On the restart pool, after a failed restart: tries the server again, waits growing up to the
// longest, until capture runs or the recording stops (false then). Resumed capture opens new
// segments of the same session, so no silence stands for the gap and both tracks miss the same span.
bool CaptureReconnect::reconnect(int generation)
{
    log(QStringLiteral("Capture paused; reconnecting to the sound server"));
    reportCapturePaused(true);
    m_services.startNewSegments();
    auto wait = m_timings.reconnectFirstDelay;
    for (int attempt = 1;; ++attempt) {
        if (!sleepWhileCurrent(generation, wait))
            return false;
        wait = std::min(wait * 2, m_timings.reconnectLongestDelay);
        std::lock_guard services(m_servicesMutex);
        if (!isCurrent(generation))
            return false;
        try {
            m_services.startServices();
            log(QStringLiteral("Capture resumed after %1 reconnect attempt(s)").arg(attempt));
            // Armed only now, with both services up, so the all-clear carries the system output's state too.
            m_resumePending = true;
            return true;
        } catch (const std::exception& error) {
            log(QStringLiteral("Reconnect attempt %1 failed: %2").arg(attempt).arg(describe(error)));
            // The half-built services go; the next attempt builds new ones.
            m_services.dropServices();
        }
    }
}

void CaptureReconnect::endRestart(int generation, bool withCooldown)
{
    std::lock_guard lock(m_restartMutex);
    // A stop has already reset everything; a newer restart owns the flag.
    if (m_hardwareRestartGeneration != generation)
        return;
    if (withCooldown)
        m_ignoreHardwareChangesUntil = Clock::now() + m_timings.hardwareChangeCooldown;
    m_isRestartingForHardwareChange = false;
}

// On the restart pool. After every wait the task checks it is still current, and it
// starts services only under the services lock after checking again, so nothing
// starts once a stop has begun.
void CaptureReconnect::runHardwareRestart(int generation)
{
    const QString restarted
        = QStringLiteral("Restarted capture services; cooldown active for %1s")
              .arg(std::chrono::duration_cast<std::chrono::seconds>(m_timings.hardwareChangeCooldown).count());
    log(QStringLiteral("Hardware changed — stopping mic + system tap"));
    {
        std::lock_guard services(m_servicesMutex);
        m_services.stopServices();
    }

    sleepWhileCurrent(generation, m_timings.hardwareSettleDelay);
    if (!isCurrent(generation))
        return endRestart(generation, false);

    log(QStringLiteral("Starting capture services after hardware settle"));
    const std::int64_t before = m_micBufferGeneration;
    try {
        std::lock_guard services(m_servicesMutex);
        if (!isCurrent(generation))
            return endRestart(generation, false);
        m_services.startServices();
    } catch (const std::exception& error) {
        log(QStringLiteral("Restart failed: ") + describe(error) + QStringLiteral("; cooldown active"));
        m_services.reportTapUnavailable(describe(error));
        if (!reconnect(generation))
            return endRestart(generation, false);
        endRestart(generation, true);
        log(restarted);
        return;
    }

    if (micDelivers(generation, before)) {
        log(QStringLiteral("Mic produced buffers after restart"));
        endRestart(generation, true);
        log(restarted);
        return;
    }
    if (!isCurrent(generation))
        return endRestart(generation, false);

    log(QStringLiteral("Mic silent after restart — retrying mic only"));
    {
        std::lock_guard services(m_servicesMutex);
        m_services.dropMic();
    }
    if (!sleepWhileCurrent(generation, m_timings.micOnlyRetryDelay))
        return endRestart(generation, false);

    const std::int64_t beforeRetry = m_micBufferGeneration;
    bool started = true;
    {
        std::lock_guard services(m_servicesMutex);
        if (!isCurrent(generation))
            return endRestart(generation, false);
        m_services.dropMic();
        try {
            m_services.startMic();
        } catch (const std::exception& error) {
            started = false;
            log(QStringLiteral("Mic-only retry failed: ") + describe(error));
        }
    }
    if (started) {
        const bool recovered = micDelivers(generation, beforeRetry);
        if (!isCurrent(generation))
            return endRestart(generation, false);
        log(QStringLiteral("Mic-only retry: ")
            + (recovered ? QStringLiteral("recovered") : QStringLiteral("still silent")));
    }
    endRestart(generation, true);
    log(restarted);
}

QFuture<void> CaptureReconnect::halt()
{
    QFuture<void> restart;
    {
        std::lock_guard lock(m_restartMutex);
        m_isRunning = false;
        restart = m_restartTask;
        m_restartTask = {};
        m_isRestartingForHardwareChange = false;
        m_ignoreHardwareChangesUntil = Clock::time_point::min();
        ++m_hardwareRestartGeneration;
    }
    m_restartWake.notify_all();
    return restart;
}
