#pragma once

#include "APIClient.h"
#include "DateText.h"
#include "MeetingNote.h"
#include "MeetingNoteDetail.h"
#include "PendingUpload.h"
#include "TokenProvider.h"

#include <QCoroTask>
#include <QObject>
#include <QUuid>

#include <chrono>
#include <optional>

// How long the follow-up of a processing note waits between its stages.
struct MeetingStoreTimings {
    std::chrono::milliseconds transcribingAfter { 2000 };
    std::chrono::milliseconds generatingAfter { 20000 };
    std::chrono::milliseconds pollInterval { 10000 };
    int maxPolls = 60;
};

// Observable list of the user's meeting notes, one note's detail, and the
// recordings that are still on their way to becoming notes.
class MeetingStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(bool isLoadingDetail READ isLoadingDetail NOTIFY isLoadingDetailChanged)
    Q_PROPERTY(QString error READ errorText NOTIFY errorChanged)
    Q_PROPERTY(int meetingCount READ meetingCount NOTIFY meetingsChanged)
    Q_PROPERTY(bool hasSelectedMeeting READ hasSelectedMeeting NOTIFY selectedMeetingChanged)
public:
    using Timings = MeetingStoreTimings;

    explicit MeetingStore(TokenProvider tokens, Timings timings = {}, QObject* parent = nullptr);

    QCoro::Task<> loadMeetings();
    QCoro::Task<> loadDetail(qint64 id);
    QCoro::Task<> toggleActionItem(qint64 noteId, QString itemId, bool done);

    // `folder` is the session folder the card stands for; `startedAt` defaults to now.
    QUuid addPendingUpload(
        const QString& fileName, double duration, const QString& folder = {}, const QDateTime& startedAt = {});
    void updatePendingUpload(const QUuid& id, const UploadStatus& status);
    void setPendingUploadStatus(const QUuid& id, const UploadStatus& status);
    void removePendingUpload(const QUuid& id);
    // The card of the session in `folder`; its upload progress.
    [[nodiscard]] std::optional<PendingUpload> pendingUploadFor(const QString& folder) const;
    void setPendingUploadProgress(const QString& folder, double fraction);
    // "Retry" on a failed card: it shows "Uploading…" again and the queue is asked to try.
    void retryPendingUpload(const QUuid& id);
    // "✕" on a failed card, after the question: the card goes, the files stay or go to the trash.
    void discardPendingUpload(const QUuid& id, bool keepFiles);

    [[nodiscard]] const QList<MeetingNote>& meetings() const { return m_meetings; }
    [[nodiscard]] QList<DateText::DaySection<MeetingNote>> groupedMeetings() const;
    [[nodiscard]] const std::optional<MeetingNote>& selectedMeeting() const { return m_selectedMeeting; }
    void setSelectedMeeting(const std::optional<MeetingNote>& note);
    // The detail's back control.
    Q_INVOKABLE void clearSelectedMeeting() { setSelectedMeeting(std::nullopt); }
    [[nodiscard]] int meetingCount() const { return int(m_meetings.size()); }
    [[nodiscard]] bool hasSelectedMeeting() const { return m_selectedMeeting.has_value(); }
    [[nodiscard]] const std::optional<MeetingNoteDetail>& meetingDetail() const { return m_meetingDetail; }
    [[nodiscard]] bool isLoading() const { return m_isLoading; }
    [[nodiscard]] bool isLoadingDetail() const { return m_isLoadingDetail; }
    [[nodiscard]] const std::optional<QString>& error() const { return m_error; }
    [[nodiscard]] QString errorText() const { return m_error.value_or(QString()); }
    [[nodiscard]] const QList<PendingUpload>& pendingUploads() const { return m_pendingUploads; }
    [[nodiscard]] std::optional<PendingUpload> pendingUpload(const QUuid& id) const;
    [[nodiscard]] const std::optional<qint64>& navigateToMeetingId() const { return m_navigateToMeetingId; }
    void setNavigateToMeetingId(const std::optional<qint64>& id);

signals:
    void meetingsChanged();
    void selectedMeetingChanged();
    void meetingDetailChanged();
    void isLoadingChanged();
    void isLoadingDetailChanged();
    void errorChanged();
    void pendingUploadsChanged();
    void retryRequested(const QString& folder);
    void discardRequested(const QString& folder, bool keepFiles);
    // The service made the session's note.
    void uploadDone(const QString& folder);
    // A recording's note has come back from the service.
    void noteReady(qint64 noteId, const QString& title);
    void navigateToMeetingIdChanged();

private:
    QCoro::Task<> followUp(QUuid id, QDateTime startedAt, std::optional<qint64> noteId);
    [[nodiscard]] QString sourceOf(qint64 noteId) const;
    bool setItemDone(qint64 noteId, const QString& itemKey, bool done);
    void setLoading(bool on);
    void setLoadingDetail(bool on);
    void setError(const std::optional<QString>& error);

    TokenProvider m_tokens;
    Timings m_timings;
    QList<MeetingNote> m_meetings;
    std::optional<MeetingNote> m_selectedMeeting;
    std::optional<MeetingNoteDetail> m_meetingDetail;
    bool m_isLoading = false;
    bool m_isLoadingDetail = false;
    // Counts detail requests, so only the newest one's reply is shown.
    quint64 m_detailRequest = 0;
    std::optional<QString> m_error;
    QList<PendingUpload> m_pendingUploads;
    std::optional<qint64> m_navigateToMeetingId;
};
