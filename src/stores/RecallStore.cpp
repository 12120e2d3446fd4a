#include "RecallStore.h"

#include "APIClient.h"
#include "Endpoints.h"
#include "Log.h"

#include <QPointer>

using namespace Qt::StringLiterals;

namespace {

namespace settingsRequest {

struct Resp {
    std::optional<bool> success;
    std::optional<bool> autoJoinEnabled;
    static Resp fromJson(const Json::ObjectReader& r)
    {
        return { r.optional<bool>("success"_L1), r.optional<bool>("autoJoinEnabled"_L1) };
    }
};

}

namespace preferenceRequest {

struct Body {
    QString recallCalendarEventId;
    bool botEnabled = false;
    std::optional<QString> meetingUrl;
    std::optional<QString> startTime;
    std::optional<QString> endTime;
    QString title;

    QJsonObject toJson() const
    {
        return Json::ObjectWriter()
            .set("recall_calendar_event_id"_L1, recallCalendarEventId)
            .set("bot_enabled"_L1, botEnabled)
            .set("meeting_url"_L1, meetingUrl)
            .set("start_time"_L1, startTime)
            .set("end_time"_L1, endTime)
            .set("title"_L1, title)
            .object();
    }
};

struct Resp {
    std::optional<bool> success;
    std::optional<QString> signal;
    static Resp fromJson(const Json::ObjectReader& r)
    {
        return { r.optional<bool>("success"_L1), r.optional<QString>("signal"_L1) };
    }
};

}

}

RecallStore::RecallStore(TokenProvider tokens, QObject* parent)
    : QObject(parent)
    , m_tokens(std::move(tokens))
{
}

QCoro::Task<> RecallStore::loadSettings()
{
    QPointer self(this);
    try {
        const settingsRequest::Resp reply = co_await APIClient::shared().get<settingsRequest::Resp>(
            Endpoints::url(Endpoints::Path::recallSettings), m_tokens());
        if (!self)
            co_return;
        setAutoJoinEnabled(reply.autoJoinEnabled.value_or(true));
        setLoaded(true);
    } catch (const EQAPIError& e) {
        Log::line(u"[RecallStore] loadSettings failed: "_s + e.description());
    }
}

QCoro::Task<> RecallStore::toggleMeetingBot(UpcomingMeeting meeting, bool enabled)
{
    const preferenceRequest::Body body { meeting.id, enabled, meeting.meetingUrl, meeting.startTime, meeting.endTime,
        meeting.title };
    try {
        const preferenceRequest::Resp reply = co_await APIClient::shared().post<preferenceRequest::Resp>(
            Endpoints::url(Endpoints::Path::meetingBotPreference), body, m_tokens());
        Log::line(u"[RecallStore] meetingBot signal: "_s + reply.signal.value_or(u"nil"_s) + u" for "_s + meeting.id);
    } catch (const EQAPIError& e) {
        Log::line(u"[RecallStore] toggleMeetingBot failed: "_s + e.description());
    }
}

void RecallStore::setAutoJoinEnabled(bool on)
{
    if (on == m_autoJoinEnabled)
        return;
    m_autoJoinEnabled = on;
    emit autoJoinEnabledChanged();
}

void RecallStore::setLoaded(bool loaded)
{
    if (loaded == m_isLoaded)
        return;
    m_isLoaded = loaded;
    emit isLoadedChanged();
}
