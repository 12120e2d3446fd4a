#pragma once

#include "JsonReader.h"

#include <QDateTime>
#include <QString>

#include <optional>

// One task of the task list; its colour stage follows from the seconds since
// `statusChangedAt`.
struct EQTask {
    QString id;
    QString name;
    bool isActive = false;
    std::optional<QString> logo;
    qint64 yellowAfterSeconds = 0;
    qint64 redAfterSeconds = 0;
    QDateTime statusChangedAt;

    static EQTask fromJson(const Json::ObjectReader& r);
    bool operator==(const EQTask& other) const { return id == other.id; }
};
