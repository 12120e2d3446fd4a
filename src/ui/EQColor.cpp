#include "EQColor.h"

namespace {

bool isAlphanumeric(QChar c)
{
    return c.isLetterOrNumber() || c.isMark();
}

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

}

QColor EQColor::fromHex(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && !isAlphanumeric(text[begin]))
        ++begin;
    while (end > begin && !isAlphanumeric(text[end - 1]))
        --end;
    const QStringView digits = text.sliced(begin, end - begin);
    if (digits.size() != 6)
        return QColor(0, 0, 0);

    // Read as a number from its start: the first non-hexadecimal character ends it.
    quint32 value = 0;
    for (QChar c : digits) {
        const int digit = hexDigit(c);
        if (digit < 0)
            break;
        value = (value << 4) | quint32(digit);
    }
    return QColor::fromRgb(int((value >> 16) & 0xff), int((value >> 8) & 0xff), int(value & 0xff));
}

QColor EQColor::withOpacity(QColor color, qreal opacity)
{
    color.setAlphaF(float(opacity));
    return color;
}
