#include "Dates.h"

#include <QDateTime>
#include <QLocale>

using namespace Qt::StringLiterals;

namespace Dates {

QString iso(std::int64_t ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

QString clock(std::int64_t ms)
{
    return QLocale::c().toString(QDateTime::fromMSecsSinceEpoch(ms).time(), u"h:mm AP"_s);
}

QString recorded(std::int64_t ms)
{
    return QLocale::c().toString(QDateTime::fromMSecsSinceEpoch(ms), u"ddd, MMM d · h:mm AP"_s);
}

std::int64_t startOfDay(std::int64_t ms, int days)
{
    return QDateTime::fromMSecsSinceEpoch(ms).date().addDays(days).startOfDay().toMSecsSinceEpoch();
}

}
