#pragma once

#include "SessionJournal.h"
#include "SessionLock.h"
#include "UploadPipeline.h"
#include "UploadStatus.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// The recordings on their way to the service, kept in their session journals:
// every step is written down before the next starts, so a session taken up
// again after a quit or a crash uploads only the tracks the blob store does
// not have yet and notifies the service once. While no request reaches the
// service at all, a session waits for the network instead of spending its tries.
// A session only ever goes to the account that recorded it: each step asks for
// that account's token and stops where it stands when there is none.
class UploadQueue : public QObject {
    Q_OBJECT
public:
    // The token of the signed-in account when its id is `ownerId`; nothing otherwise.
    using TokenSource = std::function<std::optional<QString>(const QString& ownerId)>;

    // Uses `pipeline`'s calls and timings; it must outlive the queue.
    UploadQueue(UploadPipeline* pipeline, TokenSource tokens, QObject* parent = nullptr);

    // Uploads what the folder's journal says is left (its tracks exported).
    // `journal` is the caller's copy, for when the one on disk could not be written (a full disk).
    void submit(const QString& folder, std::optional<SessionJournal> journal = std::nullopt);
    // Another round of tries for a failed session.
    void retry(const QString& folder);
    // The account signed out: every running session stops where its journal stands, and
    // nothing of it is sent again until it is submitted anew.
    void cancelAll();
    [[nodiscard]] bool isActive(const QString& folder) const;

    // The sessions under `recordingsFolder` that the service has not acknowledged yet and
    // nobody set aside (dismissed, or waiting as interrupted): those with tracks to send,
    // and failed ones whose tracks never came out. Oldest first; read off the main thread.
    static QCoro::Task<QList<SessionJournal>> findPending(QString recordingsFolder);

signals:
    // 0…1: the bytes of both tracks sent so far; never goes back within a session.
    void progressChanged(const QString& folder, double fraction);
    // Every stage a session reaches.
    void statusChanged(const QString& folder, const UploadStatus& status);
    // A session's run ended: processing, or failed.
    void finished(const QString& folder, const UploadStatus& status);

private:
    struct Session {
        bool active = false;
        double progress = 0;
        // The journal as this run knows it; the disk's may lag when it cannot be written.
        std::optional<SessionJournal> known;
        // The folder's lock, held from the first try until the session ends or the queue goes.
        std::shared_ptr<SessionLock> lock;
    };

    QCoro::Task<> process(QString folder);
    template <class T>
    QCoro::Task<T> withTries(
        QString folder, SessionJournal* journal, int attempts, std::function<QCoro::Task<T>()> operation);
    void report(const QString& folder, const UploadStatus& status);
    void end(const QString& folder, const UploadStatus& status);
    void reportProgress(const QString& folder, double fraction);
    [[nodiscard]] bool stillRunning(const QPointer<UploadQueue>& self, quint64 generation) const;

    QPointer<UploadPipeline> m_pipeline;
    TokenSource m_tokens;
    QHash<QString, Session> m_sessions;
    // Counts sign-outs: a step that resumes after one drops what it got.
    quint64 m_generation = 0;
};
