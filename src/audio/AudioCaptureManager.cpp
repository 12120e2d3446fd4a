#include "AudioCaptureManager.h"

#include "BackgroundTask.h"
#include "FileError.h"
#include "Log.h"
#include "MediaAsset.h"
#include "MicCaptureService.h"
#include "QueuedCall.h"
#include "SerialQueue.h"
#include "SystemAudioTapService.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QPromise>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QStandardPaths>
#include <QStorageInfo>

#include <algorithm>
#include <cmath>
#include <shared_mutex>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

namespace {

constexpr qint64 smallestUsableSegmentBytes = 16384 + 1;
constexpr auto reserveFileName = ".space-reserve";

void log(const QString& text)
{
    Log::line(QStringLiteral("[AudioCaptureManager] ") + text);
}

// Every error this library raises describes itself through what().
QString describe(const std::exception& error)
{
    return QString::fromUtf8(error.what());
}

// Root mean square of every sample, times four, capped at full scale.
float levelOf(const CapturedAudioBuffer& buffer)
{
    if (!buffer.pcmBuffer)
        return 0.0f;
    const PcmBuffer& pcm = *buffer.pcmBuffer;
    double sum = 0.0;
    std::size_t count = 0;
    for (std::uint32_t b = 0; b < pcm.bufferCount(); ++b) {
        const float* samples = pcm.samples<float>(b);
        const std::size_t n = samples ? pcm.byteSize(b) / sizeof(float) : 0;
        for (std::size_t i = 0; i < n; ++i)
            sum += double(samples[i]) * double(samples[i]);
        count += n;
    }
    if (count == 0)
        return 0.0f;
    return std::min(float(std::sqrt(sum / double(count))) * 4.0f, 1.0f);
}

// What one export job leaves for the log, printed in order once it is the job's turn.
struct TrackOutcome {
    std::optional<QString> url;
    QStringList lines;
    QStringList segments;
};

}

// Lets the sound server's notifications reach the manager only while it exists.
struct AudioCaptureManager::Lifeline {
    std::shared_mutex mutex;
    AudioCaptureManager* manager = nullptr;
};

// The finalize work item's outcome, awaited by stopCapture() and waited for by stopForQuit().
struct AudioCaptureManager::Finalization {
    enum class Outcome { finalized, nothingToFinalize, failed };
    QPromise<std::optional<RecordingFinalizeResult>> promise;
    QSemaphore done;
    Outcome outcome = Outcome::nothingToFinalize;
    LiveTracks live;
};

AudioCaptureManager::AudioCaptureManager(
    CaptureTimings timings, AudioTrackWriter::Options writerOptions, QObject* parent)
    : QObject(parent)
    , m_timings(timings)
    , m_writerOptions(std::move(writerOptions))
    , m_writeQueue(std::make_unique<SerialQueue>(QStringLiteral("com.echoquill.audiowrite"), QThread::HighPriority))
    , m_warnings(*this, timings)
    , m_reconnect(*this, timings, m_servicesMutex, *this)
    , m_lifeline(std::make_shared<Lifeline>())
{
    m_lifeline->manager = this;
    m_checkPool.setMaxThreadCount(1);
    m_controlPool.setMaxThreadCount(1);
    // Both upload tracks are encoded at once.
    m_exportPool.setMaxThreadCount(2);
}

AudioCaptureManager::~AudioCaptureManager()
{
    {
        std::unique_lock lock(m_lifeline->mutex);
        m_lifeline->manager = nullptr;
    }
    m_cancelExports = true;
    // A start still waiting for the server ends within the time-out; then nothing runs.
    m_controlPool.waitForDone();
    endRecording();
    m_reconnect.waitForDone();
    m_checkPool.waitForDone();
    m_exportPool.waitForDone();
    // Runs what is still queued, a pending finalize included.
    m_writeQueue.reset();
    releaseReserve();
}

void AudioCaptureManager::setSoundServer(const QString& address)
{
    m_server = address;
}

void AudioCaptureManager::setOnMicLevel(std::function<void(float)> handler)
{
    m_onMicLevel = std::move(handler);
}

void AudioCaptureManager::setOnSystemTapUnavailable(std::function<void(const QString&)> handler)
{
    m_onSystemTapUnavailable = std::move(handler);
}

void AudioCaptureManager::setOnCapturePaused(std::function<void(bool)> handler)
{
    m_reconnect.setOnCapturePaused(std::move(handler));
}

void AudioCaptureManager::setOnDiskFailure(std::function<void(const QString&)> handler)
{
    m_onDiskFailure = std::move(handler);
}

void AudioCaptureManager::setOnMicrophoneSilent(std::function<void(bool)> handler)
{
    m_warnings.setOnMicrophoneSilent(std::move(handler));
}

void AudioCaptureManager::setOnSoundElsewhere(std::function<void(const QString&, const QString&)> handler)
{
    m_warnings.setOnSoundElsewhere(std::move(handler));
}

void AudioCaptureManager::captureSystemFrom(const QString& sinkName)
{
    m_checkPool.start([this, sinkName] {
        std::lock_guard services(m_servicesMutex);
        if (!isRunning())
            return;
        log(QStringLiteral("Capturing system audio from ") + sinkName);
        retire(std::move(m_systemService));
        m_systemSink = sinkName;
        m_systemService = std::make_unique<SystemAudioTapService>(*m_writeQueue, m_server);
        m_systemService->setTimeout(m_timings.soundServerTimeout);
        m_systemService->setSink(sinkName);
        m_systemService->setOnBuffer([this](const CapturedAudioBuffer& buffer) { handleSystemBuffer(buffer); });
        try {
            m_systemService->start();
        } catch (const SystemAudioTapService::SystemTapError& error) {
            log(QStringLiteral("System tap unavailable (mic-only): ") + error.description());
            reportTapUnavailable(error.description());
        }
        m_isSystemAudioRunning = m_systemService->isRunning();
    });
}

std::optional<double> AudioCaptureManager::recordingSecondsLeft() const
{
    const std::optional<QString> session = sessionDirectory();
    if (!session)
        return std::nullopt;
    const QStorageInfo storage(*session);
    const double rate = m_micBytesPerSecond + (m_isSystemAudioRunning ? m_systemBytesPerSecond.load() : 0.0);
    if (!storage.isValid() || rate <= 0)
        return std::nullopt;
    return double(storage.bytesAvailable()) / rate;
}

std::optional<QString> AudioCaptureManager::sessionDirectory() const
{
    std::lock_guard lock(m_writerMutex);
    if (!m_writer)
        return std::nullopt;
    return m_writer->sessionDirectory();
}

void AudioCaptureManager::start()
{
    if (isRunning())
        return;
    // A recording that would fill the disk within minutes is refused before anything is made.
    QString documents = m_writerOptions.documentsDirectory;
    if (documents.isEmpty())
        documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QStorageInfo storage(documents);
    if (storage.isValid() && storage.bytesAvailable() < m_diskLimits.minimumFreeBytes) {
        log(QStringLiteral("Not starting: %1 MB free on the recordings disk").arg(storage.bytesAvailable() / 1000000));
        throw FileError(std::make_error_code(std::errc::no_space_on_device), documents);
    }
    auto writer = std::make_shared<AudioTrackWriter>(m_writerOptions);
    // The reserve lies beside the session folders, so no session folder carries it.
    if (m_diskLimits.reserveBytes > 0 && !setReserveAside(QFileInfo(writer->sessionDirectory()).path()))
        log(QStringLiteral("Could not set disk space aside for the end of the recording"));
    const QDir session(writer->sessionDirectory());
    const double checkpointSeconds = std::chrono::duration<double>(m_timings.encoderCheckpointEvery).count();
    auto encoder = [&](const QString& track) {
        return std::make_shared<LiveTrackEncoder>(
            session.filePath(track), LiveTrackEncoder::defaultMaxLagSeconds, checkpointSeconds);
    };
    LiveTracks live { encoder(QStringLiteral("upload_track.m4a")), encoder(QStringLiteral("system_upload.m4a")) };
    {
        std::lock_guard lock(m_writerMutex);
        m_writer = std::move(writer);
        m_live = std::move(live);
    }
    {
        std::lock_guard services(m_servicesMutex);
        startServices();
    }
    m_reconnect.begin();
}

QCoro::Task<> AudioCaptureManager::startCapture(std::function<void()> started)
{
    // Named, not a temporary: GCC 12 destroys temporaries inside co_await twice.
    QCoro::Task<> starting = runInBackground(m_controlPool, [this, started = std::move(started)] {
        start();
        if (started)
            started();
    });
    co_await std::move(starting);
}

// With the services lock held. Throws the microphone's error; a system failure only leaves the recording mic-only.
void AudioCaptureManager::startServices()
{
    m_micService = makeMicService();
    m_micService->start();

    m_systemService = std::make_unique<SystemAudioTapService>(*m_writeQueue, m_server);
    m_systemService->setTimeout(m_timings.soundServerTimeout);
    m_systemService->setSink(m_systemSink);
    m_systemService->setOnBuffer([this](const CapturedAudioBuffer& buffer) { handleSystemBuffer(buffer); });
    if (!m_systemService->isRunning()) {
        try {
            m_systemService->start();
        } catch (const SystemAudioTapService::SystemTapError& error) {
            m_systemService->stop();
            log(QStringLiteral("System tap unavailable (mic-only): ") + error.description());
            reportTapUnavailable(error.description());
        }
    }
    m_isSystemAudioRunning = m_systemService->isRunning();
}

std::unique_ptr<MicCaptureService> AudioCaptureManager::makeMicService()
{
    auto mic = std::make_unique<MicCaptureService>(*m_writeQueue, m_server);
    mic->setTimeout(m_timings.soundServerTimeout);
    mic->setOnBuffer([this](const CapturedAudioBuffer& buffer) { handleMicBuffer(buffer); });
    mic->setOnConfigurationChange([lifeline = std::weak_ptr(m_lifeline)] {
        if (auto strong = lifeline.lock()) {
            std::shared_lock lock(strong->mutex);
            if (strong->manager)
                strong->manager->m_reconnect.handleHardwareChange();
        }
    });
    return mic;
}

// With the services lock held. The first-system-buffer note is re-armed behind the
// buffers the stopped tap had already posted, so only a new tap's buffers can set it off.
void AudioCaptureManager::stopServices()
{
    retire(std::move(m_micService));
    retire(std::move(m_systemService));
    m_isSystemAudioRunning = false;
    m_writeQueue->post([this] { m_hasReceivedSystemAudio = false; });
}

// With the services lock held; half-built services go too.
void AudioCaptureManager::dropServices()
{
    retire(std::move(m_micService));
    retire(std::move(m_systemService));
}

// With the services lock held.
void AudioCaptureManager::dropMic()
{
    retire(std::move(m_micService));
}

// With the services lock held. Throws the microphone's error.
void AudioCaptureManager::startMic()
{
    m_micService = makeMicService();
    m_micService->start();
}

// Resumed capture opens new segments of the same session, behind what was written.
void AudioCaptureManager::startNewSegments()
{
    m_writeQueue->post([this] {
        std::shared_ptr<AudioTrackWriter> writer;
        {
            std::lock_guard lock(m_writerMutex);
            writer = m_writer;
        }
        if (writer)
            writer->startNewSegments();
    });
}

// A stopped service lives on until the write queue has passed the buffers it
// posted, so they are still written; then it goes.
template <class Service> void AudioCaptureManager::retire(std::unique_ptr<Service> service)
{
    if (!service)
        return;
    service->stop();
    m_writeQueue->post([retired = std::shared_ptr<Service>(std::move(service))] {});
}

void AudioCaptureManager::reportTapUnavailable(const QString& description)
{
    callQueued(*this, m_onSystemTapUnavailable, description);
}

// On the write queue.
void AudioCaptureManager::handleMicBuffer(const CapturedAudioBuffer& buffer)
{
    m_reconnect.countMicBuffer();
    m_micBytesPerSecond = buffer.format.sampleRate * buffer.format.channelCount * sizeof(float);
    route(buffer);
    m_reconnect.micBufferRouted();
    m_warnings.checkMic(buffer);
    callQueued(*this, m_onMicLevel, levelOf(buffer));
}

// On the write queue.
void AudioCaptureManager::handleSystemBuffer(const CapturedAudioBuffer& buffer)
{
    if (!m_hasReceivedSystemAudio) {
        m_hasReceivedSystemAudio = true;
        log(QStringLiteral("First system audio buffer received — audio is flowing"));
    }
    m_systemBytesPerSecond = buffer.format.sampleRate * buffer.format.channelCount * sizeof(float);
    route(buffer);
    if (m_warnings.checkSystem(buffer))
        lookForSoundElsewhere();
}

// On the write queue; after the finalize there is no writer and buffers are dropped.
void AudioCaptureManager::route(const CapturedAudioBuffer& buffer)
{
    std::shared_ptr<AudioTrackWriter> writer;
    LiveTracks live;
    {
        std::lock_guard lock(m_writerMutex);
        writer = m_writer;
        live = m_live;
    }
    if (!writer || m_diskFailed)
        return;
    // The encoder gets what reached the segments, so that its track holds what an export of them would.
    const bool mic = buffer.source == AudioCaptureSource::mic;
    const std::uint64_t framesBefore = mic ? writer->micFrameCount() : writer->systemFrameCount();
    if (mic)
        writer->writeMic(buffer);
    else
        writer->writeSystem(buffer);
    const std::uint64_t framesAfter = mic ? writer->micFrameCount() : writer->systemFrameCount();
    if (const std::shared_ptr<LiveTrackEncoder>& encoder = mic ? live.mic : live.system;
        encoder && framesAfter > framesBefore)
        encoder->append(buffer);
    const std::optional<std::error_code> failure = writer->diskFailure();
    if (!failure) {
        growReserve();
        return;
    }
    // What is on disk stays as it is; the reserve makes room to close the segments and export them.
    m_diskFailed = true;
    releaseReserve();
    const QString description = QString::fromStdString(failure->message());
    log(QStringLiteral("Disk write failed (") + description
        + QStringLiteral(") — recording stops with what was written"));
    callQueued(*this, m_onDiskFailure, description);
}

// On the write queue; the round trips to the server run on the check pool.
void AudioCaptureManager::lookForSoundElsewhere()
{
    m_checkPool.start([this] {
        QString captured;
        {
            std::lock_guard services(m_servicesMutex);
            if (!m_systemService || !isRunning())
                return;
            captured = m_systemService->capturedSink();
        }
        m_warnings.lookForSoundElsewhere(m_server, captured);
    });
}

// Before the services start. A reserve of its own under a fresh name, created and locked here; reserves
// nobody holds locked were left by a process that ended during a recording and go first.
bool AudioCaptureManager::setReserveAside(const QString& recordings)
{
    releaseReserve();
    const QDir folder(recordings);
    for (const QString& name :
        folder.entryList({ QString::fromLatin1(reserveFileName) + u'*' }, QDir::Files | QDir::Hidden)) {
        const QByteArray path = QFile::encodeName(folder.filePath(name));
        const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(path.constData());
        ::close(fd);
    }
    std::lock_guard lock(m_reserveMutex);
    m_recordingStartedAt = m_reserveRetryAt = Clock::now();
    const QString path = folder.filePath(QStringLiteral("%1.%2").arg(
        QString::fromLatin1(reserveFileName), QString::number(QRandomGenerator::system()->generate64(), 36)));
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    m_reservePath = path;
    m_reserveFd = fd;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::posix_fallocate(fd, 0, m_diskLimits.reserveBytes) != 0) {
        m_reserveRetryAt += std::chrono::seconds(5);
        return false;
    }
    m_reserveSize = m_diskLimits.reserveBytes;
    return true;
}

// On the write queue. The reserve keeps up with the recording's upload tracks: once what they would
// take and the margin pass it, it grows by a margin more. A disk that cannot give more is asked again later.
void AudioCaptureManager::growReserve()
{
    std::lock_guard lock(m_reserveMutex);
    const Clock::time_point now = Clock::now();
    if (m_reserveFd < 0 || now < m_reserveRetryAt)
        return;
    const double seconds = std::chrono::duration<double>(now - m_recordingStartedAt).count();
    const qint64 margin = m_diskLimits.reserveBytes / 4;
    const qint64 needed
        = std::max(qint64(seconds * m_diskLimits.reserveBytesPerSecond) + margin, m_diskLimits.reserveBytes);
    if (needed <= m_reserveSize)
        return;
    if (::posix_fallocate(m_reserveFd, 0, needed + margin) == 0)
        m_reserveSize = needed + margin;
    else
        m_reserveRetryAt = now + std::chrono::seconds(5);
}

// On the write queue, before the services start, or once nothing runs any more.
void AudioCaptureManager::releaseReserve()
{
    std::lock_guard lock(m_reserveMutex);
    if (m_reservePath.isEmpty())
        return;
    // The space comes back once the file is gone and closed.
    QFile::remove(m_reservePath);
    ::close(m_reserveFd);
    m_reservePath.clear();
    m_reserveFd = -1;
    m_reserveSize = 0;
}

// Everything a stop does before the finalize: no restart goes on, no service runs.
QFuture<void> AudioCaptureManager::endRecording()
{
    QFuture<void> restart = m_reconnect.halt();
    std::lock_guard services(m_servicesMutex);
    stopServices();
    return restart;
}

// Queued behind every buffer already submitted; the writer is dropped whatever happens.
std::shared_ptr<AudioCaptureManager::Finalization> AudioCaptureManager::finalizeOnWriteQueue()
{
    auto finalization = std::make_shared<Finalization>();
    finalization->promise.start();
    m_writeQueue->post([this, finalization] {
        std::shared_ptr<AudioTrackWriter> writer;
        {
            std::lock_guard lock(m_writerMutex);
            writer = std::move(m_writer);
            finalization->live = std::exchange(m_live, {});
        }
        std::optional<RecordingFinalizeResult> result;
        releaseReserve();
        if (writer) {
            try {
                result = writer->finalize();
                finalization->outcome = Finalization::Outcome::finalized;
            } catch (const std::exception& error) {
                log(QStringLiteral("finalize failed: ") + describe(error));
                finalization->outcome = Finalization::Outcome::failed;
            }
        }
        finalization->promise.addResult(result);
        finalization->promise.finish();
        finalization->done.release();
    });
    return finalization;
}

QCoro::Task<CaptureSessionResult> AudioCaptureManager::stopCapture()
{
    if (!isRunning())
        co_return CaptureSessionResult {};
    const QPointer<AudioCaptureManager> self(this);

    QFuture<void> restart = m_reconnect.halt();
    try {
        co_await runInBackground(m_controlPool, [this] {
            std::lock_guard services(m_servicesMutex);
            stopServices();
        });
        co_await restart;
    } catch (...) {
        // The tasks report nothing through their futures; a stray error must not stop the stop.
    }
    if (!self)
        co_return CaptureSessionResult {};

    const std::shared_ptr<Finalization> finalization = finalizeOnWriteQueue();
    QFuture<std::optional<RecordingFinalizeResult>> finalized = finalization->promise.future();
    std::optional<RecordingFinalizeResult> files = co_await finalized;
    if (!self || !files)
        co_return CaptureSessionResult {};

    AudioExportService::Options options;
    options.cancel = &m_cancelExports;
    QCoro::Task<CaptureSessionResult> exporting
        = exportUploadTracks(*files, m_exportPool, options, std::exchange(finalization->live, {}));
    CaptureSessionResult result = co_await std::move(exporting);
    co_return result;
}

bool AudioCaptureManager::stopForQuit(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    m_cancelExports = true;
    endRecording();
    const auto finalization = finalizeOnWriteQueue();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (!finalization->done.tryAcquire(1, int(std::max<std::int64_t>(left.count(), 0))))
        return false;
    return finalization->outcome != Finalization::Outcome::failed;
}

QStringList AudioCaptureManager::validSystemSegments(const QStringList& segments, QStringList& skipped)
{
    QStringList valid;
    for (const QString& segment : segments) {
        const QFileInfo file(segment);
        auto skip = [&](const QString& reason) {
            skipped << QStringLiteral("[AudioCaptureManager] Skipping ") + file.fileName() + QStringLiteral(" — ")
                    + reason;
        };
        if (!file.exists()) {
            skip(QStringLiteral("file missing"));
            continue;
        }
        const qint64 size = std::max<qint64>(file.size(), 0);
        if (size < smallestUsableSegmentBytes) {
            skip(QStringLiteral("too small (") + QString::number(size) + QStringLiteral(" bytes)"));
            continue;
        }
        std::optional<MediaAsset> asset;
        try {
            asset.emplace(segment);
        } catch (const std::exception&) {
        }
        if (!asset || !asset->hasAudioTrack()) {
            skip(QStringLiteral("no audio tracks"));
            continue;
        }
        if (!(asset->durationSeconds() > 0.0)) {
            skip(QStringLiteral("zero duration"));
            continue;
        }
        valid << segment;
    }
    return valid;
}

QCoro::Task<CaptureSessionResult> AudioCaptureManager::exportUploadTracks(
    RecordingFinalizeResult finalized, QThreadPool& pool, AudioExportOptions options, LiveTracks live)
{
    const QDir session(finalized.sessionDirectory);
    // A track encoded while recording to `output`, finished there; else false.
    auto finishedLive = [](const std::shared_ptr<LiveTrackEncoder>& encoder, const QString& output) {
        QString whyNot;
        return encoder && encoder->trackPath() == output && encoder->finish(whyNot);
    };
    auto micJob = [segments = finalized.micSegmentURLs, output = session.filePath(QStringLiteral("upload_track.m4a")),
                      options, encoder = std::move(live.mic), finishedLive] {
        TrackOutcome outcome;
        if (finishedLive(encoder, output)) {
            outcome.url = output;
            return outcome;
        }
        try {
            AudioExportService::encodeUploadTrack(segments, output, options);
            outcome.url = output;
        } catch (const std::exception& error) {
            outcome.lines << QStringLiteral("[AudioCaptureManager] Mic M4A export failed, skipping mic track: ")
                    + describe(error);
        }
        return outcome;
    };
    auto systemJob = [segments = finalized.systemSegmentURLs,
                         output = session.filePath(QStringLiteral("system_upload.m4a")), options,
                         encoder = std::move(live.system), finishedLive] {
        TrackOutcome outcome;
        const QStringList valid = validSystemSegments(segments, outcome.lines);
        outcome.segments = valid;
        if (valid.isEmpty()) {
            outcome.lines << QStringLiteral("[AudioCaptureManager] No valid system segments, continuing mic-only");
            return outcome;
        }
        // The encoder took every segment's audio: with one skipped, the export makes the track.
        if (valid == segments && finishedLive(encoder, output)) {
            outcome.url = output;
            return outcome;
        }
        try {
            AudioExportService::encodeUploadTrack(valid, output, options);
            outcome.url = output;
        } catch (const std::exception& error) {
            outcome.lines << QStringLiteral("[AudioCaptureManager] System M4A export failed, continuing mic-only: ")
                    + describe(error);
        }
        return outcome;
    };

    // Both start now; their lines are printed in turn, microphone first.
    QCoro::Task<TrackOutcome> micExport = runInBackground(pool, std::move(micJob));
    QCoro::Task<TrackOutcome> systemExport = runInBackground(pool, std::move(systemJob));
    CaptureSessionResult result;
    const TrackOutcome mic = co_await std::move(micExport);
    for (const QString& line : mic.lines)
        Log::line(line);
    result.micURL = mic.url;
    result.micSegments = finalized.micSegmentURLs;
    const TrackOutcome system = co_await std::move(systemExport);
    for (const QString& line : system.lines)
        Log::line(line);
    result.systemURL = system.url;
    result.systemSegments = system.segments;
    co_return result;
}
