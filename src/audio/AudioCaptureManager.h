#pragma once

#include "AudioExportService.h"
#include "AudioTrackWriter.h"
#include "CaptureReconnect.h"
#include "CaptureTimings.h"
#include "CaptureWarnings.h"
#include "CapturedAudioBuffer.h"
#include "LiveTrackEncoder.h"

#include <QCoroTask>
#include <QFuture>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class MicCaptureService;
class SerialQueue;
class SystemAudioTapService;

// The upload tracks of a stopped recording (absolute paths); both absent: nothing to upload.
struct CaptureSessionResult {
    std::optional<QString> micURL;
    std::optional<QString> systemURL;
    // The segments each track was made of.
    QStringList micSegments;
    QStringList systemSegments;
};

// The upload tracks being encoded while a recording runs; either may be absent.
struct LiveTracks {
    std::shared_ptr<LiveTrackEncoder> mic;
    std::shared_ptr<LiveTrackEncoder> system;
};

// How much disk a recording needs; tests make them small.
struct DiskLimits {
    // Below this much free space a recording does not start.
    qint64 minimumFreeBytes = 1'000'000'000;
    // Kept aside in the recordings folder while recording and given back when the disk fills,
    // so the recording can still be closed and its upload tracks made: at least this much, and
    // as the recording grows, what its upload tracks take (microphone AAC at 64 kb/s and system
    // output at 128 kb/s: 24 kB a second) plus a quarter of this as a margin.
    qint64 reserveBytes = 64LL << 20;
    double reserveBytesPerSecond = 24000;
};

// Runs one recording: the session's writer, the microphone (mandatory) and the
// system output (optional), every buffer routed into the writer on one serial
// write queue, the microphone level for the interface, and a rebuild of both
// services when the audio hardware changes. Stopping finalizes the writer and
// exports the two upload tracks. Lives on the main thread; the level and the
// system-tap notice are delivered there.
class AudioCaptureManager : public QObject, private CaptureReconnect::Services {
    Q_OBJECT
public:
    explicit AudioCaptureManager(
        CaptureTimings timings = {}, AudioTrackWriter::Options writerOptions = {}, QObject* parent = nullptr);
    // Stops capturing and cancels exports still running; nothing is finalized here.
    ~AudioCaptureManager() override;

    // The sound server to capture from; empty (the default) is the desktop's. Before start().
    void setSoundServer(const QString& address);
    // 0…1, once per microphone buffer.
    void setOnMicLevel(std::function<void(float)> handler);
    // System output could not be captured (at start, or after a failed hardware restart).
    void setOnSystemTapUnavailable(std::function<void(const QString& description)> handler);
    // True when a restart failed and capture waits for the sound server; false once the microphone delivers again.
    void setOnCapturePaused(std::function<void(bool paused)> handler);
    // A write failed for want of space or a failing disk; nothing more is written. The owner stops the recording.
    void setOnDiskFailure(std::function<void(const QString& description)> handler);
    // Before start().
    void setDiskLimits(DiskLimits limits) { m_diskLimits = limits; }
    // The microphone has delivered only exact zeros for the silence wait (true), or sound again (false).
    void setOnMicrophoneSilent(std::function<void(bool silent)> handler);
    // The system output captured is silent while a stream plays into another sink (its name and
    // description); both empty once captured sound is back.
    void setOnSoundElsewhere(std::function<void(const QString& sinkName, const QString& description)> handler);
    // Captures the system output from this sink's monitor from now on, in the same session.
    void captureSystemFrom(const QString& sinkName);

    // Creates the session directory and starts both services. Throws FileError
    // when the directory cannot be made or the disk has less free space than
    // the limits ask (no_space_on_device), SoundServerError when the microphone
    // cannot start or the server does not answer in time (the directory stays).
    // Does nothing while running. Blocks; the interface uses startCapture().
    void start();
    // start() on a worker thread, then `started` there (the caller's own disk work); the
    // caller's thread stays free and gets start()'s error.
    QCoro::Task<> startCapture(std::function<void()> started = {});
    [[nodiscard]] bool isRunning() const { return m_reconnect.isRunning(); }
    // The system service exists and captures.
    [[nodiscard]] bool isSystemAudioRunning() const { return m_isSystemAudioRunning; }
    // The writer's session directory, from start() until the writer is finalized.
    [[nodiscard]] std::optional<QString> sessionDirectory() const;
    // How long the recording can go on at the current rates before the disk is full; none without a session.
    [[nodiscard]] std::optional<double> recordingSecondsLeft() const;

    // Stops both services (on a worker thread: each may wait for its last fragment),
    // finalizes the writer on the write queue and exports the upload tracks on
    // worker threads; resumes on the main thread. Never throws.
    QCoro::Task<CaptureSessionResult> stopCapture();
    // For quitting during a recording: stops both services and finalizes the
    // writer (segments closed, "metadata.json" written), waiting at most
    // `timeout`; no export. True when no recording is left unfinished: the
    // writer was finalized in time, or there was none to finalize.
    bool stopForQuit(std::chrono::milliseconds timeout);

    // The system segments worth exporting, in order. Every skipped one adds its
    // log line to `skipped`.
    static QStringList validSystemSegments(const QStringList& segments, QStringList& skipped);
    // Makes a finalized recording's two upload tracks at once on `pool` and
    // logs the outcome in the order: microphone, system segments, system track.
    // A track encoded while recording is finished and taken as it is; without
    // one, or when it failed or fell behind, the track is exported from the segments.
    static QCoro::Task<CaptureSessionResult> exportUploadTracks(
        RecordingFinalizeResult finalized, QThreadPool& pool, AudioExportOptions options = {}, LiveTracks live = {});

private:
    struct Lifeline;
    struct Finalization;

    void startServices() override;
    std::unique_ptr<MicCaptureService> makeMicService();
    void stopServices() override;
    void dropServices() override;
    void dropMic() override;
    void startMic() override;
    void startNewSegments() override;
    template <class Service> void retire(std::unique_ptr<Service> service);
    QFuture<void> endRecording();
    std::shared_ptr<Finalization> finalizeOnWriteQueue();

    void handleMicBuffer(const CapturedAudioBuffer& buffer);
    void handleSystemBuffer(const CapturedAudioBuffer& buffer);
    void route(const CapturedAudioBuffer& buffer);
    bool setReserveAside(const QString& recordings);
    void growReserve();
    void releaseReserve();
    void lookForSoundElsewhere();
    void reportTapUnavailable(const QString& description) override;

    const CaptureTimings m_timings;
    const AudioTrackWriter::Options m_writerOptions;
    QString m_server;
    std::function<void(float)> m_onMicLevel;
    std::function<void(const QString&)> m_onSystemTapUnavailable;
    std::function<void(const QString&)> m_onDiskFailure;
    DiskLimits m_diskLimits;

    std::atomic<bool> m_isSystemAudioRunning = false;
    std::unique_ptr<SerialQueue> m_writeQueue;

    // The services are started and stopped by the caller, the restart task and the stop, one at a time.
    std::mutex m_servicesMutex;
    std::unique_ptr<MicCaptureService> m_micService;
    std::unique_ptr<SystemAudioTapService> m_systemService;
    // The sink chosen by captureSystemFrom(); empty: the default sink.
    QString m_systemSink;

    // Set by start(), read on the write queue and by sessionDirectory(), dropped by the finalize.
    mutable std::mutex m_writerMutex;
    std::shared_ptr<AudioTrackWriter> m_writer;
    // Fed with what the writer took, on the write queue; handed to the export by the finalize.
    LiveTracks m_live;

    // The silence warnings, checked on the write queue, and the restart after a hardware change.
    CaptureWarnings m_warnings;
    CaptureReconnect m_reconnect;

    // Only on the write queue.
    bool m_hasReceivedSystemAudio = false;
    bool m_diskFailed = false;
    // The reserve file, held open and locked (flock) while it is in use so that stale ones can be told
    // apart; written by start(), grown on the write queue, released there or by the destructor.
    std::mutex m_reserveMutex;
    QString m_reservePath;
    int m_reserveFd = -1;
    qint64 m_reserveSize = 0;
    std::chrono::steady_clock::time_point m_recordingStartedAt;
    std::chrono::steady_clock::time_point m_reserveRetryAt;
    // What each source costs on disk, from its latest buffer.
    std::atomic<double> m_micBytesPerSecond = 48000.0 * 4;
    std::atomic<double> m_systemBytesPerSecond = 48000.0 * 8;

    std::shared_ptr<Lifeline> m_lifeline;
    std::atomic<bool> m_cancelExports = false;
    // Looks at the other sinks and switches the system capture, one job at a time.
    QThreadPool m_checkPool;
    QThreadPool m_exportPool;
    // Runs the blocking start and the stop of the services for the coroutines.
    QThreadPool m_controlPool;
};
