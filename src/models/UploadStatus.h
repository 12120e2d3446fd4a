#pragma once

#include <QString>

#include <optional>

// The stage of a stopped recording on its way to becoming a note.
class UploadStatus {
public:
    enum Stage {
        Idle,
        Uploading,
        Notifying,
        Processing,
        Transcribing,
        GeneratingNotes,
        Done,
        Failed,
        WaitingForNetwork
    };

    UploadStatus() = default;
    static UploadStatus idle() { return UploadStatus(Idle); }
    static UploadStatus uploading() { return UploadStatus(Uploading); }
    // No request reaches the service; the upload tries again on its own.
    static UploadStatus waitingForNetwork() { return UploadStatus(WaitingForNetwork); }
    static UploadStatus notifying() { return UploadStatus(Notifying); }
    static UploadStatus processing(std::optional<qint64> noteId)
    {
        UploadStatus s(Processing);
        s.m_noteId = noteId;
        return s;
    }
    static UploadStatus transcribing() { return UploadStatus(Transcribing); }
    static UploadStatus generatingNotes() { return UploadStatus(GeneratingNotes); }
    static UploadStatus done() { return UploadStatus(Done); }
    static UploadStatus failed(const QString& message)
    {
        UploadStatus s(Failed);
        s.m_message = message;
        return s;
    }

    [[nodiscard]] Stage stage() const { return m_stage; }
    [[nodiscard]] std::optional<qint64> noteId() const { return m_noteId; }
    [[nodiscard]] QString message() const { return m_message; }
    // The text the processing card shows.
    [[nodiscard]] QString label() const;

    bool operator==(const UploadStatus&) const = default;

private:
    explicit UploadStatus(Stage stage)
        : m_stage(stage)
    {
    }

    Stage m_stage = Idle;
    std::optional<qint64> m_noteId;
    QString m_message;
};
