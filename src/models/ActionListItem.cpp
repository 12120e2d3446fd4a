#include "ActionListItem.h"

using namespace Qt::StringLiterals;

ActionListItem ActionListItem::fromJson(const Json::ObjectReader& r)
{
    ActionListItem a;
    a.id = r.required<QString>("id"_L1);
    a.meetingId = r.required<qint64>("meetingId"_L1);
    a.meetingSource = r.required<QString>("meetingSource"_L1);
    a.meetingTitle = r.required<QString>("meetingTitle"_L1);
    a.meetingDate = r.required<QDateTime>("meetingDate"_L1);
    a.who = r.required<QString>("who"_L1);
    a.what = r.required<QString>("what"_L1);
    a.due = r.optional<QString>("due"_L1);
    a.done = r.required<bool>("done"_L1);
    return a;
}
