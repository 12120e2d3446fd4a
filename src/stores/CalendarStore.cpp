#include "CalendarStore.h"

#include "APIClient.h"
#include "DateText.h"
#include "Endpoints.h"
#include "IsoDate.h"

#include <QPointer>
#include <QUuid>

using namespace Qt::StringLiterals;

namespace {

struct StatusResp {
    bool connected = false;
    std::optional<bool> needsReauth;
    static StatusResp fromJson(const Json::ObjectReader& r)
    {
        return { r.required<bool>("connected"_L1), r.optional<bool>("needsReauth"_L1) };
    }
};

struct Resp {
    std::optional<bool> success;
    std::optional<QList<APIMeeting>> meetings;
    static Resp fromJson(const Json::ObjectReader& r)
    {
        return { r.optional<bool>("success"_L1), r.optional<QList<APIMeeting>>("meetings"_L1) };
    }
};

QString groupOf(const APIMeeting& m, const std::optional<QDateTime>& start, const QDateTime& now)
{
    if (m.isLive.value_or(false))
        return u"Now"_s;
    if (!start)
        return u"Today"_s;
    const QDate day = DateText::localDate(*start);
    const QDate today = DateText::localDate(now);
    if (day == today)
        return u"Today"_s;
    if (day == today.addDays(1))
        return u"Tomorrow"_s;
    return u"This week"_s;
}

QString durationText(std::optional<int> minutes)
{
    if (!minutes || *minutes < 1)
        return {};
    const int m = *minutes;
    if (m < 60)
        return u"%1m"_s.arg(m);
    if (m % 60 == 0)
        return u"%1h"_s.arg(m / 60);
    return u"%1h %2m"_s.arg(m / 60).arg(m % 60);
}

QString locationOf(const APIMeeting& m)
{
    if (m.platformLabel)
        return *m.platformLabel;
    if (m.platform)
        return *m.platform;
    if (m.meetingUrl)
        return *m.meetingUrl;
    return u"Video call"_s;
}

QStringList peopleOf(const APIMeeting& m)
{
    QStringList people;
    for (const APIAttendee& a : m.attendees.value_or(QList<APIAttendee>())) {
        if (a.name && !a.name->isEmpty())
            people << *a.name;
        else if (a.email)
            people << *a.email;
    }
    return people;
}

CalendarSource sourceOf(const APIMeeting& m)
{
    const QString platform = m.platform.value_or(QString()).toLower();
    if (platform == "microsoft teams"_L1 || platform == "teams"_L1)
        return CalendarSource::outlook;
    return CalendarSource::gWork;
}

}

CalendarStore::CalendarStore(TokenProvider tokens, QObject* parent)
    : QObject(parent)
    , m_tokens(std::move(tokens))
{
}

QCoro::Task<> CalendarStore::load(QString userId)
{
    const std::optional<QString> token = m_tokens();
    if (!token || userId.isEmpty())
        co_return;
    QPointer self(this);
    setLoading(true);

    try {
        const StatusResp status
            = co_await APIClient::shared().get<StatusResp>(Endpoints::url(Endpoints::Path::calendarStatus), token);
        if (!self)
            co_return;
        setCalendarConnected(status.connected);
        setCalendarNeedsReauth(status.needsReauth.value_or(false));
    } catch (const EQAPIError&) {
        // An outage keeps the connection state the screen last showed.
        if (!self)
            co_return;
    }

    if (!m_calendarConnected) {
        setMeetings({});
        setLoading(false);
        co_return;
    }

    try {
        const Resp reply
            = co_await APIClient::shared().get<Resp>(Endpoints::upcomingMeetingsURL(userId, meetingLimit), token);
        if (!self)
            co_return;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QList<UpcomingMeeting> converted;
        for (const APIMeeting& m : reply.meetings.value_or(QList<APIMeeting>()))
            converted << convert(m, now);
        setMeetings(converted);
    } catch (const EQAPIError& e) {
        if (!self)
            co_return;
        if (e.is(EQAPIError::Unauthorized))
            setCalendarNeedsReauth(true);
    }
    setLoading(false);
}

UpcomingMeeting CalendarStore::convert(const APIMeeting& m, const QDateTime& now)
{
    std::optional<QDateTime> start;
    if (m.startTime)
        start = IsoDate::parse(*m.startTime);

    UpcomingMeeting u;
    u.id = m.calendarEventId ? *m.calendarEventId : QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    u.group = groupOf(m, start, now);
    if (start)
        u.time = DateText::format(*start, u.group == "This week"_L1 ? u"EEE · h:mm a"_s : u"h:mm a"_s);
    u.duration = durationText(m.durationMinutes);
    u.title = m.title;
    u.location = locationOf(m);
    u.meetingUrl = m.meetingUrl;
    u.people = peopleOf(m);
    u.source = sourceOf(m);
    u.bot = m.botEnabled.value_or(m.botScheduled.value_or(false));
    u.live = m.isLive.value_or(false);
    u.declined = m.declined.value_or(false);
    u.startTime = m.startTime;
    u.endTime = m.endTime;
    return u;
}

QVariantList CalendarStore::meetingList() const
{
    QVariantList list;
    list.reserve(m_meetings.size());
    for (const UpcomingMeeting& m : m_meetings)
        list << QVariant::fromValue(m);
    return list;
}

void CalendarStore::setMeetings(const QList<UpcomingMeeting>& meetings)
{
    if (meetings == m_meetings)
        return;
    m_meetings = meetings;
    emit meetingsChanged();
}

void CalendarStore::setCalendarConnected(bool connected)
{
    if (connected == m_calendarConnected)
        return;
    m_calendarConnected = connected;
    emit calendarConnectedChanged();
}

void CalendarStore::setCalendarNeedsReauth(bool needsReauth)
{
    if (needsReauth == m_calendarNeedsReauth)
        return;
    m_calendarNeedsReauth = needsReauth;
    emit calendarNeedsReauthChanged();
}

void CalendarStore::setLoading(bool on)
{
    if (on == m_isLoading)
        return;
    m_isLoading = on;
    emit isLoadingChanged();
}
