#include "RecordingRecovery.h"

#include "AudioCaptureManager.h"
#include "AudioExportService.h"
#include "BuildConfig.h"
#include "CapturedAudioBuffer.h"
#include "FileError.h"
#include "Log.h"
#include "RecordingRetention.h"
#include "SegmentRepair.h"
#include "SessionJournal.h"
#include "SessionLock.h"

#include <QCoroFuture>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QtConcurrent>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString micTrackFile = u"upload_track.m4a"_s;
const QString systemTrackFile = u"system_upload.m4a"_s;
const QString metadataFile = u"metadata.json"_s;
// Niceness of the worker thread.
constexpr int backgroundNice = 10;

void log(const QString& text)
{
    Log::line(u"[RecordingRecovery] "_s + text);
}

// One source's repaired segments, in recording order, and what they hold.
struct RepairedSource {
    QStringList segments;
    std::uint64_t frames = 0;
    double sampleRate = 0;
    std::uint32_t channels = 0;
    // A segment could not be read: the frames no longer line up with what was encoded while recording.
    bool unreadable = false;

    [[nodiscard]] double seconds() const { return sampleRate > 0 ? double(frames) / sampleRate : 0; }
};

RepairedSource repairSource(const QDir& session, const QString& prefix)
{
    RepairedSource source;
    const QStringList names = session.entryList({ prefix + u"*.caf"_s }, QDir::Files, QDir::Name);
    for (const QString& name : names) {
        const QString path = session.filePath(name);
        try {
            const SegmentRepair::Result segment = SegmentRepair::repair(path);
            if (segment.repaired)
                log(u"Repaired %1: %2 frames"_s.arg(name).arg(segment.frames));
            if (segment.frames == 0)
                continue;
            source.segments << path;
            source.frames += segment.frames;
            source.sampleRate = segment.sampleRate;
            source.channels = segment.channels;
        } catch (const FileError& error) {
            log(u"Skipping "_s + name + u": "_s + error.description());
            source.unreadable = true;
        }
    }
    return source;
}

// The same record the writer leaves at a proper end, written from what the repaired segments hold.
QByteArray metadata(
    const QDateTime& start, const QDateTime& end, const RepairedSource& mic, const RepairedSource& system)
{
    QJsonArray tracks;
    for (const auto& [name, source] : { std::pair { sourceName(AudioCaptureSource::mic), &mic },
             std::pair { sourceName(AudioCaptureSource::systemOutput), &system } }) {
        if (source->frames == 0)
            continue;
        QJsonArray files;
        for (const QString& path : source->segments)
            files.append(QFileInfo(path).fileName());
        tracks.append(QJsonObject { { u"source"_s, name }, { u"files"_s, files },
            { u"sampleRate"_s, source->sampleRate }, { u"channels"_s, qint64(source->channels) },
            { u"totalFrameCount"_s, qint64(source->frames) }, { u"durationSeconds"_s, source->seconds() } });
    }
    const QString version = QString::fromUtf8(BuildConfig::appVersion);
    const QJsonObject root {
        { u"recordingStarted"_s, start.toUTC().toString(Qt::ISODate) },
        { u"recordingEnded"_s, end.toUTC().toString(Qt::ISODate) },
        { u"durationSeconds"_s, double(start.msecsTo(end)) / 1000.0 },
        { u"tracks"_s, tracks },
        { u"appVersion"_s, version.isEmpty() ? u"unknown"_s : version },
    };
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

// "Session_2026-03-01_10-15-42-123_AB12CD": the writer names the folder after its start, in local time.
QDateTime startFromName(const QString& folder)
{
    const QString stamp = QFileInfo(folder).fileName().mid(8, 23);
    const QDateTime start = QDateTime::fromString(stamp, u"yyyy-MM-dd_HH-mm-ss-zzz"_s);
    return start.isValid() ? start.toUTC() : QFileInfo(folder).birthTime().toUTC();
}

InterruptedSession sessionOf(const SessionJournal& journal)
{
    return { journal.folder(), journal.startedAt(), journal.durationSeconds(), journal.owner() };
}

// One upload track of a repaired session: from what the killed recording encoded while it ran, where that can
// be taken, and the segments for the rest; else from the segments alone. Throws as the export does.
void makeTrack(const QDir& session, const QString& file, const QStringList& segments, bool encodedAlongside,
    const AudioExportService::Options& options)
{
    const QString output = session.filePath(file);
    const std::optional<EqMediaCheckpoint> checkpoint
        = encodedAlongside ? LiveTrackEncoder::readCheckpoint(output) : std::nullopt;
    if (checkpoint) {
        try {
            AudioExportService::resumeUploadTrack(
                LiveTrackEncoder::partOf(output), *checkpoint, segments, output, options);
            log(u"%1: took the %2 frames encoded while recording, encoded the rest"_s.arg(file).arg(
                checkpoint->inputFrames));
            LiveTrackEncoder::removeLeftovers(output);
            return;
        } catch (const std::exception& error) {
            log(u"%1: what was encoded while recording cannot be taken (%2), encoding it all"_s.arg(
                file, QString::fromUtf8(error.what())));
        }
    }
    AudioExportService::encodeUploadTrack(segments, output, options);
    LiveTrackEncoder::removeLeftovers(output);
}

// Encodes the upload tracks of a repaired session into its journal; false when no microphone track came out.
bool exportTracks(const QDir& session, const RepairedSource& mic, const RepairedSource& system,
    const std::atomic<bool>* cancel, SessionJournal& journal)
{
    AudioExportService::Options options;
    options.cancel = cancel;
    try {
        makeTrack(session, micTrackFile, mic.segments, !mic.unreadable, options);
    } catch (const std::exception& error) {
        log(u"Mic export failed: "_s + QString::fromUtf8(error.what()));
        return false;
    }
    QStringList skipped;
    const QStringList valid = AudioCaptureManager::validSystemSegments(system.segments, skipped);
    std::optional<SessionJournal::Track> systemTrack;
    if (!valid.isEmpty()) {
        try {
            // The encoder had every segment: with one skipped its frames would not line up.
            makeTrack(session, systemTrackFile, valid, !system.unreadable && valid == system.segments, options);
            systemTrack = SessionJournal::Track::of(systemTrackFile, valid);
        } catch (const std::exception& error) {
            log(u"System export failed, continuing mic-only: "_s + QString::fromUtf8(error.what()));
        }
    }
    journal.setExported(SessionJournal::Track::of(micTrackFile, mic.segments), systemTrack);
    return true;
}

std::optional<InterruptedSession> recoverFolder(
    const QString& folder, const QDateTime& before, const std::atomic<bool>* cancel)
{
    const QDir session(folder);
    std::optional<SessionJournal> journal = SessionJournal::read(folder);
    if (journal) {
        if (journal->isDismissed() || journal->startedAt() >= before)
            return std::nullopt;
        // Found at an earlier start and still waiting for the user.
        if (journal->isInterrupted() && journal->stage() == SessionJournal::Stage::Exported)
            return sessionOf(*journal);
        if (journal->stage() != SessionJournal::Stage::Recording
            && journal->stage() != SessionJournal::Stage::Finalized)
            return std::nullopt;
    } else if (session.exists(metadataFile) || session.entryList({ u"*.caf"_s }, QDir::Files).isEmpty()) {
        return std::nullopt;
    }
    // A live recording holds its folder's lock; only a dead one's folder is free.
    if (SessionLock::isHeld(folder))
        return std::nullopt;
    if (!journal) {
        // A recording of this run may not have taken its lock yet.
        if (startFromName(folder) >= before)
            return std::nullopt;
        journal.emplace(folder, startFromName(folder));
    }

    log(u"Interrupted session: "_s + folder);
    const RepairedSource mic = repairSource(session, u"mic_track_"_s);
    const RepairedSource system = repairSource(session, u"system_track_"_s);
    const double seconds = std::max(mic.seconds(), system.seconds());
    const QDateTime start = journal->startedAt();
    try {
        if (!session.exists(metadataFile))
            writePrivateFileAtomically(
                session.filePath(metadataFile), metadata(start, start.addMSecs(qint64(seconds * 1000)), mic, system));
        journal->setFinalized(seconds);
        journal->setInterrupted(true);
        journal->save();
        if (mic.frames == 0 || !exportTracks(session, mic, system, cancel, *journal)) {
            // Stopped by a quit, it is taken up again at the next start.
            if (cancel && *cancel) {
                log(u"Stopped at quit: "_s + folder);
                return std::nullopt;
            }
            log(u"Nothing to upload in "_s + folder);
            // What reached the disk stays offered: a failed recording the user can try again or put away.
            if (mic.frames > 0) {
                journal->setInterrupted(false);
                journal->setFailed({ SessionJournal::noAudioFile, 0, std::nullopt });
                journal->save();
            }
            return std::nullopt;
        }
        journal->save();
    } catch (const FileError& error) {
        log(u"Could not recover "_s + folder + u": "_s + error.description());
        return std::nullopt;
    }
    log(u"Recovered %1: %2 s"_s.arg(QFileInfo(folder).fileName()).arg(seconds, 0, 'f', 1));
    return sessionOf(*journal);
}

}

RecordingRecovery::RecordingRecovery(QString recordingsFolder, QObject* parent)
    : QObject(parent)
    , m_recordingsFolder(std::move(recordingsFolder))
    , m_createdAt(QDateTime::currentDateTimeUtc())
{
    m_worker.setMaxThreadCount(1);
}

RecordingRecovery::~RecordingRecovery()
{
    // A long export must not hold up quitting; what it left is done again at the next start.
    m_cancel = true;
    m_worker.waitForDone();
}

std::optional<InterruptedSession> RecordingRecovery::recover(const QString& folder)
{
    return recoverFolder(folder, QDateTime::currentDateTimeUtc(), nullptr);
}

bool RecordingRecovery::exportAgain(const QString& folder)
{
    std::optional<SessionJournal> journal = SessionJournal::read(folder);
    if (!journal)
        return false;
    const QDir session(folder);
    const RepairedSource mic = repairSource(session, u"mic_track_"_s);
    const RepairedSource system = repairSource(session, u"system_track_"_s);
    try {
        if (mic.frames == 0 || !exportTracks(session, mic, system, nullptr, *journal))
            return false;
        journal->save();
    } catch (const FileError& error) {
        log(u"Could not export "_s + folder + u": "_s + error.description());
        return false;
    }
    log(u"Exported "_s + QFileInfo(folder).fileName() + u" again"_s);
    return true;
}

QCoro::Task<> RecordingRecovery::scan(std::optional<int> keepDays)
{
    QPointer self(this);
    const QString root = m_recordingsFolder;
    const QDateTime before = m_createdAt;
    const std::atomic<bool>* cancel = &m_cancel;
    // Named, not temporaries: GCC 12 destroys temporaries inside co_await twice.
    auto work = [root, before, cancel, keepDays] {
        // Repairs and exports yield to the interface and to a recording that starts meanwhile.
        ::setpriority(PRIO_PROCESS, id_t(::gettid()), backgroundNice);
        RecordingRetention::sweep(root, keepDays, QDateTime::currentDateTimeUtc());
        QList<InterruptedSession> sessions;
        const QStringList folders
            = QDir(root).entryList({ u"Session_*"_s }, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString& name : folders) {
            if (*cancel)
                break;
            if (std::optional<InterruptedSession> session = recoverFolder(QDir(root).filePath(name), before, cancel))
                sessions << *session;
        }
        return sessions;
    };
    QFuture<QList<InterruptedSession>> future = QtConcurrent::run(&m_worker, std::move(work));
    const QList<InterruptedSession> found = co_await future;
    if (!self)
        co_return;
    bool changed = false;
    for (const InterruptedSession& session : found) {
        if (std::none_of(
                m_sessions.begin(), m_sessions.end(), [&](const auto& s) { return s.folder == session.folder; })) {
            m_sessions << session;
            changed = true;
        }
    }
    std::sort(
        m_sessions.begin(), m_sessions.end(), [](const auto& a, const auto& b) { return a.startedAt > b.startedAt; });
    if (changed)
        emit sessionsChanged();
}

bool RecordingRecovery::take(const QString& folder)
{
    const auto removed = m_sessions.removeIf([&](const InterruptedSession& s) { return s.folder == folder; });
    if (removed > 0)
        emit sessionsChanged();
    return removed > 0;
}
