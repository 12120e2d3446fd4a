#pragma once

#include <QFont>
#include <QString>

#include <optional>

// The ten text roles; screens apply one of these instead of choosing a font.
enum class EQTextRole { displayS, h1, h2, h3, body, bodySm, label, nav, button, tiny };

// What a role sets on a text: the font by its installed name, the size and
// tracking in points, and the letter case.
struct EQTextRoleStyle {
    QString fontName;
    QFont::Weight weight;
    qreal size;
    qreal tracking;
    bool upperCase;
};

namespace EQTextRoles {

[[nodiscard]] EQTextRoleStyle style(EQTextRole role);
// The role of a case name as written in code ("displayS", "bodySm", …).
[[nodiscard]] std::optional<EQTextRole> fromName(const QString& name);
[[nodiscard]] QString name(EQTextRole role);

}
