#include "EQAvatarStyle.h"
#include "EQColor.h"
#include "EQFonts.h"
#include "EQPalette.h"
#include "EQTheme.h"
#include "RippleGeometry.h"
#include "SymbolCatalog.h"

#include <QFontDatabase>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(EQColor, TrimsNonAlphanumericsAndNeedsExactlySixDigits)
{
    const QColor terracotta = QColor::fromRgb(0xc4, 0x6a, 0x44);
    struct Case {
        QString text;
        QColor expected;
    };
    const Case cases[] = {
        {u"#C46A44"_s, terracotta},
        {u"c46a44"_s, terracotta},
        {u"# c46a44"_s, terracotta},
        {u"  #c46a44;  "_s, terracotta},
        {u"#fff"_s, Qt::black},        // three digits are not a colour here
        {u"#c46a4"_s, Qt::black},
        {u"#c46a4400"_s, Qt::black},   // eight digits neither
        {u""_s, Qt::black},
        {u"c4zz44"_s, QColor::fromRgb(0, 0, 0xc4)}, // read from its start: only "c4" is a number
    };
    for (const Case &c : cases) {
        const QColor color = EQColor::fromHex(c.text);
        EXPECT_EQ(color.rgba(), c.expected.rgba()) << c.text.toStdString();
        EXPECT_EQ(color.alpha(), 255) << c.text.toStdString();
    }
}

TEST(EQPalette, AppliesTheOpacitiesOfItsEntries)
{
    const EQPalette &p = EQPalette::shared();
    EXPECT_EQ(p.terracotta.rgb(), QColor(0xc4, 0x6a, 0x44).rgb());
    EXPECT_NEAR(p.terracottaSoft.alphaF(), 0.25, 0.005);
    EXPECT_EQ(p.terracottaSoft.rgb(), p.terracotta.rgb());
    EXPECT_EQ(p.nightHairline.rgb(), QColor(Qt::white).rgb());
    EXPECT_NEAR(p.nightHairline.alphaF(), 0.08, 0.005);
    EXPECT_NEAR(p.peachGlow.alphaF(), 0.95, 0.005);
    EXPECT_NEAR(p.alertSoft.alphaF(), 0.40, 0.005);
    EXPECT_NEAR(p.hairlineFaint.alphaF(), 0.03, 0.005);
    EXPECT_EQ(p.creamDeep.name(), u"#f6e3cf"_s);
    EXPECT_EQ(&EQPalette::shared(), &p) << "built once and shared";
}

TEST(EQTheme, ListsItsCasesWithTheirTextValues)
{
    EXPECT_EQ(EQThemes::allCases(), (QList<EQTheme> {EQTheme::night, EQTheme::golden}));
    EXPECT_EQ(EQThemes::text(EQTheme::golden), u"golden"_s);
    EXPECT_EQ(EQThemes::fromText(u"night"_s), EQTheme::night);
    EXPECT_FALSE(EQThemes::fromText(u"Night"_s).has_value());
    EXPECT_EQ(EQThemes::defaultTheme, EQTheme::night);
}

TEST(EQAvatarStyle, InitialsComeFromTheFirstTwoWords)
{
    EXPECT_EQ(EQAvatarStyle::initialsOf(u"ada lovelace king"_s), u"AL"_s);
    EXPECT_EQ(EQAvatarStyle::initialsOf(u"   grace   "_s), u"G"_s);
    EXPECT_EQ(EQAvatarStyle::initialsOf(u""_s), u""_s);
    EXPECT_EQ(EQAvatarStyle::initialsOf(u"élodie  durand"_s), u"ÉD"_s);
    // A letter with a combining accent is one character.
    EXPECT_EQ(EQAvatarStyle::initialsOf(u"e\u0301mile zola"_s), u"E\u0301Z"_s);
    EXPECT_EQ(EQAvatarStyle::initialsOf(u"Ada Lovelace"_s), EQAvatarStyle::initialsOf(u"ada lovelace"_s));
}

TEST(EQAvatarStyle, ColourPairFollowsACaseSensitiveHashOverScalars)
{
    struct Case {
        QString name;
        int index;
    };
    const Case cases[] = {
        {u""_s, 0},
        {u"Ada"_s, 7},   // (65 × 31 + 100) × 31 + 97 = 65662
        {u"ada"_s, 6},   // the hash sees the case
        {u"Ada Lovelace Byron-King"_s, 3}, // wraps modulo 2^32
        {u"ada lovelace byron-king"_s, 8},
        {u"\U0001F600"_s, 1}, // one scalar, not two UTF-16 units
    };
    for (const Case &c : cases)
        EXPECT_EQ(EQAvatarStyle::colorPairIndex(c.name), c.index) << c.name.toStdString();

    const auto pair = EQAvatarStyle::colorPair(u"Ada"_s);
    EXPECT_EQ(pair.background.name(), u"#e8c8b8"_s);
    EXPECT_EQ(pair.foreground.name(), u"#6a3a28"_s);
    EXPECT_EQ(EQAvatarStyle::colorPair(u""_s).background.name(), u"#fadcc4"_s);
}

TEST(EQFonts, RolesResolveToInterOrTheSystemFontWithTheirLook)
{
    // fonts-inter is installed by the project's dependencies; Inter Tight is not in Debian.
    ASSERT_EQ(EQFonts::installedFamily(u"Inter-Medium"_s), u"Inter"_s);
    EXPECT_EQ(EQFonts::installedFamily(u"Inter-Bold"_s), u"Inter"_s);
    EXPECT_EQ(EQFonts::installedFamily(u"InterTight-Medium"_s), QString());
    EXPECT_EQ(EQFonts::installedFamily(u"Nonexistent-Regular"_s), QString());

    const QString systemFamily = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    struct Case {
        EQTextRole role;
        QString family;
        QFont::Weight weight;
        int size;
        qreal tracking;
        bool upper;
    };
    const Case cases[] = {
        {EQTextRole::displayS, systemFamily, QFont::Medium, 28, -0.7, false},
        {EQTextRole::h1, systemFamily, QFont::Medium, 32, -0.32, false},
        {EQTextRole::h2, u"Inter"_s, QFont::Medium, 22, 0, false},
        {EQTextRole::body, u"Inter"_s, QFont::Normal, 15, 0, false},
        {EQTextRole::bodySm, u"Inter"_s, QFont::Normal, 13, 0, false},
        {EQTextRole::label, u"Inter"_s, QFont::Medium, 11, 1.54, true},
        {EQTextRole::nav, u"Inter"_s, QFont::Medium, 11, 1.54, true},
        {EQTextRole::button, u"Inter"_s, QFont::Bold, 12, 1.92, true},
        {EQTextRole::tiny, u"Inter"_s, QFont::Normal, 10, 0, false},
    };
    for (const Case &c : cases) {
        const QFont font = EQFonts::forRole(c.role);
        const std::string role = EQTextRoles::name(c.role).toStdString();
        EXPECT_EQ(font.family(), c.family) << role;
        EXPECT_EQ(font.weight(), c.weight) << role;
        EXPECT_EQ(font.pixelSize(), c.size) << role;
        EXPECT_NEAR(font.letterSpacing(), c.tracking, 1.0 / 64) << role; // fonts keep 1/64 of a point
        EXPECT_EQ(font.letterSpacingType(), QFont::AbsoluteSpacing) << role;
        EXPECT_EQ(font.capitalization() == QFont::AllUppercase, c.upper) << role;
        EXPECT_EQ(EQTextRoles::fromName(EQTextRoles::name(c.role)), c.role);
    }
    EXPECT_FALSE(EQTextRoles::fromName(u"H1"_s).has_value());
}

TEST(RippleGeometry, ThreeRingsAThirdOfAThreeSecondCycleApart)
{
    const auto atStart = RippleGeometry::ringsAt(0.0, 200);
    ASSERT_EQ(atStart.size(), 3);
    const qreal phases[] = {0.0, 1.0 / 3, 2.0 / 3};
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(atStart[i].phase, phases[i], 1e-9);
        EXPECT_NEAR(atStart[i].opacity, (1 - phases[i]) * 0.6, 1e-9);
    }
    EXPECT_NEAR(atStart[0].radius, 15.0, 1e-9) << "a new ring starts at 15% of the half width";
    EXPECT_LT(atStart[0].radius, atStart[1].radius);
    EXPECT_LT(atStart[1].radius, atStart[2].radius);
    EXPECT_LE(atStart[2].radius, 100.0);

    const auto cycleLater = RippleGeometry::ringsAt(3.0 * 1000003, 200);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(cycleLater[i].phase, atStart[i].phase, 1e-6);
    const auto half = RippleGeometry::ringsAt(1.5, 200);
    EXPECT_NEAR(half[0].phase, 0.5, 1e-9);
    EXPECT_NEAR(half[2].phase, 1.0 / 6, 1e-9) << "phases wrap into 0..1";
}

TEST(SymbolCatalog, EverySymbolTheScreensNameHasADrawingInItsTint)
{
    const QStringList used {u"house"_s, u"waveform"_s, u"checklist"_s, u"person.circle"_s, u"gearshape"_s,
        u"magnifyingglass"_s, u"xmark"_s, u"checkmark"_s, u"sparkles"_s, u"text.bubble"_s, u"arrow.up.circle"_s,
        u"calendar"_s, u"folder"_s, u"chevron.left"_s, u"plus"_s, u"arrow.clockwise"_s, u"speaker.wave.2.fill"_s,
        u"speaker.slash"_s, u"checkmark.circle.fill"_s, u"checkmark.seal"_s, u"g.circle.fill"_s};
    EXPECT_EQ(SymbolCatalog::names().size(), used.size());
    for (const QString &name : used) {
        QByteArray svg = SymbolCatalog::svg(name);
        ASSERT_FALSE(svg.isEmpty()) << name.toStdString();
        svg.replace("currentColor", "#c46a44").replace("knockoutColor", "#ffffff");
        QSvgRenderer renderer(svg);
        ASSERT_TRUE(renderer.isValid()) << name.toStdString();
        QImage image(48, 48, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        renderer.render(&painter);
        painter.end();
        int tinted = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (const QColor c = image.pixelColor(x, y); c.alpha() == 255 && c.rgb() == QColor(0xc4, 0x6a, 0x44).rgb())
                    ++tinted;
        EXPECT_GT(tinted, 20) << name.toStdString() << " draws in the requested colour";
    }
    EXPECT_TRUE(SymbolCatalog::svg(u"no.such.symbol"_s).isEmpty());
}
