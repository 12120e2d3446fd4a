#include "EQFonts.h"

#include <QFontDatabase>

using namespace Qt::StringLiterals;

namespace {

struct InstalledName {
    QString fontName;
    QString family;
    QFont::Weight weight;
};

const QList<InstalledName>& installedNames()
{
    static const QList<InstalledName> names {
        { u"InterTight-Medium"_s, u"Inter Tight"_s, QFont::Medium },
        { u"Inter-Regular"_s, u"Inter"_s, QFont::Normal },
        { u"Inter-Medium"_s, u"Inter"_s, QFont::Medium },
        { u"Inter-Bold"_s, u"Inter"_s, QFont::Bold },
    };
    return names;
}

// True when the family is installed with a face of that weight.
bool hasFace(const QString& family, QFont::Weight weight)
{
    if (!QFontDatabase::families().contains(family))
        return false;
    const QStringList styles = QFontDatabase::styles(family);
    return std::any_of(styles.begin(), styles.end(), [&](const QString& style) {
        return QFontDatabase::weight(family, style) == weight && !QFontDatabase::italic(family, style);
    });
}

QFont systemFont(qreal size, QFont::Weight weight)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(qRound(size));
    font.setWeight(weight);
    return font;
}

QFont withLook(QFont font, qreal tracking, bool upperCase)
{
    font.setLetterSpacing(QFont::AbsoluteSpacing, tracking);
    font.setCapitalization(upperCase ? QFont::AllUppercase : QFont::MixedCase);
    return font;
}

}

QString EQFonts::textFontName(QFont::Weight weight)
{
    switch (weight) {
    case QFont::Bold:
        return u"Inter-Bold"_s;
    case QFont::Medium:
        return u"Inter-Medium"_s;
    default:
        return u"Inter-Regular"_s;
    }
}

QString EQFonts::installedFamily(const QString& fontName)
{
    for (const InstalledName& name : installedNames())
        if (name.fontName == fontName && hasFace(name.family, name.weight))
            return name.family;
    return {};
}

QFont EQFonts::named(const QString& fontName, qreal size, QFont::Weight weight)
{
    const QString family = installedFamily(fontName);
    if (family.isEmpty())
        return systemFont(size, weight);
    QFont font(family);
    font.setPixelSize(qRound(size));
    font.setWeight(weight);
    return font;
}

QFont EQFonts::forRole(EQTextRole role)
{
    const EQTextRoleStyle style = EQTextRoles::style(role);
    return withLook(named(style.fontName, style.size, style.weight), style.tracking, style.upperCase);
}

QFont EQFonts::display(qreal size, qreal tracking) const
{
    return withLook(named(displayFontName, size, QFont::Medium), tracking, false);
}

QFont EQFonts::text(qreal size, int weight, qreal tracking, bool upperCase) const
{
    const auto w = QFont::Weight(weight);
    return withLook(named(textFontName(w), size, w), tracking, upperCase);
}

QFont EQFonts::system(qreal size, int weight) const
{
    return systemFont(size, QFont::Weight(weight));
}

QFont EQFonts::struck(QFont font, bool on) const
{
    font.setStrikeOut(on);
    return font;
}
