#pragma once

#include "JsonReader.h"

#include <QList>
#include <QString>

#include <optional>

// One invitee of a calendar meeting, as the service sends it.
struct APIAttendee {
    std::optional<QString> name;
    std::optional<QString> email;

    static APIAttendee fromJson(const Json::ObjectReader& r);
};

// One calendar meeting as the service sends it; only the title is required.
// The calendar store turns it into an UpcomingMeeting.
struct APIMeeting {
    std::optional<QString> calendarEventId;
    QString title;
    std::optional<QString> startTime;
    std::optional<QString> endTime;
    std::optional<int> durationMinutes;
    std::optional<QString> meetingUrl;
    std::optional<QString> platform;
    std::optional<QString> platformLabel;
    std::optional<QList<APIAttendee>> attendees;
    std::optional<int> attendeeCount;
    std::optional<bool> isLive;
    std::optional<bool> declined;
    std::optional<bool> botEnabled;
    std::optional<bool> botScheduled;

    static APIMeeting fromJson(const Json::ObjectReader& r);
};
