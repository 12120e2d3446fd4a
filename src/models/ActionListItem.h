#pragma once

#include "JsonReader.h"

#include <QDateTime>
#include <QString>

#include <optional>

// One action item in the list of all action items across meetings. Only
// `done` changes after decoding (the action store toggles it).
struct ActionListItem {
    QString id;
    qint64 meetingId = 0;
    QString meetingSource;
    QString meetingTitle;
    QDateTime meetingDate;
    QString who;
    QString what;
    // Free text from the service, never parsed.
    std::optional<QString> due;
    bool done = false;

    static ActionListItem fromJson(const Json::ObjectReader& r);
    bool operator==(const ActionListItem& other) const { return id == other.id; }
};
