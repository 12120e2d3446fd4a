#pragma once

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QVariantList>

#include <atomic>
#include <optional>

// A session whose process died while it recorded, repaired and exported, that
// waits for the user to upload or discard it.
struct InterruptedSession {
    QString folder;
    QDateTime startedAt;
    double durationSeconds = 0;
    bool operator==(const InterruptedSession&) const = default;
};

// Finds the sessions of the recordings folder that a killed or crashed client
// left behind, makes everything that reached the disk playable, finalizes and
// exports them, and offers each as an interrupted recording. The work runs on
// a low-priority worker thread so the window's first frame never waits on it.
class RecordingRecovery : public QObject {
    Q_OBJECT
    Q_PROPERTY(QVariantList sessions READ sessionList NOTIFY sessionsChanged)
public:
    // `recordingsFolder` empty: "Echoquill Recordings" in the user's documents folder.
    explicit RecordingRecovery(QString recordingsFolder = {}, QObject* parent = nullptr);
    ~RecordingRecovery() override;

    [[nodiscard]] static QString defaultRecordingsFolder();
    [[nodiscard]] QString recordingsFolder() const { return m_recordingsFolder; }

    // Scans the folder once: first the retention sweep (acknowledged sessions kept `keepDays`,
    // nothing: forever), then the interrupted sessions found are added to `sessions`.
    QCoro::Task<> scan(std::optional<int> keepDays = std::nullopt);
    // The same for one session folder, on the calling thread: the session when it
    // was interrupted (now repaired and exported), nothing otherwise.
    static std::optional<InterruptedSession> recover(const QString& folder);

    [[nodiscard]] const QList<InterruptedSession>& sessions() const { return m_sessions; }
    // For the interface: one map per session with "folder", "date" (date and time) and "duration" (seconds).
    [[nodiscard]] QVariantList sessionList() const;

    // "Upload": the session joins the upload queue and leaves the list.
    Q_INVOKABLE void upload(const QString& folder);
    // "Discard" (after the user confirmed): the folder goes to the desktop's trash. False when it could not.
    Q_INVOKABLE bool discard(const QString& folder);

signals:
    void sessionsChanged();
    // The session's journal now lets the upload queue take it.
    void uploadRequested(const QString& folder);

private:
    bool take(const QString& folder);

    QString m_recordingsFolder;
    QDateTime m_createdAt;
    QList<InterruptedSession> m_sessions;
    std::atomic<bool> m_cancel = false;
    QThreadPool m_worker;
};
