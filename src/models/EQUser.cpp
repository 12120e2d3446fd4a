#include "EQUser.h"

using namespace Qt::StringLiterals;

QVariant EQUser::googlePictureForQml() const
{
    return googlePicture ? QVariant(*googlePicture) : QVariant::fromValue(nullptr);
}

EQUser EQUser::fromJson(const Json::ObjectReader& r)
{
    EQUser u;
    u.id = r.required<QString>("id"_L1);
    u.name = r.required<QString>("name"_L1);
    u.email = r.required<QString>("email"_L1);
    u.freeCredits = r.required<qint64>("freeCredits"_L1);
    u.paidCredits = r.required<qint64>("paidCredits"_L1);
    u.topUpCredits = r.required<qint64>("topUpCredits"_L1);
    u.currentStreak = r.required<qint64>("currentStreak"_L1);
    u.longestStreak = r.required<qint64>("longestStreak"_L1);
    u.isFounder = r.required<bool>("isFounder"_L1);
    u.googlePicture = r.optional<QString>("googlePicture"_L1);
    return u;
}
