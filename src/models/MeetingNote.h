#pragma once

#include "JsonReader.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// One row of the meetings list.
struct MeetingNote {
    qint64 id = 0;
    std::optional<QString> source;
    QString title;
    QStringList participants;
    std::optional<QString> duration;
    std::optional<QString> snippet;
    std::optional<QString> time;
    QDateTime createdDateTime;
    std::optional<QString> status;

    // The service is recording or joining this meeting right now.
    [[nodiscard]] bool isLive() const;
    // Row identity in the list: the same id may come from two sources.
    [[nodiscard]] QString listKey() const;

    static MeetingNote fromJson(const Json::ObjectReader& r);
    bool operator==(const MeetingNote& other) const { return id == other.id; }
};
