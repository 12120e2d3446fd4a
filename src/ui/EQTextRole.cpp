#include "EQTextRole.h"

#include "EQFonts.h"

#include <array>

using namespace Qt::StringLiterals;

namespace {

struct Row {
    EQTextRole role;
    const char16_t* name;
    bool display;
    QFont::Weight weight;
    qreal size;
    qreal tracking;
    bool upperCase;
};

constexpr std::array rows {
    Row { EQTextRole::displayS, u"displayS", true, QFont::Medium, 28, -0.7, false },
    Row { EQTextRole::h1, u"h1", true, QFont::Medium, 32, -0.32, false },
    Row { EQTextRole::h2, u"h2", false, QFont::Medium, 22, 0, false },
    Row { EQTextRole::h3, u"h3", false, QFont::Medium, 16, 0, false },
    Row { EQTextRole::body, u"body", false, QFont::Normal, 15, 0, false },
    Row { EQTextRole::bodySm, u"bodySm", false, QFont::Normal, 13, 0, false },
    Row { EQTextRole::label, u"label", false, QFont::Medium, 11, 1.54, true },
    Row { EQTextRole::nav, u"nav", false, QFont::Medium, 11, 1.54, true },
    Row { EQTextRole::button, u"button", false, QFont::Bold, 12, 1.92, true },
    Row { EQTextRole::tiny, u"tiny", false, QFont::Normal, 10, 0, false },
};

const Row& rowOf(EQTextRole role)
{
    return rows[size_t(role)];
}

}

EQTextRoleStyle EQTextRoles::style(EQTextRole role)
{
    const Row& row = rowOf(role);
    const QString fontName = row.display ? EQFonts::displayFontName : EQFonts::textFontName(row.weight);
    return { fontName, row.weight, row.size, row.tracking, row.upperCase };
}

std::optional<EQTextRole> EQTextRoles::fromName(const QString& name)
{
    for (const Row& row : rows)
        if (name == QStringView(row.name))
            return row.role;
    return std::nullopt;
}

QString EQTextRoles::name(EQTextRole role)
{
    return QString::fromUtf16(rowOf(role).name);
}
