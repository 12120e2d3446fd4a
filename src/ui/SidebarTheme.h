#pragma once

#include <QColor>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <optional>

// The sidebar's own two looks: "night" on the night surface, "golden" in cream.
enum class SidebarTheme { night, golden };

// Every colour the sidebar draws with, for one theme.
struct SidebarLook {
    Q_GADGET
    QML_VALUE_TYPE(sidebarLook)
    Q_PROPERTY(QColor background MEMBER background CONSTANT)
    Q_PROPERTY(QColor divider MEMBER divider CONSTANT)
    Q_PROPERTY(QColor wordmarkGlyph MEMBER wordmarkGlyph CONSTANT)
    Q_PROPERTY(QColor wordmarkText MEMBER wordmarkText CONSTANT)
    Q_PROPERTY(QColor fieldBackground MEMBER fieldBackground CONSTANT)
    Q_PROPERTY(QColor fieldOutline MEMBER fieldOutline CONSTANT)
    Q_PROPERTY(QColor fieldText MEMBER fieldText CONSTANT)
    Q_PROPERTY(QColor fieldIcon MEMBER fieldIcon CONSTANT)
    Q_PROPERTY(QColor rowSymbol MEMBER rowSymbol CONSTANT)
    Q_PROPERTY(QColor rowTitle MEMBER rowTitle CONSTANT)
    Q_PROPERTY(QColor selectedSymbol MEMBER selectedSymbol CONSTANT)
    Q_PROPERTY(QColor selectedTitle MEMBER selectedTitle CONSTANT)
    Q_PROPERTY(QColor selectedBackground MEMBER selectedBackground CONSTANT)
    Q_PROPERTY(QColor hoverBackground MEMBER hoverBackground CONSTANT)
    Q_PROPERTY(QColor sectionHeader MEMBER sectionHeader CONSTANT)
    Q_PROPERTY(QColor folderName MEMBER folderName CONSTANT)
    Q_PROPERTY(QColor switchTrack MEMBER switchTrack CONSTANT)
    Q_PROPERTY(QColor switchThumb MEMBER switchThumb CONSTANT)
    Q_PROPERTY(QColor switchText MEMBER switchText CONSTANT)
    Q_PROPERTY(QColor switchSelectedText MEMBER switchSelectedText CONSTANT)
    Q_PROPERTY(QColor userName MEMBER userName CONSTANT)
    Q_PROPERTY(QColor gear MEMBER gear CONSTANT)

public:
    QColor background;
    QColor divider;
    QColor wordmarkGlyph;
    QColor wordmarkText;
    QColor fieldBackground;
    QColor fieldOutline;
    QColor fieldText;
    QColor fieldIcon;
    QColor rowSymbol;
    QColor rowTitle;
    QColor selectedSymbol;
    QColor selectedTitle;
    QColor selectedBackground;
    QColor hoverBackground;
    QColor sectionHeader;
    QColor folderName;
    QColor switchTrack;
    QColor switchThumb;
    QColor switchText;
    QColor switchSelectedText;
    QColor userName;
    QColor gear;
};

namespace SidebarThemes {

[[nodiscard]] QList<SidebarTheme> allCases();
// "Night" or "Golden", as the switch shows it.
[[nodiscard]] QString displayName(SidebarTheme theme);
// The case name as written in code ("night", "golden").
[[nodiscard]] QString key(SidebarTheme theme);
[[nodiscard]] std::optional<SidebarTheme> fromKey(const QString& key);
[[nodiscard]] SidebarLook look(SidebarTheme theme);
// The sidebar opens in the cream look.
inline constexpr SidebarTheme initial = SidebarTheme::golden;

}

Q_DECLARE_METATYPE(SidebarLook)
