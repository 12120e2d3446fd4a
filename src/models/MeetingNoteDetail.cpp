#include "MeetingNoteDetail.h"

using namespace Qt::StringLiterals;

V2ActionItem V2ActionItem::fromJson(const Json::ObjectReader& r)
{
    return { r.optional<QString>("id"_L1), r.required<QString>("who"_L1), r.required<QString>("what"_L1),
        r.optional<QString>("due"_L1), r.required<bool>("done"_L1) };
}

V2Topic V2Topic::fromJson(const Json::ObjectReader& r)
{
    return { r.required<QString>("title"_L1), r.optional<QStringList>("bullets"_L1) };
}

V2Properties V2Properties::fromJson(const Json::ObjectReader& r)
{
    return { r.optional<QString>("source"_L1), r.optional<QString>("recorded"_L1), r.optional<int>("speakers"_L1),
        r.optional<int>("durationSeconds"_L1) };
}

MeetingNoteDetail MeetingNoteDetail::fromJson(const Json::ObjectReader& r)
{
    MeetingNoteDetail d;
    d.id = r.required<qint64>("id"_L1);
    d.source = r.optional<QString>("source"_L1);
    d.status = r.optional<QString>("status"_L1);
    d.title = r.required<QString>("title"_L1);
    d.participants = r.required<QStringList>("participants"_L1);
    d.duration = r.optional<QString>("duration"_L1);
    d.createdDateTime = r.required<QDateTime>("createdDateTime"_L1);
    d.summaryText = r.optional<QString>("summaryText"_L1);
    d.decisions = r.required<QStringList>("decisions"_L1);
    d.actionItems = r.required<QList<V2ActionItem>>("actionItems"_L1);
    d.topics = r.required<QList<V2Topic>>("topics"_L1);
    d.properties = r.optional<V2Properties>("properties"_L1);
    return d;
}
