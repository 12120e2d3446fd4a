#pragma once

#include "SessionJournal.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <optional>

// A session whose process died while it recorded, repaired and exported, that
// waits for the user to upload or discard it.
struct InterruptedSession {
    QString folder;
    QDateTime startedAt;
    double durationSeconds = 0;
    std::optional<SessionJournal::Owner> owner;
    bool operator==(const InterruptedSession&) const = default;
};

// Finds the sessions of the recordings folder that a killed or crashed client
// left behind, makes everything that reached the disk playable, finalizes and
// exports them, and offers each as an interrupted recording. The work runs on
// a low-priority worker thread so the window's first frame never waits on it.
class RecordingRecovery : public QObject {
    Q_OBJECT
public:
    explicit RecordingRecovery(QString recordingsFolder, QObject* parent = nullptr);
    ~RecordingRecovery() override;

    [[nodiscard]] QString recordingsFolder() const { return m_recordingsFolder; }

    // Scans the folder once: first the retention sweep (acknowledged sessions kept `keepDays`,
    // nothing: forever), then the interrupted sessions found are added to `sessions`.
    QCoro::Task<> scan(std::optional<int> keepDays = std::nullopt);
    // The same for one session folder, on the calling thread: the session when it
    // was interrupted (now repaired and exported), nothing otherwise.
    static std::optional<InterruptedSession> recover(const QString& folder);
    // Exports a stopped session's upload tracks from its segments once more (the first export
    // failed) and records them in its journal; false when no microphone track came out. Any thread.
    static bool exportAgain(const QString& folder);

    [[nodiscard]] const QList<InterruptedSession>& sessions() const { return m_sessions; }
    // The session leaves the list (the user uploads or discards it); false when it was not there.
    bool take(const QString& folder);

signals:
    void sessionsChanged();

private:
    QString m_recordingsFolder;
    QDateTime m_createdAt;
    QList<InterruptedSession> m_sessions;
    std::atomic<bool> m_cancel = false;
    QThreadPool m_worker;
};
