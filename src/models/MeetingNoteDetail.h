#pragma once

#include "JsonReader.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// One action item inside a note; its key is its id, or its text when it has none.
struct V2ActionItem {
    std::optional<QString> id;
    QString who;
    QString what;
    std::optional<QString> due;
    bool done = false;

    [[nodiscard]] QString key() const { return id.value_or(what); }
    static V2ActionItem fromJson(const Json::ObjectReader& r);
    bool operator==(const V2ActionItem&) const = default;
};

struct V2Topic {
    QString title;
    // Absent is distinct from empty.
    std::optional<QStringList> bullets;

    static V2Topic fromJson(const Json::ObjectReader& r);
    bool operator==(const V2Topic&) const = default;
};

struct V2Properties {
    std::optional<QString> source;
    std::optional<QString> recorded;
    std::optional<int> speakers;
    std::optional<int> durationSeconds;

    static V2Properties fromJson(const Json::ObjectReader& r);
    bool operator==(const V2Properties&) const = default;
};

// One note in full.
struct MeetingNoteDetail {
    qint64 id = 0;
    std::optional<QString> source;
    std::optional<QString> status;
    QString title;
    QStringList participants;
    std::optional<QString> duration;
    QDateTime createdDateTime;
    std::optional<QString> summaryText;
    QStringList decisions;
    QList<V2ActionItem> actionItems;
    QList<V2Topic> topics;
    std::optional<V2Properties> properties;

    static MeetingNoteDetail fromJson(const Json::ObjectReader& r);
    bool operator==(const MeetingNoteDetail&) const = default;
};
