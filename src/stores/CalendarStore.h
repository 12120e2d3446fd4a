#pragma once

#include "APIMeeting.h"
#include "TokenProvider.h"
#include "UpcomingMeeting.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QVariantList>

// The user's upcoming calendar meetings, read from the service together with
// the state of the calendar connection.
class CalendarStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(QVariantList meetings READ meetingList NOTIFY meetingsChanged)
    Q_PROPERTY(bool calendarConnected READ calendarConnected NOTIFY calendarConnectedChanged)
    Q_PROPERTY(bool calendarNeedsReauth READ calendarNeedsReauth NOTIFY calendarNeedsReauthChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
public:
    // How many meetings one load asks for.
    static constexpr int meetingLimit = 20;

    explicit CalendarStore(TokenProvider tokens, QObject* parent = nullptr);

    // An empty `userId` stands for no signed-in user: nothing is sent.
    QCoro::Task<> load(QString userId);

    // The home screen's row for one meeting; `now` fixes today and tomorrow.
    [[nodiscard]] static UpcomingMeeting convert(
        const APIMeeting& meeting, const QDateTime& now = QDateTime::currentDateTimeUtc());

    [[nodiscard]] const QList<UpcomingMeeting>& meetings() const { return m_meetings; }
    [[nodiscard]] QVariantList meetingList() const;
    [[nodiscard]] bool calendarConnected() const { return m_calendarConnected; }
    [[nodiscard]] bool calendarNeedsReauth() const { return m_calendarNeedsReauth; }
    [[nodiscard]] bool isLoading() const { return m_isLoading; }

signals:
    void meetingsChanged();
    void calendarConnectedChanged();
    void calendarNeedsReauthChanged();
    void isLoadingChanged();

private:
    void setMeetings(const QList<UpcomingMeeting>& meetings);
    void setCalendarConnected(bool connected);
    void setCalendarNeedsReauth(bool needsReauth);
    void setLoading(bool on);

    TokenProvider m_tokens;
    QList<UpcomingMeeting> m_meetings;
    bool m_calendarConnected = false;
    bool m_calendarNeedsReauth = false;
    bool m_isLoading = false;
};
