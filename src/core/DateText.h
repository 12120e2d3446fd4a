#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>

#include <algorithm>
#include <functional>

// Dates as the user reads them: LDML patterns and locale styles through ICU,
// in the user's locale and time zone. Main thread only (formatters are cached).
namespace DateText {

// The locale ("en_US") and IANA time zone used from now on; by default the system's.
void setLocale(const QByteArray& icuLocale);
void setTimeZone(const QByteArray& ianaId);
[[nodiscard]] QByteArray timeZoneId();

// `pattern` is an LDML pattern such as "EEEE · MMMM d" or "h:mm a".
[[nodiscard]] QString format(const QDateTime& when, const QString& pattern);
[[nodiscard]] QString mediumDate(const QDateTime& when);
[[nodiscard]] QString shortTime(const QDateTime& when);

// The clock every "now" of the screens is read from; null restores the system's.
void setClock(std::function<QDateTime()> clock);
[[nodiscard]] QDateTime now();

// The calendar day of `when` in the user's time zone, and today's.
[[nodiscard]] QDate localDate(const QDateTime& when);
[[nodiscard]] QDate today();

// "Today", "Yesterday", or the medium date.
[[nodiscard]] QString dayLabel(const QDateTime& when);

template <class T> struct DaySection {
    QString label;
    QList<T> items;
};

// Sections by calendar day: "Today", then "Yesterday", then every other day
// newest first (by the day itself, not by its label text). Items keep their
// order within a section.
template <class T>
QList<DaySection<T>> groupByDay(const QList<T>& items, const std::function<QDateTime(const T&)>& dateOf)
{
    struct Group {
        QDate day;
        DaySection<T> section;
    };
    QList<Group> groups;
    for (const T& item : items) {
        const QDateTime when = dateOf(item);
        const QDate day = localDate(when);
        auto it = std::find_if(groups.begin(), groups.end(), [&](const Group& g) { return g.day == day; });
        if (it == groups.end()) {
            groups.append(Group { day, { dayLabel(when), {} } });
            it = groups.end() - 1;
        }
        it->section.items.append(item);
    }
    const QDate t = today();
    const auto rank = [&](const QDate& d) { return d == t ? 0 : d == t.addDays(-1) ? 1 : 2; };
    std::stable_sort(groups.begin(), groups.end(), [&](const Group& a, const Group& b) {
        if (rank(a.day) != rank(b.day))
            return rank(a.day) < rank(b.day);
        return a.day > b.day;
    });
    QList<DaySection<T>> out;
    for (const Group& g : groups)
        out.append(g.section);
    return out;
}

}
