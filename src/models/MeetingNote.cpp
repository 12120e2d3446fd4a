#include "MeetingNote.h"

using namespace Qt::StringLiterals;

bool MeetingNote::isLive() const
{
    return status && (*status == "recording"_L1 || *status == "joining"_L1);
}

QString MeetingNote::listKey() const
{
    return source.value_or(u"u"_s) + u'-' + QString::number(id);
}

MeetingNote MeetingNote::fromJson(const Json::ObjectReader& r)
{
    MeetingNote n;
    n.id = r.required<qint64>("id"_L1);
    n.source = r.optional<QString>("source"_L1);
    n.title = r.required<QString>("title"_L1);
    n.participants = r.required<QStringList>("participants"_L1);
    n.duration = r.optional<QString>("duration"_L1);
    n.snippet = r.optional<QString>("snippet"_L1);
    n.time = r.optional<QString>("time"_L1);
    n.createdDateTime = r.required<QDateTime>("createdDateTime"_L1);
    n.status = r.optional<QString>("status"_L1);
    return n;
}
