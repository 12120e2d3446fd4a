#include "IsoDate.h"

namespace {

// The code unit at `i`, from UTF-16 text or from Latin-1 text read in place.
char16_t unit(QStringView s, qsizetype i)
{
    return s[i].unicode();
}
char16_t unit(QLatin1StringView s, qsizetype i)
{
    return uchar(s[i].toLatin1());
}

// Reads exactly `count` ASCII digits at `pos`, advancing it.
template <class View> bool digits(View s, qsizetype& pos, int count, int& out)
{
    if (pos + count > s.size())
        return false;
    int v = 0;
    for (int i = 0; i < count; ++i) {
        const char16_t c = unit(s, pos + i);
        if (c < u'0' || c > u'9')
            return false;
        v = v * 10 + (c - u'0');
    }
    pos += count;
    out = v;
    return true;
}

template <class View> bool expect(View s, qsizetype& pos, char16_t c)
{
    if (pos >= s.size() || unit(s, pos) != c)
        return false;
    ++pos;
    return true;
}

enum class Fraction { Required, Forbidden, Optional };

bool isLeapYear(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m)
{
    static constexpr int days[] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    return m == 2 && isLeapYear(y) ? 29 : days[m - 1];
}

// Days from 1970-01-01 to the given proleptic Gregorian date.
qint64 daysSinceEpoch(int y, int m, int d)
{
    y -= m <= 2;
    const qint64 era = y / 400;
    const qint64 yearOfEra = y - era * 400;
    const qint64 dayOfYear = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const qint64 dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

template <class View> std::optional<QDateTime> parseWith(View s, Fraction fraction)
{
    qsizetype p = 0;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
    if (!digits(s, p, 4, y) || !expect(s, p, u'-') || !digits(s, p, 2, mo) || !expect(s, p, u'-') || !digits(s, p, 2, d)
        || !expect(s, p, u'T') || !digits(s, p, 2, h) || !expect(s, p, u':') || !digits(s, p, 2, mi)
        || !expect(s, p, u':') || !digits(s, p, 2, sec))
        return std::nullopt;

    int msec = 0;
    const bool hasFraction = expect(s, p, u'.');
    if (hasFraction ? fraction == Fraction::Forbidden : fraction == Fraction::Required)
        return std::nullopt;
    if (hasFraction) {
        const qsizetype start = p;
        double value = 0, scale = 0.1;
        while (p < s.size() && unit(s, p) >= u'0' && unit(s, p) <= u'9') {
            value += (unit(s, p) - u'0') * scale;
            scale /= 10;
            ++p;
        }
        if (p == start)
            return std::nullopt;
        msec = qMin(999, int(value * 1000 + 1e-6));
    }

    int offsetSeconds = 0;
    if (expect(s, p, u'Z')) {
        offsetSeconds = 0;
    } else if (p < s.size() && (unit(s, p) == u'+' || unit(s, p) == u'-')) {
        const int sign = unit(s, p) == u'+' ? 1 : -1;
        ++p;
        int oh, om;
        if (!digits(s, p, 2, oh) || !expect(s, p, u':') || !digits(s, p, 2, om) || oh > 23 || om > 59)
            return std::nullopt;
        offsetSeconds = sign * (oh * 3600 + om * 60);
    } else {
        return std::nullopt;
    }
    if (p != s.size())
        return std::nullopt;

    // Year 0 does not exist in the calendar QDate follows; no leap seconds.
    if (y < 1 || mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo) || h > 23 || mi > 59 || sec > 59)
        return std::nullopt;
    // Epoch arithmetic: building QDate and QTime and shifting the result costs more than the parse.
    const qint64 seconds = daysSinceEpoch(y, mo, d) * 86400 + h * 3600 + mi * 60 + sec - offsetSeconds;
    return QDateTime::fromMSecsSinceEpoch(seconds * 1000 + msec, Qt::UTC);
}

}

namespace IsoDate {

std::optional<QDateTime> parseFractional(QStringView text)
{
    return parseWith(text, Fraction::Required);
}

std::optional<QDateTime> parsePlain(QStringView text)
{
    return parseWith(text, Fraction::Forbidden);
}

std::optional<QDateTime> parse(QStringView text)
{
    // Both forms in one pass: the fractional form is tried first, and a text
    // with a fraction can only be that form.
    return parseWith(text, Fraction::Optional);
}

std::optional<QDateTime> parse(QLatin1StringView text)
{
    return parseWith(text, Fraction::Optional);
}

QString format(const QDateTime& date)
{
    return date.toUTC().toString(Qt::ISODateWithMs);
}

}
