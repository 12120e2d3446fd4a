#include "RecordingLibrary.h"

#include "AudioRecorder.h"
#include "AudioTrackWriter.h"
#include "DateText.h"
#include "Log.h"
#include "RecordingRetention.h"
#include "UploadPipeline.h"
#include "UploadQueue.h"

#include <QCoroFuture>
#include <QCoroTimer>
#include <QFile>
#include <QFileInfo>
#include <QtConcurrent>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

void log(const QString& text)
{
    Log::line(u"[Upload] "_s + text);
}

bool save(const SessionJournal& journal)
{
    try {
        journal.save();
        return true;
    } catch (const std::exception& e) {
        log(u"journal not saved: "_s + QString::fromUtf8(e.what()));
        return false;
    }
}

bool isSending(const UploadStatus& status)
{
    return status.stage() == UploadStatus::Uploading || status.stage() == UploadStatus::Notifying
        || status.stage() == UploadStatus::WaitingForNetwork;
}

}

RecordingLibrary::RecordingLibrary(AudioRecorder* recorder, AccountSource account, TokenProvider tokens, QString folder,
    UploadPipeline* pipeline, Timings timings, QObject* parent)
    : QObject(parent)
    , m_recorder(recorder)
    , m_account(std::move(account))
    , m_tokens(std::move(tokens))
    , m_folder(folder.isEmpty() ? defaultFolder() : std::move(folder))
    , m_timings(timings)
    , m_pipeline(pipeline ? pipeline : new UploadPipeline(UploadPipeline::defaultBlobEndpoint(), {}, this))
    , m_recovery(new RecordingRecovery(m_folder, this))
{
    // A token only ever goes to the sessions of the account it belongs to.
    m_queue = new UploadQueue(
        m_pipeline,
        [this](const QString& ownerId) -> std::optional<QString> {
            const std::optional<Owner> account = m_account();
            return account && account->id == ownerId ? m_tokens() : std::nullopt;
        },
        this);
    connect(m_queue, &UploadQueue::statusChanged, this, &RecordingLibrary::statusChanged);
    connect(m_queue, &UploadQueue::progressChanged, this, [this](const QString& folder, double fraction) {
        if (PendingUpload* card = cardAt(folder); card && card->progress != fraction) {
            card->progress = fraction;
            emit cardsChanged();
        }
    });
    connect(m_queue, &UploadQueue::finished, this, [this](const QString& folder, const UploadStatus& status) {
        if (status.stage() == UploadStatus::Failed)
            emit uploadFailed(folder, status.message());
    });
    connect(m_recovery, &RecordingRecovery::sessionsChanged, this, &RecordingLibrary::interruptedChanged);
    if (recorder) {
        recorder->setOwnerSource(m_account);
        connect(recorder, &AudioRecorder::sessionStopping, this, &RecordingLibrary::sessionStopping);
        connect(recorder, &AudioRecorder::sessionStopped, this, &RecordingLibrary::sessionStopped);
    }
    const std::optional<Owner> signedIn = m_account();
    m_accountId = signedIn ? signedIn->id : QString();
}

RecordingLibrary::~RecordingLibrary() = default;

QString RecordingLibrary::defaultFolder()
{
    return AudioTrackWriter::recordingsFolder();
}

bool RecordingLibrary::isMine(const std::optional<Owner>& owner) const
{
    const std::optional<Owner> account = m_account();
    return owner && account && owner->id == account->id;
}

void RecordingLibrary::stopRecording()
{
    if (m_recorder && m_recorder->isRecording())
        m_recorder->stopRecording();
}

void RecordingLibrary::sessionStopping(const QString& folder, double seconds, const std::optional<Owner>& owner)
{
    if (!m_account() || !owner)
        return;
    PendingUpload card;
    card.folder = folder;
    card.fileName = QFileInfo(folder).fileName();
    card.duration = seconds;
    card.startedAt = QDateTime::currentDateTimeUtc().addMSecs(-qint64(seconds * 1000));
    if (!isMine(owner))
        card.ownerEmail = owner->email;
    putCard(card);
}

void RecordingLibrary::sessionStopped(const SessionJournal& journal)
{
    if (!journal.owner()) {
        // Made while signed out: the next account to sign in is asked.
        offerSignedOut(journal.folder());
        return;
    }
    if (!isMine(journal.owner()))
        return;
    if (!journal.mic()) {
        const QString reason = journal.failure() ? journal.failure()->reason : SessionJournal::noAudioFile;
        setStatus(journal.folder(), UploadStatus::failed(reason));
        emit uploadFailed(journal.folder(), reason);
        return;
    }
    m_queue->submit(journal.folder(), journal);
}

void RecordingLibrary::place(const SessionJournal& journal)
{
    const QString folder = journal.folder();
    if (card(folder) || m_queue->isActive(folder) || !m_account())
        return;
    if (!journal.owner()) {
        offerSignedOut(folder);
        return;
    }
    PendingUpload card;
    card.folder = folder;
    card.fileName = QFileInfo(folder).fileName();
    card.duration = journal.durationSeconds();
    card.startedAt = journal.startedAt();
    if (!isMine(journal.owner())) {
        card.ownerEmail = journal.owner()->email;
        card.status = UploadStatus::idle();
        putCard(card);
        return;
    }
    log(u"resuming "_s + card.fileName + u" ("_s + SessionJournal::stageName(journal.stage()) + u')');
    if (journal.stage() == SessionJournal::Stage::Failed) {
        const std::optional<SessionJournal::Failure> failure = journal.failure();
        card.status = UploadStatus::failed(failure ? failure->reason : QString());
        putCard(card);
        return;
    }
    putCard(card);
    m_queue->submit(folder);
}

QCoro::Task<> RecordingLibrary::scan(std::optional<int> keepDays)
{
    QPointer self(this);
    // Uploads an earlier run left unfinished go on at once (a failed one waits for Retry);
    // what a stopped client left is repaired meanwhile, and offered when it is.
    co_await resume();
    if (!self)
        co_return;
    co_await m_recovery->scan(keepDays);
    if (!self)
        co_return;
    co_await resume();
}

QCoro::Task<> RecordingLibrary::resume()
{
    QPointer self(this);
    const quint64 generation = m_generation;
    const QList<SessionJournal> pending = co_await UploadQueue::findPending(m_folder);
    if (!self || generation != m_generation)
        co_return;
    for (const SessionJournal& journal : pending)
        place(journal);
    // Interrupted recordings made while signed out are asked about like the others.
    for (const InterruptedSession& session : m_recovery->sessions())
        if (!session.owner)
            offerSignedOut(session.folder);
    emit interruptedChanged();
}

void RecordingLibrary::accountChanged()
{
    const std::optional<Owner> account = m_account();
    const QString id = account ? account->id : QString();
    if (id == m_accountId)
        return;
    m_accountId = id;
    ++m_generation;
    // Nothing of the account that left is sent any more; its tokens are gone with it.
    m_queue->cancelAll();
    m_cards.clear();
    emit cardsChanged();
    setUnowned({});
    emit interruptedChanged();
    if (account)
        resume();
}

qsizetype RecordingLibrary::cardIndex(const QString& folder) const
{
    const auto it
        = std::find_if(m_cards.begin(), m_cards.end(), [&](const PendingUpload& c) { return c.folder == folder; });
    return it != m_cards.end() ? it - m_cards.begin() : -1;
}

PendingUpload* RecordingLibrary::cardAt(const QString& folder)
{
    const qsizetype at = cardIndex(folder);
    return at >= 0 ? &m_cards[at] : nullptr;
}

std::optional<PendingUpload> RecordingLibrary::card(const QString& folder) const
{
    const qsizetype at = cardIndex(folder);
    return at >= 0 ? std::optional(m_cards[at]) : std::nullopt;
}

bool RecordingLibrary::isUploading() const
{
    return std::any_of(m_cards.begin(), m_cards.end(), [](const PendingUpload& c) { return isSending(c.status); });
}

void RecordingLibrary::putCard(PendingUpload card)
{
    if (PendingUpload* existing = cardAt(card.folder))
        *existing = std::move(card);
    else
        m_cards.prepend(std::move(card));
    emit cardsChanged();
}

void RecordingLibrary::setStatus(const QString& folder, const UploadStatus& status)
{
    PendingUpload* card = cardAt(folder);
    if (!card || (card->status == status && status.stage() != UploadStatus::Processing))
        return;
    card->status = status;
    if (status.stage() == UploadStatus::Processing)
        card->noteId = status.noteId();
    emit cardsChanged();
}

void RecordingLibrary::removeCard(const QString& folder)
{
    if (m_cards.removeIf([&](const PendingUpload& c) { return c.folder == folder; }) > 0)
        emit cardsChanged();
}

void RecordingLibrary::statusChanged(const QString& folder, const UploadStatus& status)
{
    const std::optional<PendingUpload> before = card(folder);
    if (!before || !before->ownerEmail.isEmpty())
        return;
    setStatus(folder, status);
    if (status.stage() == UploadStatus::Processing && before->status.stage() != UploadStatus::Processing)
        followUp(folder, status.noteId(), before->startedAt);
}

void RecordingLibrary::retry(const QString& folder)
{
    const std::optional<PendingUpload> failed = card(folder);
    if (!failed || failed->status.stage() != UploadStatus::Failed || !failed->ownerEmail.isEmpty()
        || m_queue->isActive(folder))
        return;
    const std::optional<SessionJournal> journal = SessionJournal::read(folder);
    // A session the user chose to keep on this computer is not sent.
    if (journal && (journal->isDismissed() || !isMine(journal->owner())))
        return;
    setStatus(folder, UploadStatus::uploading());
    if (journal && !journal->mic())
        exportAgainAndRetry(folder);
    else
        m_queue->retry(folder);
}

QCoro::Task<> RecordingLibrary::exportAgainAndRetry(QString folder)
{
    QPointer self(this);
    log(u"exporting "_s + QFileInfo(folder).fileName() + u" again"_s);
    // Named, not a temporary: GCC 12 destroys temporaries inside co_await twice.
    QFuture<bool> exporting = QtConcurrent::run([folder] { return RecordingRecovery::exportAgain(folder); });
    const bool exported = co_await exporting;
    if (!self)
        co_return;
    if (!exported) {
        setStatus(folder, UploadStatus::failed(SessionJournal::noAudioFile));
        emit uploadFailed(folder, SessionJournal::noAudioFile);
        co_return;
    }
    m_queue->retry(folder);
}

void RecordingLibrary::dismiss(const QString& folder)
{
    removeCard(folder);
}

bool RecordingLibrary::discard(const QString& folder, bool keepFiles)
{
    if (m_queue->isActive(folder)) {
        log(u"not discarding "_s + QFileInfo(folder).fileName() + u": it is being uploaded"_s);
        return false;
    }
    std::optional<SessionJournal> journal = SessionJournal::read(folder);
    // Another account's recording is not this one's to throw away.
    if (journal && journal->owner() && !isMine(journal->owner()))
        return false;
    if (keepFiles) {
        // The files stay, the session is not offered again.
        if (journal) {
            journal->setDismissed(true);
            save(*journal);
        }
    } else if (!QFile::moveToTrash(folder)) {
        log(u"could not move to the trash: "_s + folder);
        return false;
    }
    removeCard(folder);
    m_recovery->take(folder);
    return true;
}

void RecordingLibrary::viewTranscript(const QString& folder)
{
    const std::optional<PendingUpload> done = card(folder);
    removeCard(folder);
    if (done && done->noteId)
        emit openNote(*done->noteId);
}

void RecordingLibrary::upload(const QString& folder)
{
    const auto& sessions = m_recovery->sessions();
    const auto it = std::find_if(sessions.begin(), sessions.end(), [&](const auto& s) { return s.folder == folder; });
    if (it == sessions.end() || !isMine(it->owner))
        return;
    std::optional<SessionJournal> journal = SessionJournal::read(folder);
    if (!journal)
        return;
    journal->setInterrupted(false);
    save(*journal);
    m_recovery->take(folder);
    place(*journal);
}

QVariantList RecordingLibrary::interruptedList() const
{
    QVariantList list;
    for (const InterruptedSession& session : m_recovery->sessions()) {
        if (!isMine(session.owner))
            continue;
        list << QVariantMap { { u"folder"_s, session.folder },
            { u"date"_s, DateText::mediumDate(session.startedAt) + u" · "_s + DateText::shortTime(session.startedAt) },
            { u"duration"_s, session.durationSeconds } };
    }
    return list;
}

QString RecordingLibrary::signedOutQuestion() const
{
    const std::optional<Owner> account = m_account();
    if (m_unowned.isEmpty() || !account)
        return {};
    const auto count = m_unowned.size();
    return count == 1 ? u"Upload 1 recording made while signed out to %1?"_s.arg(account->email)
                      : u"Upload %1 recordings made while signed out to %2?"_s.arg(count).arg(account->email);
}

void RecordingLibrary::offerSignedOut(const QString& folder)
{
    if (m_account() && !m_unowned.contains(folder))
        setUnowned(m_unowned + QStringList { folder });
}

void RecordingLibrary::setUnowned(QStringList folders)
{
    if (folders == m_unowned)
        return;
    m_unowned = std::move(folders);
    emit signedOutQuestionChanged();
}

void RecordingLibrary::uploadSignedOut()
{
    const std::optional<Owner> account = m_account();
    if (!account)
        return;
    const QStringList folders = m_unowned;
    setUnowned({});
    for (const QString& folder : folders) {
        std::optional<SessionJournal> journal = SessionJournal::read(folder);
        if (!journal || journal->owner())
            continue;
        journal->setOwner(account);
        journal->setInterrupted(false);
        if (!save(*journal))
            continue;
        log(u"%1 goes to the signed-in account"_s.arg(QFileInfo(folder).fileName()));
        m_recovery->take(folder);
        if (journal->mic() || journal->stage() == SessionJournal::Stage::Failed)
            place(*journal);
    }
}

void RecordingLibrary::notNow()
{
    setUnowned({});
}

QCoro::Task<> RecordingLibrary::followUp(QString folder, std::optional<qint64> noteId, QDateTime since)
{
    QPointer self(this);
    const quint64 generation = m_generation;
    const auto gone = [&] { return !self || generation != m_generation || !card(folder); };
    // A note id of 0 is the service saying nothing: the note is found by its time instead.
    if (noteId && *noteId <= 0)
        noteId.reset();

    co_await QCoro::sleepFor(m_timings.transcribingAfter);
    if (gone())
        co_return;
    setStatus(folder, UploadStatus::transcribing());

    co_await QCoro::sleepFor(m_timings.generatingAfter);
    if (gone())
        co_return;
    setStatus(folder, UploadStatus::generatingNotes());

    for (int poll = 0; m_findNote; ++poll) {
        co_await QCoro::sleepFor(m_timings.pollInterval);
        if (gone())
            co_return;
        const std::optional<MeetingNote> note = co_await m_findNote(noteId, since);
        if (gone())
            co_return;
        if (note) {
            if (std::optional<SessionJournal> journal = SessionJournal::read(folder)) {
                if (!journal->noteId() || *journal->noteId() <= 0)
                    journal->setNotified(note->id);
                journal->setDone();
                if (save(*journal))
                    RecordingRetention::clearSegments(*journal);
            }
            cardAt(folder)->noteId = note->id;
            setStatus(folder, UploadStatus::done());
            emit noteReady(note->id, note->title);
            co_return;
        }
        if (poll >= m_timings.maxPolls - 1) {
            removeCard(folder);
            co_return;
        }
    }
}
