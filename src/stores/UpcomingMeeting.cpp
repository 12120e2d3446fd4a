#include "UpcomingMeeting.h"

using namespace Qt::StringLiterals;

QString calendarSourceText(CalendarSource source)
{
    switch (source) {
    case CalendarSource::gWork:
        return u"gWork"_s;
    case CalendarSource::gPersonal:
        return u"gPersonal"_s;
    case CalendarSource::outlook:
        return u"outlook"_s;
    case CalendarSource::icloud:
        return u"icloud"_s;
    }
    return {};
}
