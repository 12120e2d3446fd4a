#pragma once

#include <QString>

// The meeting applications the detector knows; each one's display name is its raw value.
enum class MeetingApp {
    zoom,
    googleMeet,
    teams,
    webex,
    slack,
    discord,
};

[[nodiscard]] inline QString rawValue(MeetingApp app)
{
    switch (app) {
    case MeetingApp::zoom:
        return QStringLiteral("Zoom");
    case MeetingApp::googleMeet:
        return QStringLiteral("Google Meet");
    case MeetingApp::teams:
        return QStringLiteral("Microsoft Teams");
    case MeetingApp::webex:
        return QStringLiteral("Webex");
    case MeetingApp::slack:
        return QStringLiteral("Slack");
    case MeetingApp::discord:
        return QStringLiteral("Discord");
    }
    return {};
}
