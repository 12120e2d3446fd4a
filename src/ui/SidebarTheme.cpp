#include "SidebarTheme.h"

#include "EQColor.h"
#include "EQPalette.h"

using namespace Qt::StringLiterals;

QList<SidebarTheme> SidebarThemes::allCases()
{
    return { SidebarTheme::night, SidebarTheme::golden };
}

QString SidebarThemes::displayName(SidebarTheme theme)
{
    return theme == SidebarTheme::night ? u"Night"_s : u"Golden"_s;
}

QString SidebarThemes::key(SidebarTheme theme)
{
    return theme == SidebarTheme::night ? u"night"_s : u"golden"_s;
}

std::optional<SidebarTheme> SidebarThemes::fromKey(const QString& key)
{
    for (SidebarTheme theme : allCases())
        if (SidebarThemes::key(theme) == key)
            return theme;
    return std::nullopt;
}

SidebarLook SidebarThemes::look(SidebarTheme theme)
{
    const EQPalette& p = EQPalette::shared();
    if (theme == SidebarTheme::golden) {
        return {
            .background = p.creamLight,
            .divider = p.hairline,
            .wordmarkGlyph = p.terracotta,
            .wordmarkText = p.ink,
            .fieldBackground = p.white,
            .fieldOutline = p.hairline,
            .fieldText = p.ink,
            .fieldIcon = p.inkMuted,
            .rowSymbol = p.inkTertiary,
            .rowTitle = p.inkSecondary,
            .selectedSymbol = p.terracotta,
            .selectedTitle = p.ink,
            .selectedBackground = p.hairline,
            .hoverBackground = p.hairlineFaint,
            .sectionHeader = p.inkMuted,
            .folderName = p.inkSecondary,
            .switchTrack = p.hairline,
            .switchThumb = p.white,
            .switchText = p.inkTertiary,
            .switchSelectedText = p.ink,
            .userName = p.ink,
            .gear = p.inkTertiary,
        };
    }
    const auto text = [&](qreal opacity) { return EQColor::withOpacity(p.nightText, opacity); };
    return {
        .background = p.nightSurface,
        .divider = p.nightHairline,
        .wordmarkGlyph = p.peach,
        .wordmarkText = p.nightText,
        .fieldBackground = text(0.06),
        .fieldOutline = p.nightHairline,
        .fieldText = p.nightText,
        .fieldIcon = text(0.5),
        .rowSymbol = text(0.5),
        .rowTitle = text(0.72),
        .selectedSymbol = p.peach,
        .selectedTitle = p.nightText,
        .selectedBackground = p.nightHairline,
        .hoverBackground = text(0.04),
        .sectionHeader = text(0.5),
        .folderName = text(0.72),
        .switchTrack = p.nightHairline,
        .switchThumb = text(0.14),
        .switchText = text(0.5),
        .switchSelectedText = p.nightText,
        .userName = p.nightText,
        .gear = text(0.5),
    };
}
