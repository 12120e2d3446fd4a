#include "EQTask.h"

using namespace Qt::StringLiterals;

EQTask EQTask::fromJson(const Json::ObjectReader& r)
{
    EQTask t;
    t.id = r.required<QString>("id"_L1);
    t.name = r.required<QString>("name"_L1);
    t.isActive = r.required<bool>("isActive"_L1);
    t.logo = r.optional<QString>("logo"_L1);
    t.yellowAfterSeconds = r.required<qint64>("yellowAfterSeconds"_L1);
    t.redAfterSeconds = r.required<qint64>("redAfterSeconds"_L1);
    t.statusChangedAt = r.required<QDateTime>("statusChangedAt"_L1);
    return t;
}
