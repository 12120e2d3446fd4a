#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <optional>

// How far one session folder's recording got on its way to a note, kept as
// "journal.json" beside "metadata.json" and replaced atomically at every step:
// recording → finalized → exported → uploading (per track: path name, then blob
// address) → notified (note id) → done, or failed. Whatever stops the client,
// the journal says what is left to do, so nothing is uploaded or notified twice,
// and whose the recording is, so it only ever reaches the account that made it.
class SessionJournal {
public:
    enum class Stage { Recording, Finalized, Exported, Uploading, Notified, Done, Failed };
    enum class Kind { Mic, System };

    // The signed-in account when the recording started.
    struct Owner {
        QString id;
        QString email;
        bool operator==(const Owner&) const = default;
    };

    // One upload track: its file in the session folder, the segments it was made of, and how far its upload got.
    struct Track {
        QString file;
        // File names in the session folder; empty in journals written before they were recorded.
        QStringList segments;
        // Set when the upload starts (the blob store's path name), then the blob's address once stored.
        QString pathName;
        QString blobUrl;

        [[nodiscard]] bool isUploaded() const { return !blobUrl.isEmpty(); }
        bool operator==(const Track&) const = default;
        // A track not sent yet, from the paths of its file and of the segments it was made of.
        static Track of(const QString& filePath, const QStringList& segmentPaths);
    };

    // Why the last try failed, how many tries it took, and when the next one is due (none: only on request).
    struct Failure {
        QString reason;
        int attempts = 0;
        std::optional<QDateTime> nextTry;
        bool operator==(const Failure&) const = default;
    };

    static inline const QString fileName = QStringLiteral("journal.json");
    // Why a stopped recording has no upload tracks: the card's and the journal's reason.
    static inline const QString noAudioFile = QStringLiteral("No audio file produced");

    // A new journal of a session that starts recording now (not saved yet).
    explicit SessionJournal(QString folder, QDateTime startedAt = QDateTime::currentDateTimeUtc());

    // The folder's journal; nothing when it has none, it cannot be read, or it names a file outside the folder.
    static std::optional<SessionJournal> read(const QString& folder);
    // Writes a temporary file, flushes it to the disk and renames it over the journal. Throws FileError.
    void save() const;

    [[nodiscard]] QString folder() const { return m_folder; }
    [[nodiscard]] QString path() const;
    [[nodiscard]] Stage stage() const { return m_stage; }
    [[nodiscard]] QDateTime startedAt() const { return m_startedAt; }
    // Nothing: recorded while nobody was signed in.
    [[nodiscard]] const std::optional<Owner>& owner() const { return m_owner; }
    // When the service's note was first seen; retention counts from here.
    [[nodiscard]] std::optional<QDateTime> noteArrivedAt() const { return m_noteArrivedAt; }
    [[nodiscard]] double durationSeconds() const { return m_durationSeconds; }
    [[nodiscard]] const std::optional<Track>& mic() const { return m_mic; }
    [[nodiscard]] const std::optional<Track>& system() const { return m_system; }
    [[nodiscard]] const std::optional<Track>& track(Kind kind) const { return kind == Kind::Mic ? m_mic : m_system; }
    [[nodiscard]] std::optional<qint64> noteId() const { return m_noteId; }
    [[nodiscard]] const std::optional<Failure>& failure() const { return m_failure; }
    // The session was found unfinished after its process died and was repaired.
    [[nodiscard]] bool isInterrupted() const { return m_interrupted; }
    // The user closed its card and chose to keep the files; it is not offered again.
    [[nodiscard]] bool isDismissed() const { return m_dismissed; }
    // The absolute path of a track's file.
    [[nodiscard]] QString filePath(const Track& track) const;

    // Each step; the caller saves.
    void setOwner(const std::optional<Owner>& owner) { m_owner = owner; }
    void setFinalized(double durationSeconds);
    void setExported(const Track& mic, const std::optional<Track>& system);
    void setUploading(Kind kind, const QString& pathName);
    void setUploaded(Kind kind, const QString& blobUrl);
    void setNotified(qint64 noteId);
    // The note is there: `at` is when it was first seen.
    void setDone(const QDateTime& at = QDateTime::currentDateTimeUtc());
    void setFailed(const Failure& failure);
    // A try failed but another is due on its own (no network): the stage stays.
    void setWaiting(const Failure& failure);
    void setInterrupted(bool on) { m_interrupted = on; }
    void setDismissed(bool on) { m_dismissed = on; }
    // Back to the stage the tracks and note id show, for another try.
    void clearFailure();

    [[nodiscard]] static QString stageName(Stage stage);
    [[nodiscard]] QJsonObject toJson() const;
    bool operator==(const SessionJournal&) const = default;

private:
    [[nodiscard]] Stage progressStage() const;

    QString m_folder;
    Stage m_stage = Stage::Recording;
    QDateTime m_startedAt;
    std::optional<Owner> m_owner;
    std::optional<QDateTime> m_noteArrivedAt;
    double m_durationSeconds = 0;
    std::optional<Track> m_mic;
    std::optional<Track> m_system;
    std::optional<qint64> m_noteId;
    std::optional<Failure> m_failure;
    bool m_interrupted = false;
    bool m_dismissed = false;
};
