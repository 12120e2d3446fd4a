#pragma once

#include "AuthStore.h"
#include "CalendarStore.h"
#include "HomeMeetingsModel.h"
#include "RecallStore.h"
#include "UpcomingMeeting.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QtQml/qqmlregistration.h>

// The home screen's own state and rules: the calendar's meetings in their
// fixed group order, the summary line, the meeting-bot switch positions
// (seeded once per meeting and then the user's), and the calendar loads while
// the screen is shown: one when it appears, then one every `refreshInterval`
// milliseconds until it goes away.
class HomeViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(CalendarStore* calendarStore READ calendarStore WRITE setCalendarStore NOTIFY calendarStoreChanged)
    Q_PROPERTY(RecallStore* recallStore READ recallStore WRITE setRecallStore NOTIFY recallStoreChanged)
    Q_PROPERTY(AuthStore* authStore READ authStore WRITE setAuthStore NOTIFY authStoreChanged)
    Q_PROPERTY(int refreshInterval READ refreshInterval WRITE setRefreshInterval NOTIFY refreshIntervalChanged)
    // The meetings in group order, one stable row each.
    Q_PROPERTY(HomeMeetingsModel* meetings READ meetings CONSTANT)
    Q_PROPERTY(QString summaryLine READ summaryLine NOTIFY summaryLineChanged)

public:
    static inline const QStringList groupOrder
        = { QStringLiteral("Now"), QStringLiteral("Today"), QStringLiteral("Tomorrow"), QStringLiteral("This week") };

    explicit HomeViewModel(QObject* parent = nullptr);
    // Going away with the screen ends the loads like disappear().
    ~HomeViewModel() override;

    [[nodiscard]] CalendarStore* calendarStore() const { return m_calendar; }
    void setCalendarStore(CalendarStore* store);
    [[nodiscard]] RecallStore* recallStore() const { return m_recall; }
    void setRecallStore(RecallStore* store);
    [[nodiscard]] AuthStore* authStore() const { return m_auth; }
    void setAuthStore(AuthStore* store);
    [[nodiscard]] int refreshInterval() const { return m_refreshInterval; }
    void setRefreshInterval(int ms);

    // The meetings of one group, in the store's order.
    [[nodiscard]] static QList<UpcomingMeeting> meetingsIn(
        const QList<UpcomingMeeting>& meetings, const QString& group);

    [[nodiscard]] HomeMeetingsModel* meetings() { return &m_meetings; }
    [[nodiscard]] QString summaryLine() const;
    [[nodiscard]] bool botOn(const QString& meetingId) const { return m_meetings.botOn(meetingId); }

    // The screen appeared or went away: starts and stops the calendar loads.
    Q_INVOKABLE void appear();
    Q_INVOKABLE void disappear();
    // The user flipped a meeting's switch.
    Q_INVOKABLE void setBotOn(const QString& meetingId, bool on);
    // "Connect Calendar" and "Reconnect": the service's connect page in the browser.
    Q_INVOKABLE void openConnectPage() const;
    // "Open meeting": the meeting's address in the browser, when it is an
    // https or http address; any other is logged and left alone.
    Q_INVOKABLE bool openMeeting(const QString& meetingUrl) const;

signals:
    void calendarStoreChanged();
    void recallStoreChanged();
    void authStoreChanged();
    void refreshIntervalChanged();
    void summaryLineChanged();

private:
    QCoro::Task<> firstLoad(quint64 generation);
    QCoro::Task<> refresh(quint64 generation);
    QCoro::Task<> loadCalendar();
    // The store's meetings into the rows, in group order.
    void updateRows();
    [[nodiscard]] bool isCurrent(quint64 generation) const { return m_shown && generation == m_generation; }

    QPointer<CalendarStore> m_calendar;
    QPointer<RecallStore> m_recall;
    QPointer<AuthStore> m_auth;
    QMetaObject::Connection m_meetingsConnection;
    int m_refreshInterval = 60000;
    HomeMeetingsModel m_meetings;
    bool m_shown = false;
    quint64 m_generation = 0;
    // The wait between two loads; stopping it early still loads once more.
    QTimer m_wait;
};
