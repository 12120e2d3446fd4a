#include "OTPCode.h"

#include <QList>
#include <QStringList>
#include <QTextBoundaryFinder>

#include <unicode/uchar.h>

namespace {

// Splits text into user-perceived characters (grapheme clusters).
QStringList characters(const QString& text)
{
    QStringList result;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end != -1; end = finder.toNextBoundary()) {
        if (end > start)
            result.append(text.sliced(start, end - start));
        start = end;
    }
    return result;
}

// A character is a number when its first scalar has a Unicode numeric type
// (decimal digits of every script, fractions, numerals such as Ⅻ or 三).
bool isNumber(const QString& character)
{
    const char32_t first = character.toUcs4().value(0);
    return u_getIntPropertyValue(UChar32(first), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

}

QString OTPCode::filter(const QString& typed)
{
    QString code;
    const QStringList all = characters(typed);
    for (qsizetype i = 0; i < all.size() && i < length; ++i)
        if (isNumber(all[i]))
            code += all[i];
    return code;
}

int OTPCode::characterCount(const QString& text)
{
    return int(characters(text).size());
}
