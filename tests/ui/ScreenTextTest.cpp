#include "DateText.h"
#include "QtPrinters.h"
#include "ScreenText.h"

#include <QTimeZone>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

class ScreenTextTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DateText::setLocale("en_US");
        DateText::setTimeZone("UTC");
    }

    const QDateTime now = QDateTime(QDate(2025, 3, 5), QTime(15, 30), QTimeZone::utc());
};

MeetingNoteDetail detailWith(std::optional<QString> source, QStringList participants, std::optional<V2Properties> properties,
    std::optional<QString> duration = std::nullopt)
{
    MeetingNoteDetail d;
    d.id = 7;
    d.title = u"Pricing review"_s;
    d.source = std::move(source);
    d.participants = std::move(participants);
    d.properties = std::move(properties);
    d.duration = std::move(duration);
    return d;
}

}

TEST_F(ScreenTextTest, RelativeTimeAtItsBoundaries)
{
    struct Case {
        double secondsAgo;
        QString text;
    };
    const Case cases[] = {
        {0, u"Just now"_s},
        {119, u"Just now"_s},
        {119.999, u"Just now"_s}, // whole seconds, rounded down
        {120, u"2m ago"_s},
        {3599, u"59m ago"_s},
        {3600, u"1h ago"_s},
        {86399, u"23h ago"_s},
        {86400, u"Yesterday"_s},
        {172799, u"Yesterday"_s},
        {172800, u"Mar 3"_s},
        {40 * 86400, u"Jan 24"_s},
        {-0.5, u"Just now"_s},
        {-7200, u"Just now"_s}, // dated in the future
    };
    for (const Case &c : cases) {
        const QDateTime created = now.addMSecs(qint64(-c.secondsAgo * 1000));
        EXPECT_EQ(ScreenText::relativeTime(created, now), c.text) << c.secondsAgo;
    }
}

TEST_F(ScreenTextTest, RecordingLengthInSecondsThenMinutesAndSeconds)
{
    EXPECT_EQ(ScreenText::recordingLength(0), u"0s"_s);
    EXPECT_EQ(ScreenText::recordingLength(45), u"45s"_s);
    EXPECT_EQ(ScreenText::recordingLength(59.9), u"59s"_s);
    EXPECT_EQ(ScreenText::recordingLength(60), u"1m 0s"_s);
    EXPECT_EQ(ScreenText::recordingLength(125), u"2m 5s"_s);
    EXPECT_EQ(ScreenText::recordingLength(3725.4), u"62m 5s"_s);
}

TEST_F(ScreenTextTest, SummaryAndCountLines)
{
    EXPECT_EQ(ScreenText::homeSummary(0, 0), u"No meetings today"_s);
    EXPECT_EQ(ScreenText::homeSummary(0, 1), u"1 meetings today"_s);
    EXPECT_EQ(ScreenText::homeSummary(0, 4), u"4 meetings today"_s);
    EXPECT_EQ(ScreenText::homeSummary(2, 3), u"5 meetings today · Echoquill is listening"_s);
    EXPECT_EQ(ScreenText::homeSummary(1, 0), u"1 meetings today · Echoquill is listening"_s);

    EXPECT_EQ(ScreenText::recordingsLine(0), u"No recordings yet"_s);
    EXPECT_EQ(ScreenText::recordingsLine(5), u"5 recordings · Echoquill is listening"_s);
    EXPECT_EQ(ScreenText::openItemsLine(0), u"All done"_s);
    EXPECT_EQ(ScreenText::openItemsLine(3), u"3 open"_s);
}

TEST_F(ScreenTextTest, DateLineIsTheLongDateUpperCased)
{
    EXPECT_EQ(ScreenText::dateLineAt(now), u"WEDNESDAY · MARCH 5"_s);
    DateText::setLocale("de_DE");
    EXPECT_EQ(ScreenText::dateLineAt(now), u"MITTWOCH · MÄRZ 5"_s) << "names in the user's language";
}

TEST_F(ScreenTextTest, ListRowSourceLineAndDuration)
{
    MeetingNote note;
    note.id = 3;
    note.title = u"Standup"_s;
    note.createdDateTime = now;
    const QString time = DateText::shortTime(now);
    ASSERT_TRUE(time.startsWith(u"3:30"_s) && time.endsWith(u"PM"_s)) << time.toStdString();

    EXPECT_EQ(ScreenText::noteSourceLine(note), u"Recording · "_s + time) << "no source";
    note.source = u"desktop"_s;
    EXPECT_EQ(ScreenText::noteSourceLine(note), u"Desktop · "_s + time);
    note.source = u"MEETING bot"_s;
    EXPECT_EQ(ScreenText::noteSourceLine(note), u"Meeting Bot · "_s + time);

    EXPECT_EQ(ScreenText::noteDuration(note), u"—"_s);
    note.duration = u"42 min"_s;
    EXPECT_EQ(ScreenText::noteDuration(note), u"42 MIN"_s);
    EXPECT_EQ(ScreenText::processingSourceLine(now), u"Desktop · "_s + time);
}

TEST_F(ScreenTextTest, DetailPeopleLineAndProperties)
{
    V2Properties full;
    full.source = u"Telegram voice note"_s;
    full.recorded = u"Mar 4, 4:20 PM"_s;
    full.speakers = 1;

    struct Case {
        const char *what;
        MeetingNoteDetail detail;
        QString peopleLine;
        QStringList properties;
    };
    const Case cases[] = {
        {"properties win", detailWith(u"telegram"_s, {u"Ada"_s, u"Grace"_s, u"Linus"_s}, full, u"4 min"_s),
            u"3 people · Telegram voice note"_s,
            {u"Source=Telegram voice note"_s, u"Recorded=Mar 4, 4:20 PM"_s, u"Speakers=1"_s, u"Duration=4 min"_s}},
        {"the note's own source, capitalized", detailWith(u"desktop"_s, {u"Ada"_s}, V2Properties{}),
            u"1 people · Desktop"_s, {u"Source=Desktop"_s, u"Recorded=—"_s, u"Speakers=1"_s, u"Duration=—"_s}},
        {"nothing known", detailWith(std::nullopt, {}, std::nullopt), u"Recording"_s,
            {u"Source=—"_s, u"Recorded=—"_s, u"Speakers=—"_s, u"Duration=—"_s}},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ScreenText::detailPeopleLine(c.detail), c.peopleLine) << c.what;
        QStringList shown;
        for (const auto &row : ScreenText::detailProperties(c.detail))
            shown << row.label + u'=' + row.value;
        EXPECT_EQ(shown, c.properties) << c.what;
    }
}

TEST_F(ScreenTextTest, CalendarTimeSplitsIntoWeekdayAndClock)
{
    EXPECT_EQ(ScreenText::timeParts(u"Wed · 9:30 AM"_s), QStringList({u"Wed"_s, u"9:30 AM"_s}));
    EXPECT_EQ(ScreenText::timeParts(u"9:30 AM"_s), QStringList({QString(), u"9:30 AM"_s}));
    EXPECT_EQ(ScreenText::timeParts(u""_s), QStringList({QString(), QString()}));
    EXPECT_EQ(ScreenText::timeParts(u"a · b · c"_s), QStringList({QString(), u"a · b · c"_s}));
}
