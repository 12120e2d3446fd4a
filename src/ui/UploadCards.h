#pragma once

#include "TokenProvider.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

class MeetingStore;
class UploadQueue;

// Keeps the processing cards and the upload queue in step: the sessions an
// earlier run left on their way get their cards back (and go on by
// themselves unless they had failed), the upload progress reaches the cards,
// and a card's Retry, ✕ and done reach the queue and the session's journal.
class UploadCards : public QObject {
    Q_OBJECT
public:
    UploadCards(UploadQueue* queue, MeetingStore* store, QObject* parent = nullptr);

    // Finds the unfinished sessions under `recordingsFolder` off the main thread
    // and gives each a card; nothing without a token (they wait for the next start).
    QCoro::Task<> resume(QString recordingsFolder, TokenProvider tokens);
    // "Echoquill Recordings" in the user's documents folder.
    [[nodiscard]] static QString defaultRecordingsFolder();
    // A session that can now upload (one recovered at start, say) joins the queue with a new card.
    void upload(const QString& folder, const QString& token);

private:
    void discard(const QString& folder, bool keepFiles);

    QPointer<UploadQueue> m_queue;
    QPointer<MeetingStore> m_store;
};
