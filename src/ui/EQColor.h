#pragma once

#include <QColor>
#include <QStringView>

// Colours written as hexadecimal text, the way every literal colour of the
// interface is given.
class EQColor {
public:
    // Non-alphanumeric characters are trimmed from both ends ("#c46a44",
    // "c46a44" and "# c46a44" agree); exactly six hexadecimal digits give an
    // opaque sRGB colour, anything else opaque black.
    [[nodiscard]] static QColor fromHex(QStringView text);
    // The same colour with its opacity replaced.
    [[nodiscard]] static QColor withOpacity(QColor color, qreal opacity);
};
