#include "EQPalette.h"

#include "EQColor.h"

#include <QJSEngine>

namespace {

QColor hex(const char16_t* text, qreal opacity = 1.0)
{
    return EQColor::withOpacity(EQColor::fromHex(text), opacity);
}

QColor black(qreal opacity)
{
    return EQColor::withOpacity(Qt::black, opacity);
}

}

EQPalette::EQPalette()
    : nightSurface(hex(u"#16161a"))
    , nightHairline(EQColor::withOpacity(Qt::white, 0.08))
    , nightText(hex(u"#fafafa"))
    , peach(hex(u"#ffb481"))
    , creamDeep(hex(u"#f6e3cf"))
    , cream(hex(u"#faf2e8"))
    , white(Qt::white)
    , creamLight(hex(u"#faf6ee"))
    , peachLight(hex(u"#ffe8cf"))
    , peachGlow(hex(u"#ffd9b0", 0.95))
    , ink(hex(u"#1a1a1a"))
    , inkSecondary(hex(u"#4a4a4a"))
    , terracotta(hex(u"#c46a44"))
    , terracottaSoft(hex(u"#c46a44", 0.25))
    , hairline(black(0.06))
    , hairlineSoft(black(0.04))
    , hairlineFaint(black(0.03))
    , inkTertiary(hex(u"#696969"))
    , inkMuted(hex(u"#756d61"))
    , alert(hex(u"#c4423a"))
    , alertSoft(hex(u"#c4423a", 0.40))
    , shade(black(0.20))
    , apricot(hex(u"#ffd2a3"))
    , blush(hex(u"#f9c8b1"))
    , rose(hex(u"#f0d4d4"))
    , hairlineStrong(black(0.10))
    , pillInk(hex(u"#111111"))
    , pillShadow(black(0.25))
    , glowRing(hex(u"#ffd9b0", 0.60))
    , glowShadow(hex(u"#ffd9b0", 0.50))
    , clear(Qt::transparent)
    , badge(black(0.07))
    , amber(QColor::fromRgbF(0.96f, 0.62f, 0.04f))
    , recordRed(hex(u"#ff6b62"))
    , terracottaText(hex(u"#7f3d1f"))
    , focusRing(hex(u"#9e4f2c"))
{
}

EQPalette& EQPalette::shared()
{
    static EQPalette palette;
    return palette;
}

EQPalette* EQPalette::create(QQmlEngine*, QJSEngine*)
{
    EQPalette* palette = &shared();
    QJSEngine::setObjectOwnership(palette, QJSEngine::CppOwnership);
    return palette;
}

QColor EQPalette::withOpacity(const QColor& color, qreal opacity) const
{
    return EQColor::withOpacity(color, opacity);
}
