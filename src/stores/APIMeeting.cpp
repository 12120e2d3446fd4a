#include "APIMeeting.h"

using namespace Qt::StringLiterals;

APIAttendee APIAttendee::fromJson(const Json::ObjectReader& r)
{
    return { r.optional<QString>("name"_L1), r.optional<QString>("email"_L1) };
}

APIMeeting APIMeeting::fromJson(const Json::ObjectReader& r)
{
    APIMeeting m;
    m.calendarEventId = r.optional<QString>("calendarEventId"_L1);
    m.title = r.required<QString>("title"_L1);
    m.startTime = r.optional<QString>("startTime"_L1);
    m.endTime = r.optional<QString>("endTime"_L1);
    m.durationMinutes = r.optional<int>("durationMinutes"_L1);
    m.meetingUrl = r.optional<QString>("meetingUrl"_L1);
    m.platform = r.optional<QString>("platform"_L1);
    m.platformLabel = r.optional<QString>("platformLabel"_L1);
    m.attendees = r.optional<QList<APIAttendee>>("attendees"_L1);
    m.attendeeCount = r.optional<int>("attendeeCount"_L1);
    m.isLive = r.optional<bool>("isLive"_L1);
    m.declined = r.optional<bool>("declined"_L1);
    m.botEnabled = r.optional<bool>("botEnabled"_L1);
    m.botScheduled = r.optional<bool>("botScheduled"_L1);
    return m;
}
