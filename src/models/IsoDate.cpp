#include "IsoDate.h"

#include <QTimeZone>

namespace {

// Reads exactly `count` ASCII digits at `pos`, advancing it.
bool digits(QStringView s, qsizetype &pos, int count, int &out)
{
    if (pos + count > s.size())
        return false;
    int v = 0;
    for (int i = 0; i < count; ++i) {
        const QChar c = s[pos + i];
        if (c < u'0' || c > u'9')
            return false;
        v = v * 10 + (c.unicode() - u'0');
    }
    pos += count;
    out = v;
    return true;
}

bool expect(QStringView s, qsizetype &pos, char16_t c)
{
    if (pos >= s.size() || s[pos] != c)
        return false;
    ++pos;
    return true;
}

std::optional<QDateTime> parseWith(QStringView s, bool fractional)
{
    qsizetype p = 0;
    int y, mo, d, h, mi, sec;
    if (!digits(s, p, 4, y) || !expect(s, p, u'-') || !digits(s, p, 2, mo) || !expect(s, p, u'-')
        || !digits(s, p, 2, d) || !expect(s, p, u'T') || !digits(s, p, 2, h) || !expect(s, p, u':')
        || !digits(s, p, 2, mi) || !expect(s, p, u':') || !digits(s, p, 2, sec))
        return std::nullopt;

    int msec = 0;
    if (fractional) {
        if (!expect(s, p, u'.'))
            return std::nullopt;
        const qsizetype start = p;
        double fraction = 0, scale = 0.1;
        while (p < s.size() && s[p] >= u'0' && s[p] <= u'9') {
            fraction += (s[p].unicode() - u'0') * scale;
            scale /= 10;
            ++p;
        }
        if (p == start)
            return std::nullopt;
        msec = qMin(999, int(fraction * 1000 + 1e-6));
    }

    int offsetSeconds = 0;
    if (expect(s, p, u'Z')) {
        offsetSeconds = 0;
    } else if (p < s.size() && (s[p] == u'+' || s[p] == u'-')) {
        const int sign = s[p] == u'+' ? 1 : -1;
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

    const QDate date(y, mo, d);
    const QTime time(h, mi, sec, msec);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, Qt::UTC).addSecs(-offsetSeconds);
}

}

namespace IsoDate {

std::optional<QDateTime> parseFractional(QStringView text)
{
    return parseWith(text, true);
}

std::optional<QDateTime> parsePlain(QStringView text)
{
    return parseWith(text, false);
}

std::optional<QDateTime> parse(QStringView text)
{
    if (auto d = parseFractional(text))
        return d;
    return parsePlain(text);
}

QString format(const QDateTime &date)
{
    return date.toUTC().toString(Qt::ISODateWithMs);
}

}
