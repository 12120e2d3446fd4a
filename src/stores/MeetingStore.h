#pragma once

#include "APIClient.h"
#include "DateText.h"
#include "MeetingNote.h"
#include "MeetingNoteDetail.h"
#include "TokenProvider.h"

#include <QCoroTask>
#include <QObject>

#include <optional>

// Observable list of the user's meeting notes and one note's detail.
class MeetingStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(bool isLoadingDetail READ isLoadingDetail NOTIFY isLoadingDetailChanged)
    Q_PROPERTY(QString error READ errorText NOTIFY errorChanged)
    Q_PROPERTY(int meetingCount READ meetingCount NOTIFY meetingsChanged)
    Q_PROPERTY(bool hasSelectedMeeting READ hasSelectedMeeting NOTIFY selectedMeetingChanged)
public:
    explicit MeetingStore(TokenProvider tokens, QObject* parent = nullptr);

    QCoro::Task<> loadMeetings();
    QCoro::Task<> loadDetail(qint64 id);
    QCoro::Task<> toggleActionItem(qint64 noteId, QString itemId, bool done);

    // The list once more, then note `noteId` in it (without one, the first made since `since`).
    QCoro::Task<std::optional<MeetingNote>> findNote(std::optional<qint64> noteId, QDateTime since);

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
    [[nodiscard]] const std::optional<qint64>& navigateToMeetingId() const { return m_navigateToMeetingId; }
    void setNavigateToMeetingId(const std::optional<qint64>& id);

signals:
    void meetingsChanged();
    void selectedMeetingChanged();
    void meetingDetailChanged();
    void isLoadingChanged();
    void isLoadingDetailChanged();
    void errorChanged();
    void navigateToMeetingIdChanged();

private:
    [[nodiscard]] QString sourceOf(qint64 noteId) const;
    bool setItemDone(qint64 noteId, const QString& itemKey, bool done);
    void setLoading(bool on);
    void setLoadingDetail(bool on);
    void setError(const std::optional<QString>& error);

    TokenProvider m_tokens;
    QList<MeetingNote> m_meetings;
    std::optional<MeetingNote> m_selectedMeeting;
    std::optional<MeetingNoteDetail> m_meetingDetail;
    bool m_isLoading = false;
    bool m_isLoadingDetail = false;
    // Counts detail requests, so only the newest one's reply is shown.
    quint64 m_detailRequest = 0;
    std::optional<QString> m_error;
    std::optional<qint64> m_navigateToMeetingId;
};
