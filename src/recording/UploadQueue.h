#pragma once

#include "SessionJournal.h"
#include "UploadPipeline.h"
#include "UploadStatus.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

// The recordings on their way to the service, kept in their session journals:
// every step is written down before the next starts, so a session taken up
// again after a quit or a crash uploads only the tracks the blob store does
// not have yet and notifies the service once. While no request reaches the
// service at all, a session waits for the network instead of spending its tries.
class UploadQueue : public QObject {
    Q_OBJECT
public:
    using StatusCallback = std::function<void(const UploadStatus&)>;

    // Uses `pipeline`'s calls and timings; it must outlive the queue.
    explicit UploadQueue(UploadPipeline* pipeline, QObject* parent = nullptr);

    // Uploads what the folder's journal says is left (its tracks exported) and
    // reports each stage to `onStatus`; the same callback hears a later retry().
    // `journal` is the caller's copy, for when the one on disk could not be written (a full disk).
    void submit(const QString& folder, const QString& token, StatusCallback onStatus,
        std::optional<SessionJournal> journal = std::nullopt);
    // Keeps a failed session's token and callback for a later retry() without trying now.
    void hold(const QString& folder, const QString& token, StatusCallback onStatus);
    // Another round of tries for a failed session, with the token and callback it came with.
    void retry(const QString& folder);
    // The service made the note; the journal says done.
    static void markDone(const QString& folder);
    [[nodiscard]] bool isActive(const QString& folder) const;

    // The sessions under `recordingsFolder` that have tracks the service has not
    // acknowledged (neither dismissed nor waiting as interrupted), oldest first; read off the main thread.
    static QCoro::Task<QList<SessionJournal>> findPending(QString recordingsFolder);

signals:
    // 0…1: the bytes of both tracks sent so far; never goes back within a session.
    void progressChanged(const QString& folder, double fraction);
    // A session's run ended: processing, or failed.
    void finished(const QString& folder, const UploadStatus& status);

private:
    struct Session {
        QString token;
        StatusCallback onStatus;
        bool active = false;
        double progress = 0;
        // The journal as this run knows it; the disk's may lag when it cannot be written.
        std::optional<SessionJournal> known;
    };

    QCoro::Task<> process(QString folder);
    template <class T>
    QCoro::Task<T> withTries(
        QString folder, SessionJournal* journal, int attempts, std::function<QCoro::Task<T>()> operation);
    void report(const QString& folder, const UploadStatus& status);
    void reportProgress(const QString& folder, double fraction);

    QPointer<UploadPipeline> m_pipeline;
    QHash<QString, Session> m_sessions;
};
