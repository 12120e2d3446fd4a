#pragma once

#include "Store.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cstdint>
#include <optional>
#include <string>

// Each account's calendar connection, its calendar meetings and the meeting
// bot's settings and per-meeting choices.
class Calendar {
public:
    struct Status {
        bool connected = false;
        bool needsReauth = false;
    };

    explicit Calendar(Store& store);

    Status status(const std::string& accountId);
    // Absent values stay as they are.
    void setStatus(const std::string& accountId, std::optional<bool> connected, std::optional<bool> needsReauth);
    [[nodiscard]] bool hasEvents(const std::string& accountId);

    // Meetings that have not ended, soonest first, at most `limit`.
    QJsonArray upcoming(const std::string& accountId, int limit);

    [[nodiscard]] bool autoJoin(const std::string& accountId);
    // False when the account has no such meeting.
    bool setBotEnabled(const std::string& accountId, const std::string& eventId, bool enabled);

    // Inserts a sample meeting or moves it to new times, keeping the user's bot choice.
    void seed(const std::string& accountId, const std::string& eventId, std::int64_t startMs, std::int64_t endMs,
        bool botScheduled, const QJsonObject& doc);

private:
    Store& m_store;
};
