#include "UploadCards.h"

#include "Log.h"
#include "MeetingStore.h"
#include "SessionJournal.h"
#include "UploadQueue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

UploadCards::UploadCards(UploadQueue* queue, MeetingStore* store, QObject* parent)
    : QObject(parent)
    , m_queue(queue)
    , m_store(store)
{
    connect(queue, &UploadQueue::progressChanged, store, &MeetingStore::setPendingUploadProgress);
    connect(store, &MeetingStore::retryRequested, queue, &UploadQueue::retry);
    connect(store, &MeetingStore::uploadDone, this, [](const QString& folder) { UploadQueue::markDone(folder); });
    connect(store, &MeetingStore::discardRequested, this, &UploadCards::discard);
}

QString UploadCards::defaultRecordingsFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
        .filePath(u"Echoquill Recordings"_s);
}

QCoro::Task<> UploadCards::resume(QString recordingsFolder, TokenProvider tokens)
{
    QPointer self(this);
    const QList<SessionJournal> pending = co_await UploadQueue::findPending(recordingsFolder);
    if (!self || !m_queue || !m_store || pending.isEmpty())
        co_return;
    const std::optional<QString> token = tokens();
    if (!token)
        co_return;
    for (const SessionJournal& journal : pending) {
        if (m_store->pendingUploadFor(journal.folder()) || m_queue->isActive(journal.folder()))
            continue;
        Log::line(u"[Upload] resuming "_s + QFileInfo(journal.folder()).fileName() + u" ("_s
            + SessionJournal::stageName(journal.stage()) + u')');
        const QUuid id = m_store->addPendingUpload(
            QFileInfo(journal.folder()).fileName(), journal.durationSeconds(), journal.folder(), journal.startedAt());
        QPointer<MeetingStore> store = m_store;
        auto onStatus = [store, id](const UploadStatus& status) {
            if (store)
                store->updatePendingUpload(id, status);
        };
        if (journal.stage() == SessionJournal::Stage::Failed) {
            const std::optional<SessionJournal::Failure> failure = journal.failure();
            m_store->updatePendingUpload(id, UploadStatus::failed(failure ? failure->reason : QString()));
            m_queue->hold(journal.folder(), *token, onStatus);
        } else {
            m_queue->submit(journal.folder(), *token, onStatus);
        }
    }
}

void UploadCards::upload(const QString& folder, const QString& token)
{
    if (!m_queue || !m_store || m_queue->isActive(folder))
        return;
    const std::optional<SessionJournal> journal = SessionJournal::read(folder);
    const QUuid id = m_store->addPendingUpload(QFileInfo(folder).fileName(), journal ? journal->durationSeconds() : 0,
        folder, journal ? journal->startedAt() : QDateTime());
    QPointer<MeetingStore> store = m_store;
    m_queue->submit(folder, token, [store, id](const UploadStatus& status) {
        if (store)
            store->updatePendingUpload(id, status);
    });
}

void UploadCards::discard(const QString& folder, bool keepFiles)
{
    if (keepFiles) {
        // The files stay, the session is not offered again.
        if (std::optional<SessionJournal> journal = SessionJournal::read(folder)) {
            journal->setDismissed(true);
            try {
                journal->save();
            } catch (const std::exception& e) {
                Log::line(u"[Upload] journal not saved: "_s + QString::fromUtf8(e.what()));
            }
        }
        return;
    }
    if (!QFile::moveToTrash(folder))
        Log::line(u"[Upload] could not move to the trash: "_s + folder);
}
