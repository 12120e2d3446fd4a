#include "UploadQueue.h"

#include "EQAPIError.h"
#include "Log.h"
#include "LogExcerpt.h"

#include <QCoroFuture>
#include <QCoroTimer>
#include <QDir>
#include <QFileInfo>
#include <QNetworkInformation>
#include <QUrl>
#include <QtConcurrent>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// The queue went away (the client quits), the account signed out, or the session is not the signed-in
// account's: the session stays where its journal stands.
struct Abandoned { };

// Nothing reached the service: refused, timed out, no route. Such a try says nothing about the upload itself.
bool isUnreachable(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const TransportError&) {
        return true;
    } catch (...) {
        return false;
    }
}

void saveOrLog(const SessionJournal& journal)
{
    try {
        journal.save();
    } catch (const std::exception& e) {
        Log::line(u"[Upload] journal not saved: "_s + QString::fromUtf8(e.what()));
    }
}

QString trackName(SessionJournal::Kind kind)
{
    return kind == SessionJournal::Kind::Mic ? u"mic"_s : u"system"_s;
}

}

UploadQueue::UploadQueue(UploadPipeline* pipeline, TokenSource tokens, QObject* parent)
    : QObject(parent)
    , m_pipeline(pipeline)
    , m_tokens(std::move(tokens))
{
    // Where the desktop tells it, the network's return ends a wait at once.
    if (!QNetworkInformation::instance())
        QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability);
}

void UploadQueue::submit(const QString& folder, std::optional<SessionJournal> journal)
{
    Session& session = m_sessions[folder];
    if (journal)
        session.known = std::move(journal);
    if (!session.active)
        process(folder);
}

void UploadQueue::retry(const QString& folder)
{
    if (isActive(folder))
        return;
    if (std::optional<SessionJournal> journal = SessionJournal::read(folder)) {
        journal->clearFailure();
        saveOrLog(*journal);
    }
    Log::line(u"[Upload] retry requested for "_s + QFileInfo(folder).fileName());
    process(folder);
}

void UploadQueue::cancelAll()
{
    ++m_generation;
    for (Session& session : m_sessions)
        session.active = false;
}

bool UploadQueue::isActive(const QString& folder) const
{
    const auto it = m_sessions.constFind(folder);
    return it != m_sessions.cend() && it->active;
}

void UploadQueue::report(const QString& folder, const UploadStatus& status)
{
    emit statusChanged(folder, status);
}

void UploadQueue::end(const QString& folder, const UploadStatus& status)
{
    m_sessions[folder].active = false;
    m_sessions[folder].lock.reset();
    report(folder, status);
    emit finished(folder, status);
}

bool UploadQueue::stillRunning(const QPointer<UploadQueue>& self, quint64 generation) const
{
    return self && m_generation == generation;
}

void UploadQueue::reportProgress(const QString& folder, double fraction)
{
    Session& session = m_sessions[folder];
    fraction = std::clamp(fraction, 0.0, 1.0);
    if (fraction < session.progress)
        return;
    session.progress = fraction;
    emit progressChanged(folder, fraction);
}

template <class T>
QCoro::Task<T> UploadQueue::withTries(
    QString folder, SessionJournal* journal, int attempts, std::function<QCoro::Task<T>()> operation)
{
    QPointer self(this);
    const quint64 generation = m_generation;
    const UploadTimings timings = m_pipeline->timings();
    int tries = 0;
    bool unreachable = true;
    for (;;) {
        std::optional<T> value;
        std::exception_ptr error;
        try {
            value = co_await operation();
        } catch (const Abandoned&) {
            throw;
        } catch (...) {
            error = UploadPipeline::retryableError();
        }
        if (!stillRunning(self, generation))
            throw Abandoned {};
        if (value)
            co_return std::move(*value);

        ++tries;
        unreachable = unreachable && isUnreachable(error);
        if (tries < attempts) {
            if (!m_pipeline)
                throw Abandoned {};
            co_await m_pipeline->pauseBeforeRetry(tries, attempts, error);
            if (!stillRunning(self, generation))
                throw Abandoned {};
            continue;
        }
        if (!unreachable)
            std::rethrow_exception(error);

        // No try reached the service: the network is away, and the tries start afresh once it may be back.
        const auto wait = timings.networkRetryInterval;
        Log::line(
            u"[Upload] waiting for the network (%1 ms) — %2"_s.arg(wait.count()).arg(UploadPipeline::describe(error)));
        journal->setWaiting(
            { UploadPipeline::describe(error), tries, QDateTime::currentDateTimeUtc().addMSecs(wait.count()) });
        saveOrLog(*journal);
        report(folder, UploadStatus::waitingForNetwork());
        const auto back = std::make_shared<bool>(false);
        QMetaObject::Connection watch;
        if (const QNetworkInformation* network = QNetworkInformation::instance())
            watch = connect(network, &QNetworkInformation::reachabilityChanged, this,
                [back](QNetworkInformation::Reachability now) {
                    *back = now == QNetworkInformation::Reachability::Online;
                });
        const auto until = std::chrono::steady_clock::now() + wait;
        for (auto left = wait; !*back && left.count() > 0;
             left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now())) {
            co_await QCoro::sleepFor(std::min(left, std::chrono::milliseconds(250)));
            if (!stillRunning(self, generation))
                throw Abandoned {};
        }
        disconnect(watch);
        report(folder, UploadStatus::uploading());
        tries = 0;
        unreachable = true;
    }
}

QCoro::Task<> UploadQueue::process(QString folder)
{
    QPointer self(this);
    QPointer<UploadPipeline> pipeline = m_pipeline;
    const quint64 generation = m_generation;
    m_sessions[folder].active = true;
    const int attempts = std::max(1, pipeline->timings().attempts);

    std::optional<SessionJournal> journal = SessionJournal::read(folder);
    if ((!journal || !journal->mic()) && m_sessions[folder].known)
        journal = m_sessions[folder].known;
    if (!journal || !journal->mic()) {
        Log::line(u"[Upload] nothing to upload in "_s + folder);
        end(folder, UploadStatus::failed(SessionJournal::noAudioFile));
        co_return;
    }
    if (const std::optional<qint64> noteId = journal->noteId()) {
        end(folder, UploadStatus::processing(*noteId));
        co_return;
    }
    // Only the account that recorded the session may send it.
    const QString ownerId = journal->owner() ? journal->owner()->id : QString();
    const auto tokenOrStop = [this, ownerId] {
        std::optional<QString> token = ownerId.isEmpty() ? std::nullopt : m_tokens(ownerId);
        if (!token)
            throw Abandoned {};
        return *token;
    };
    // Held while the session uploads, so no other client takes it up meanwhile.
    if (!m_sessions[folder].lock)
        if (std::optional<SessionLock> lock = SessionLock::acquire(folder))
            m_sessions[folder].lock = std::make_shared<SessionLock>(std::move(*lock));
    if (!m_sessions[folder].lock) {
        Log::line(u"[Upload] "_s + QFileInfo(folder).fileName() + u" is held elsewhere; not uploading it now"_s);
        m_sessions[folder].active = false;
        co_return;
    }

    const QString micName = journal->mic()->file;
    const std::optional<QString> systemName = journal->system() ? std::optional(journal->system()->file) : std::nullopt;
    Log::line(
        u"[Upload] ── pipeline start mic="_s + micName + u" system="_s + systemName.value_or(u"none"_s) + u" ──"_s);
    report(folder, UploadStatus::uploading());

    using Kind = SessionJournal::Kind;
    qint64 total = 0;
    for (Kind kind : { Kind::Mic, Kind::System })
        if (journal->track(kind))
            total += QFileInfo(journal->filePath(*journal->track(kind))).size();
    total = std::max<qint64>(total, 1);

    std::optional<UploadStatus> outcome;
    try {
        for (Kind kind : { Kind::Mic, Kind::System })
            if (journal->track(kind) && !journal->track(kind)->isUploaded())
                UploadPipeline::requireReadable(journal->filePath(*journal->track(kind)));
        qint64 done = 0;
        reportProgress(folder, 0);
        for (Kind kind : { Kind::Mic, Kind::System }) {
            if (!journal->track(kind))
                continue;
            const SessionJournal::Track track = *journal->track(kind);
            const QString file = journal->filePath(track);
            const qint64 bytes = QFileInfo(file).size();
            if (track.isUploaded()) {
                Log::line(u"[Upload] %1 track already uploaded → …/%2"_s.arg(
                    trackName(kind), Log::lastSegment(track.blobUrl)));
                done += bytes;
                reportProgress(folder, double(done) / double(total));
                continue;
            }
            const int step = kind == Kind::Mic ? 1 : 3;
            Log::line(u"[Upload] step %1: fetching %2 upload token…"_s.arg(step).arg(trackName(kind)));
            // Named, not temporaries: GCC 12 destroys temporaries inside co_await twice.
            const std::function<QCoro::Task<std::pair<QString, QString>>()> fetch
                = [pipeline, file, tokenOrStop] { return pipeline->fetchUploadToken(file, tokenOrStop()); };
            const std::pair<QString, QString> granted
                = co_await withTries<std::pair<QString, QString>>(folder, &*journal, attempts, fetch);
            const QString clientToken = granted.first;
            const QString pathName = granted.second;
            journal->setUploading(kind, pathName);
            saveOrLog(*journal);

            Log::line(u"[Upload] step %1: uploading %2 to Vercel Blob…"_s.arg(step + 1).arg(trackName(kind)));
            const auto onSent = [self, folder, done, bytes, total](qint64 sent) {
                if (self)
                    self->reportProgress(folder, double(done + std::min(sent, bytes)) / double(total));
            };
            const std::function<QCoro::Task<QString>()> upload
                = [=] { return pipeline->uploadToBlobStore(file, pathName, clientToken, onSent); };
            const QString blob = co_await withTries<QString>(folder, &*journal, attempts, upload);
            // Whoever has a blob's address can download it: only its name goes to the log.
            Log::line(
                u"[Upload] step %1: %2 blob URL → …/%3"_s.arg(step + 1).arg(trackName(kind), Log::lastSegment(blob)));
            journal->setUploaded(kind, blob);
            saveOrLog(*journal);
            done += bytes;
            reportProgress(folder, double(done) / double(total));
        }

        report(folder, UploadStatus::notifying());
        Log::line(u"[Upload] step 5: notifying backend…"_s);
        const QString micBlob = journal->mic()->blobUrl;
        const std::optional<QString> systemBlob
            = journal->system() ? std::optional(journal->system()->blobUrl) : std::nullopt;
        // One try per round: a notify that may have reached the service is never sent again on its own.
        const std::function<QCoro::Task<qint64>()> notify
            = [=] { return pipeline->notifyBackend(micBlob, systemBlob, micName, systemName, tokenOrStop()); };
        const qint64 noteId = co_await withTries<qint64>(folder, &*journal, 1, notify);
        journal->setNotified(noteId);
        saveOrLog(*journal);
        outcome = UploadStatus::processing(noteId);
        Log::line(u"[Upload] ── pipeline complete, note is processing ──"_s);
    } catch (const Abandoned&) {
        if (stillRunning(self, generation)) {
            Log::line(u"[Upload] "_s + QFileInfo(folder).fileName() + u" waits for the account that recorded it"_s);
            m_sessions[folder].active = false;
            m_sessions[folder].lock.reset();
        }
        co_return;
    } catch (...) {
        const QString description = UploadPipeline::describe(std::current_exception());
        Log::line(u"[Upload] ── pipeline FAILED: "_s + description + u" ──"_s);
        journal->setFailed({ description, attempts, std::nullopt });
        saveOrLog(*journal);
        outcome = UploadStatus::failed(description);
    }
    if (!stillRunning(self, generation))
        co_return;
    m_sessions[folder].known = *journal;
    end(folder, *outcome);
}

QCoro::Task<QList<SessionJournal>> UploadQueue::findPending(QString recordingsFolder)
{
    // Named, not temporaries: GCC 12 destroys temporaries inside co_await twice.
    const auto scan = [recordingsFolder] {
        QList<SessionJournal> pending;
        const QDir root(recordingsFolder);
        for (const QString& name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const std::optional<SessionJournal> journal = SessionJournal::read(root.filePath(name));
            // An interrupted session waits for the user's "Upload" on its own card.
            if (!journal || journal->isDismissed() || journal->isInterrupted())
                continue;
            using Stage = SessionJournal::Stage;
            if (!journal->mic() && journal->stage() != Stage::Failed)
                continue;
            if (journal->stage() == Stage::Recording || journal->stage() == Stage::Finalized
                || journal->stage() == Stage::Done)
                continue;
            pending.append(*journal);
        }
        std::sort(pending.begin(), pending.end(),
            [](const SessionJournal& a, const SessionJournal& b) { return a.startedAt() < b.startedAt(); });
        return pending;
    };
    QFuture<QList<SessionJournal>> scanned = QtConcurrent::run(scan);
    co_return co_await scanned;
}
