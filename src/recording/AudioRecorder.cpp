#include "AudioRecorder.h"

#include "AudioCaptureManager.h"
#include "BackgroundTask.h"
#include "FileError.h"
#include "Log.h"
#include "SessionJournal.h"
#include "SoundServerConnection.h"
#include "SoundServerError.h"

#include <QCoroFuture>
#include <QFile>
#include <QFileInfo>
#include <QtConcurrent>

#include <pulse/error.h>

#include <ctime>

using namespace Qt::StringLiterals;

namespace {

QString yesNo(bool on)
{
    return on ? u"true"_s : u"false"_s;
}

// The default source's index, or the server's error code (0: the server has no default source).
struct DefaultInput {
    std::optional<quint32> index;
    int status = 0;
};

DefaultInput readDefaultInput()
{
    try {
        auto server = SoundServerConnection::shared();
        const auto defaults = server->defaults();
        if (defaults.sourceName.isEmpty())
            return {};
        return { server->sourceInfo(defaults.sourceName).index, 0 };
    } catch (const SoundServerError& e) {
        return { std::nullopt, e.code() };
    }
}

// Connecting to the sound server is the permission check: only a refusal denies. The error code, 0 when connected.
int serverAccess()
{
    try {
        SoundServerConnection::shared();
        return 0;
    } catch (const SoundServerError& e) {
        return e.code();
    }
}

const QString noAnswer = u"Recording did not start: the sound server does not answer"_s;

void saveJournal(const SessionJournal& journal)
{
    try {
        journal.save();
    } catch (const std::exception& e) {
        Log::line(u"[AudioRecorder] session journal not written: "_s + QString::fromUtf8(e.what()));
    }
}

}

namespace {

// Time spent suspended since boot: CLOCK_BOOTTIME counts it, CLOCK_MONOTONIC does not.
std::chrono::nanoseconds sleptSinceBoot()
{
    timespec boot {}, awake {};
    clock_gettime(CLOCK_BOOTTIME, &boot);
    clock_gettime(CLOCK_MONOTONIC, &awake);
    const auto since
        = [](const timespec& t) { return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec); };
    return since(boot) - since(awake);
}

}

AudioRecorder::AudioRecorder(QObject* parent)
    : AudioRecorder([] { return std::make_unique<AudioCaptureManager>(); }, parent)
{
}

AudioRecorder::AudioRecorder(ManagerFactory makeManager, QObject* parent)
    : QObject(parent)
    , m_makeManager(std::move(makeManager))
    , m_sleepClock(&sleptSinceBoot)
{
    lookUpDefaultInput();
}

AudioRecorder::~AudioRecorder() = default;

QCoro::Task<> AudioRecorder::lookUpDefaultInput()
{
    // The server round trips run off the main thread so start-up never waits on them.
    QPointer self(this);
    const DefaultInput input = co_await QtConcurrent::run(readDefaultInput);
    if (!self)
        co_return;
    if (input.index) {
        m_availableInputs = { *input.index };
        m_selectedInputID = QString::number(*input.index);
        Log::line(u"[AudioRecorder] Default input device ID: %1"_s.arg(*input.index));
    } else {
        Log::line(u"[AudioRecorder] sound server: no default input device (status %1)"_s.arg(input.status));
    }
}

QCoro::Task<bool> AudioRecorder::microphonePermission()
{
    QPointer self(this);
    const int error = co_await QtConcurrent::run(serverAccess);
    if (error == PA_ERR_ACCESS && self)
        setPermissionDenied(true);
    // A server that does not answer fails the start here rather than a time-out later.
    if (error == PA_ERR_TIMEOUT && self)
        setNotice(noAnswer);
    co_return error != PA_ERR_ACCESS&& error != PA_ERR_TIMEOUT;
}

QCoro::Task<> AudioRecorder::startRecording()
{
    if (m_isRecording || m_isStartingRecording) {
        Log::line(u"[AudioRecorder] startRecording ignored: isRecording="_s + yesNo(m_isRecording) + u" isStarting="_s
            + yesNo(m_isStartingRecording));
        co_return;
    }
    setStartingRecording(true);
    QPointer self(this);

    const bool granted = co_await microphonePermission();
    if (!self)
        co_return;
    if (!granted) {
        Log::line(m_permissionDenied ? u"[AudioRecorder] startRecording: permission denied"_s
                                     : u"[AudioRecorder] startRecording: the sound server does not answer"_s);
        setStartingRecording(false);
        co_return;
    }

    std::unique_ptr<AudioCaptureManager> manager = m_makeManager();
    manager->setOnMicLevel([self](float level) {
        if (self)
            self->setAudioLevel(level);
    });
    manager->setOnSystemTapUnavailable([self](const QString& description) {
        if (self)
            self->setSystemAudioAvailable(false);
        Log::line(u"[AudioRecorder] System tap unavailable: "_s + description);
    });
    manager->setOnCapturePaused([self, running = manager.get()](bool paused) {
        // A report queued before a stop must not outlive the recording it is about.
        if (!self || self->m_captureManager.get() != running)
            return;
        self->setReconnectingAudio(paused);
        if (!paused)
            self->setSystemAudioAvailable(running->isSystemAudioRunning());
    });
    manager->setOnMicrophoneSilent([self, running = manager.get()](bool silent) {
        if (self && self->m_captureManager.get() == running)
            self->setCaptureWarnings(silent, self->m_soundElsewhereSink, self->m_soundElsewhereDescription);
    });
    manager->setOnSoundElsewhere([self, running = manager.get()](const QString& sink, const QString& description) {
        if (self && self->m_captureManager.get() == running)
            self->setCaptureWarnings(self->m_micSilent, sink, description);
    });
    manager->setOnDiskFailure([self, running = manager.get()](const QString& description) {
        if (!self || self->m_captureManager.get() != running)
            return;
        Log::line(u"[AudioRecorder] stopping: the disk failed ("_s + description + u')');
        self->setNotice(u"Recording stopped: the disk is full"_s);
        self->stopRecording();
    });
    // Whose recording it is, read now: whoever signs in or out meanwhile does not change it.
    const std::optional<SessionJournal::Owner> owner = m_owner ? m_owner() : std::nullopt;
    // The server round trips, the session folder, its lock and journal are made on a worker thread.
    std::exception_ptr failure;
    std::optional<SessionLock> lock;
    try {
        // Named, not a temporary: GCC 12 destroys temporaries inside co_await twice.
        const std::function<void()> prepare = [&manager, &lock, &owner] {
            if (const std::optional<QString> folder = manager->sessionDirectory()) {
                // The lock first: a journal saying "recording" with a free lock means its process died.
                lock = SessionLock::acquire(*folder);
                SessionJournal journal(*folder);
                journal.setOwner(owner);
                saveJournal(journal);
            }
        };
        co_await manager->startCapture(prepare);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) {
        // The recorder went while the capture started: its files are closed as at quitting.
        manager->stopForQuit(std::chrono::seconds(2));
        co_return;
    }
    try {
        if (failure)
            std::rethrow_exception(failure);
    } catch (const FileError& e) {
        Log::line(u"[AudioRecorder] startRecording error: "_s + QString::fromUtf8(e.what()));
        if (e.code() == std::errc::no_space_on_device)
            setNotice(u"Not enough disk space to record"_s);
        setStartingRecording(false);
        co_return;
    } catch (const std::exception& e) {
        Log::line(u"[AudioRecorder] startRecording error: "_s + QString::fromUtf8(e.what()));
        if (const auto* server = dynamic_cast<const SoundServerError*>(&e); server && server->code() == PA_ERR_TIMEOUT)
            setNotice(noAnswer);
        setStartingRecording(false);
        co_return;
    }

    if (m_isRecording || m_captureManager) {
        Log::line(u"[AudioRecorder] startRecording: duplicate session detected, discarding"_s);
        // Without its journal the discarded session is never taken for one to upload.
        if (const std::optional<QString> folder = manager->sessionDirectory())
            QFile::remove(SessionJournal(*folder).path());
        co_await manager->stopCapture();
        if (self)
            setStartingRecording(false);
        co_return;
    }

    const bool systemAudio = manager->isSystemAudioRunning();
    const std::optional<QString> folder = manager->sessionDirectory();
    m_sessionLock = std::move(lock);
    m_sessionOwner = owner;
    m_captureManager = std::move(manager);
    setNotice({});
    updateTimeLeft();
    setSystemAudioAvailable(systemAudio);
    setRecording(true);
    setDuration(0);
    setAudioLevel(0);
    setSessionFolder(folder);
    m_sleptBefore = m_sleepClock();
    setSleepNotice({});
    m_timer = std::make_unique<QTimer>();
    m_timer->setInterval(100);
    connect(m_timer.get(), &QTimer::timeout, this, &AudioRecorder::tick);
    m_timer->start();
    Log::line(u"[AudioRecorder] startRecording: session started, systemAudio="_s + yesNo(systemAudio));
    setStartingRecording(false);
}

void AudioRecorder::tick()
{
    noticeSleep();
    if (m_isRecording)
        setDuration(m_duration + 0.1);
    // The disk is asked every five seconds.
    if (++m_ticks % 50 == 0)
        updateTimeLeft();
}

// The first tick after a resume finds the sleep clock ahead: the recording stood still that long (the
// capture reconnects by itself), and the widget says so. A few seconds are clock noise, not a suspend.
void AudioRecorder::noticeSleep()
{
    using namespace std::chrono;
    const nanoseconds slept = m_sleepClock();
    const seconds gap = duration_cast<seconds>(slept - m_sleptBefore);
    m_sleptBefore = slept;
    if (gap < seconds(5))
        return;
    const QString length
        = gap < minutes(1) ? u"%1 s"_s.arg(gap.count()) : u"%1 min"_s.arg(qRound64(double(gap.count()) / 60));
    Log::line(u"[AudioRecorder] The computer slept for "_s + length + u" during the recording"_s);
    setSleepNotice(u"Paused "_s + length + u" while the computer slept"_s);
}

void AudioRecorder::setSleepNotice(const QString& text)
{
    if (text == m_sleepNotice)
        return;
    m_sleepNotice = text;
    emit sleepNoticeChanged();
}

void AudioRecorder::updateTimeLeft()
{
    const std::optional<double> left = m_captureManager ? m_captureManager->recordingSecondsLeft() : std::nullopt;
    QString text;
    if (left && *left < 2 * 3600) {
        const auto minutes = qint64(*left / 60);
        text = minutes >= 60 ? u"%1 h %2 min left"_s.arg(minutes / 60).arg(minutes % 60, 2, 10, QLatin1Char('0'))
            : minutes >= 1   ? u"%1 min left"_s.arg(minutes)
                             : u"Less than a minute left"_s;
    }
    if (text == m_timeLeft)
        return;
    m_timeLeft = text;
    emit timeLeftChanged();
}

std::unique_ptr<AudioCaptureManager> AudioRecorder::teardown()
{
    m_timer.reset();
    setRecording(false);
    setReconnectingAudio(false);
    setCaptureWarnings(false, {}, {});
    m_ticks = 0;
    if (!m_timeLeft.isEmpty()) {
        m_timeLeft.clear();
        emit timeLeftChanged();
    }
    setAudioLevel(0);
    setSystemAudioAvailable(false);
    std::unique_ptr<AudioCaptureManager> manager = std::move(m_captureManager);
    setLastSavedURL(m_sessionFolder);
    setSessionFolder(std::nullopt);
    return manager;
}

std::optional<QString> AudioRecorder::stopRecording()
{
    // The session is taken here, so the same one can never be stopped twice.
    const std::optional<QString> folder = m_sessionFolder;
    const double seconds = m_duration;
    std::unique_ptr<AudioCaptureManager> manager = teardown();
    if (!manager)
        return folder;
    Log::line(u"[AudioRecorder] stopRecording: finalizing session…"_s);
    changeStopsRunning(+1);
    if (folder)
        emit sessionStopping(*folder, seconds, m_sessionOwner);
    finishStop(std::move(manager), std::exchange(m_sessionLock, std::nullopt), folder, seconds);
    return folder;
}

QCoro::Task<> AudioRecorder::finishStop(std::unique_ptr<AudioCaptureManager> manager, std::optional<SessionLock> lock,
    std::optional<QString> folder, double seconds)
{
    QPointer self(this);
    const CaptureSessionResult result = co_await manager->stopCapture();
    std::optional<SessionJournal> journal;
    if (folder)
        journal = co_await runInBackground(
            *QThreadPool::globalInstance(), [&] { return journalStopped(*folder, seconds, result); });
    lock.reset();
    if (!self)
        co_return;
    if (result.micURL) {
        setLastSavedURL(result.micURL);
        Log::line(
            u"[AudioRecorder] stopRecording: mic_track saved %1KB"_s.arg(QFileInfo(*result.micURL).size() / 1024));
    } else {
        Log::line(u"[AudioRecorder] stopAndUpload: no mic track URL returned"_s);
    }
    changeStopsRunning(-1);
    if (journal)
        emit sessionStopped(*journal);
}

SessionJournal AudioRecorder::journalStopped(const QString& folder, double seconds, const CaptureSessionResult& result)
{
    SessionJournal journal = SessionJournal::read(folder).value_or(SessionJournal(folder));
    journal.setFinalized(seconds);
    if (result.micURL) {
        using Track = SessionJournal::Track;
        journal.setExported(Track::of(*result.micURL, result.micSegments),
            result.systemURL ? std::optional(Track::of(*result.systemURL, result.systemSegments)) : std::nullopt);
    } else {
        journal.setFailed({ SessionJournal::noAudioFile, 0, std::nullopt });
    }
    saveJournal(journal);
    return journal;
}

void AudioRecorder::finishForQuit(std::chrono::milliseconds timeout)
{
    const std::optional<QString> folder = m_sessionFolder;
    std::optional<SessionLock> lock = std::exchange(m_sessionLock, std::nullopt);
    std::unique_ptr<AudioCaptureManager> manager = teardown();
    if (!manager)
        return;
    const bool closed = manager->stopForQuit(timeout);
    if (closed && folder) {
        SessionJournal journal = SessionJournal::read(*folder).value_or(SessionJournal(*folder));
        journal.setFinalized(m_duration);
        saveJournal(journal);
    }
    Log::line(u"[AudioRecorder] quitting during a recording: "_s
        + (closed ? u"session files closed, nothing uploaded"_s : u"session files could not be closed in time"_s));
}

QString AudioRecorder::formatDuration(double seconds)
{
    const qint64 s = qint64(seconds);
    if (s < 3600)
        return QString::asprintf("%02lld:%02lld", (s % 3600) / 60, s % 60);
    return QString::asprintf("%lld:%02lld:%02lld", s / 3600, (s % 3600) / 60, s % 60);
}

void AudioRecorder::setRecording(bool on)
{
    if (on == m_isRecording)
        return;
    m_isRecording = on;
    emit isRecordingChanged();
}

void AudioRecorder::setDuration(double seconds)
{
    if (seconds == m_duration)
        return;
    m_duration = seconds;
    emit durationChanged();
}

void AudioRecorder::setAudioLevel(float level)
{
    if (level == m_audioLevel)
        return;
    m_audioLevel = level;
    emit audioLevelChanged();
}

void AudioRecorder::setSessionFolder(const std::optional<QString>& url)
{
    if (url == m_sessionFolder)
        return;
    m_sessionFolder = url;
    emit sessionFolderChanged();
}

void AudioRecorder::setLastSavedURL(const std::optional<QString>& url)
{
    if (url == m_lastSavedURL)
        return;
    m_lastSavedURL = url;
    emit lastSavedURLChanged();
}

void AudioRecorder::setPermissionDenied(bool on)
{
    if (on == m_permissionDenied)
        return;
    m_permissionDenied = on;
    emit permissionDeniedChanged();
}

void AudioRecorder::setSystemAudioAvailable(bool on)
{
    if (on == m_systemAudioAvailable)
        return;
    m_systemAudioAvailable = on;
    emit systemAudioAvailableChanged();
}

void AudioRecorder::setStartingRecording(bool on)
{
    if (on == m_isStartingRecording)
        return;
    m_isStartingRecording = on;
    emit isStartingRecordingChanged();
}

QString AudioRecorder::captureWarning() const
{
    if (!m_soundElsewhereSink.isEmpty())
        return u"Computer sound is playing on "_s + m_soundElsewhereDescription;
    return m_micSilent ? u"Microphone is silent"_s : QString();
}

void AudioRecorder::captureElsewhere()
{
    if (!m_captureManager || m_soundElsewhereSink.isEmpty())
        return;
    Log::line(u"[AudioRecorder] capturing computer sound from "_s + m_soundElsewhereDescription);
    m_captureManager->captureSystemFrom(m_soundElsewhereSink);
    setCaptureWarnings(m_micSilent, {}, {});
}

void AudioRecorder::setCaptureWarnings(bool micSilent, const QString& sink, const QString& description)
{
    if (micSilent == m_micSilent && sink == m_soundElsewhereSink && description == m_soundElsewhereDescription)
        return;
    m_micSilent = micSilent;
    m_soundElsewhereSink = sink;
    m_soundElsewhereDescription = description;
    emit captureWarningChanged();
}

void AudioRecorder::setNotice(const QString& text)
{
    if (text == m_notice)
        return;
    m_notice = text;
    emit noticeChanged();
}

void AudioRecorder::setReconnectingAudio(bool on)
{
    if (on == m_isReconnectingAudio)
        return;
    m_isReconnectingAudio = on;
    emit isReconnectingAudioChanged();
}

void AudioRecorder::changeStopsRunning(int delta)
{
    const bool before = isStoppingRecording();
    m_stopsRunning += delta;
    if (isStoppingRecording() != before)
        emit isStoppingRecordingChanged();
}
