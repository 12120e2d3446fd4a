#include "AccountName.h"
#include "DateText.h"
#include "EQAvatarStyle.h"
#include "EQColor.h"
#include "EQPalette.h"
#include "OTPCode.h"
#include "QtPrinters.h"
#include "ScreenText.h"
#include "SidebarTheme.h"

#include <QTimeZone>

#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

// The rules behind what the screens write: pure functions, table by table.

TEST(OTPCode, KeepsTheFirstSixCharactersThenOnlyNumbers)
{
    struct Case {
        QString typed;
        QString code;
    };
    const Case cases[] = {
        { u"12a45678"_s, u"12456"_s }, // the prefix keeps "12a456", the letter goes
        { u"123 456"_s, u"12345"_s }, // "123 45", then the blank goes
        { u"1234567890"_s, u"123456"_s },
        { u"٣٤٥٦٧٨"_s, u"٣٤٥٦٧٨"_s }, // Arabic-Indic digits are numbers
        { u"１２３４５６"_s, u"１２３４５６"_s }, // so are full-width ones
        { u"Ⅻ½三x9"_s, u"Ⅻ½三9"_s }, // numerals and fractions count as numbers too
        { u"abcdef"_s, u""_s },
    };
    for (const Case& c : cases)
        EXPECT_EQ(OTPCode::filter(c.typed), c.code) << c.typed.toStdString();
    EXPECT_TRUE(OTPCode::isComplete(u"٣٤٥٦٧٨"_s));
    EXPECT_FALSE(OTPCode::isComplete(u"12345"_s));
    EXPECT_EQ(OTPCode::characterCount(u"1\u03032"_s), 2) << "a digit with a combining mark is one character";
}

TEST(AccountName, SplitsTheDisplayNameIntoFirstAndLastName)
{
    const QStringList cases[] = {
        { u"Ada"_s, u"Ada"_s, u""_s },
        { u"  Ada   Lovelace "_s, u"Ada"_s, u"Lovelace"_s },
    };
    for (const QStringList& c : cases)
        EXPECT_EQ(QStringList({ AccountName::firstNameOf(c[0]), AccountName::lastNameOf(c[0]) }), c.mid(1))
            << c[0].toStdString();
}

TEST(ScreenText, RelativeTimeAtItsBoundaries)
{
    DateText::setLocale("en_US");
    DateText::setTimeZone("UTC");
    const QDateTime now(QDate(2025, 3, 5), QTime(15, 30), QTimeZone::utc());
    // Whole seconds, rounded down; a date in the future is "Just now".
    const std::pair<double, QString> cases[] = { { 0, u"Just now"_s }, { 119.999, u"Just now"_s }, { 120, u"2m ago"_s },
        { 3599, u"59m ago"_s }, { 3600, u"1h ago"_s }, { 86399, u"23h ago"_s }, { 86400, u"Yesterday"_s },
        { 172799, u"Yesterday"_s }, { 172800, u"Mar 3"_s }, { 40 * 86400, u"Jan 24"_s }, { -7200, u"Just now"_s } };
    for (const auto& [secondsAgo, text] : cases)
        EXPECT_EQ(ScreenText::relativeTime(now.addMSecs(qint64(-secondsAgo * 1000)), now), text) << secondsAgo;

    EXPECT_EQ(ScreenText::dateLineAt(now), u"WEDNESDAY · MARCH 5"_s);
    DateText::setLocale("de_DE");
    EXPECT_EQ(ScreenText::dateLineAt(now), u"MITTWOCH · MÄRZ 5"_s) << "names in the user's language";
    DateText::setLocale("en_US");
}

TEST(ScreenText, LengthsCountsSourcesAndCalendarTimes)
{
    EXPECT_EQ(ScreenText::recordingLength(59.9), u"59s"_s);
    EXPECT_EQ(ScreenText::recordingLength(60), u"1m 0s"_s);
    EXPECT_EQ(ScreenText::recordingLength(3725.4), u"62m 5s"_s);
    EXPECT_EQ(ScreenText::homeSummary(0, 4), u"4 meetings today"_s);
    EXPECT_EQ(ScreenText::openItemsLine(0), u"All done"_s);

    MeetingNote note;
    note.createdDateTime = QDateTime::currentDateTime();
    const QString time = DateText::shortTime(note.createdDateTime);
    EXPECT_EQ(ScreenText::noteSourceLine(note), u"Recording · "_s + time) << "no source";
    note.source = u"MEETING bot"_s;
    EXPECT_EQ(ScreenText::noteSourceLine(note), u"Meeting Bot · "_s + time);

    EXPECT_EQ(ScreenText::timeParts(u"Wed · 9:30 AM"_s), QStringList({ u"Wed"_s, u"9:30 AM"_s }));
    EXPECT_EQ(ScreenText::timeParts(u"a · b · c"_s), QStringList({ QString(), u"a · b · c"_s }));
}

TEST(ScreenText, DetailPropertiesPreferTheServicesOwnThenSayNothingKnown)
{
    MeetingNoteDetail told;
    told.source = u"telegram"_s;
    told.participants = { u"Ada"_s, u"Grace"_s, u"Linus"_s };
    told.properties = V2Properties { u"Telegram voice note"_s, u"Mar 4, 4:20 PM"_s, 1, std::nullopt };
    told.duration = u"4 min"_s;
    const std::tuple<MeetingNoteDetail, QString, QStringList> cases[] = {
        { told, u"3 people · Telegram voice note"_s,
            { u"Source=Telegram voice note"_s, u"Recorded=Mar 4, 4:20 PM"_s, u"Speakers=1"_s, u"Duration=4 min"_s } },
        { MeetingNoteDetail {}, u"Recording"_s, { u"Source=—"_s, u"Recorded=—"_s, u"Speakers=—"_s, u"Duration=—"_s } },
    };
    for (const auto& [detail, peopleLine, properties] : cases) {
        EXPECT_EQ(ScreenText::detailPeopleLine(detail), peopleLine);
        QStringList shown;
        for (const auto& row : ScreenText::detailProperties(detail))
            shown << row.label + u'=' + row.value;
        EXPECT_EQ(shown, properties);
    }
}

TEST(EQColor, TrimsNonAlphanumericsAndNeedsExactlySixDigits)
{
    const QColor terracotta = QColor::fromRgb(0xc4, 0x6a, 0x44);
    // Three or eight digits are not a colour here; "c4zz44" is read from its start, where only "c4" is a number.
    const std::pair<QString, QColor> cases[]
        = { { u"#C46A44"_s, terracotta }, { u"  # c46a44;  "_s, terracotta }, { u"#fff"_s, Qt::black },
              { u"#c46a4400"_s, Qt::black }, { u""_s, Qt::black }, { u"c4zz44"_s, QColor::fromRgb(0, 0, 0xc4) } };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(EQColor::fromHex(text).rgba(), expected.rgba()) << text.toStdString();
}

// WCAG's contrast ratio of `front`, blended over `back` by its alpha, against `back`.
double contrast(const QColor& front, const QColor& back)
{
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double a = front.alphaF();
    const QColor seen = QColor::fromRgbF(float(front.redF() * a + back.redF() * (1 - a)),
        float(front.greenF() * a + back.greenF() * (1 - a)), float(front.blueF() * a + back.blueF() * (1 - a)));
    const double one = luminance(back), other = luminance(seen);
    return (std::max(one, other) + 0.05) / (std::min(one, other) + 0.05);
}

TEST(EQPalette, TextReadsAtAAAndTheFocusRingStandsOutOnEverySurfaceOfBothThemes)
{
    const EQPalette& p = EQPalette::shared();
    for (const QColor& surface : { p.white, p.cream, p.creamLight })
        for (const QColor& text : { p.ink, p.inkSecondary, p.inkTertiary, p.inkMuted, p.terracottaText, p.alert })
            EXPECT_GE(contrast(text, surface), 4.5)
                << text.name().toStdString() << " on " << surface.name().toStdString();
    for (const QColor& hero : { p.apricot, p.peach })
        EXPECT_GE(contrast(p.terracottaText, hero), 4.5) << "the live meeting's labels";
    for (const SidebarTheme theme : SidebarThemes::allCases()) {
        const SidebarLook look = SidebarThemes::look(theme);
        for (const QColor& text :
            { look.rowTitle, look.sectionHeader, look.folderName, look.switchText, look.userName })
            EXPECT_GE(contrast(text, look.background), 4.5) << SidebarThemes::key(theme).toStdString();
    }
    for (const QColor& surface : { p.white, p.cream, p.creamLight, p.apricot, p.peach, p.nightSurface })
        EXPECT_GE(contrast(p.focusRing, surface), 3.0) << surface.name().toStdString();
}

TEST(EQAvatarStyle, InitialsAndAColourPairFromTheName)
{
    EXPECT_EQ(EQAvatarStyle::initialsOf(u"   grace   "_s), u"G"_s);
    EXPECT_EQ(EQAvatarStyle::initialsOf(u"e\u0301mile zola"_s), u"E\u0301Z"_s) << "an accented letter is one character";

    // A case-sensitive hash over Unicode scalars (one for an emoji, not two UTF-16 units), wrapping modulo 2^32:
    // "Ada" is (65 × 31 + 100) × 31 + 97 = 65662.
    const std::pair<QString, int> cases[] = { { u""_s, 0 }, { u"Ada"_s, 7 }, { u"ada"_s, 6 },
        { u"Ada Lovelace Byron-King"_s, 3 }, { u"\U0001F600"_s, 1 } };
    for (const auto& [name, index] : cases)
        EXPECT_EQ(EQAvatarStyle::colorPairIndex(name), index) << name.toStdString();
}
