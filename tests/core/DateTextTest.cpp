#include "DateText.h"

#include <QTimeZone>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

struct Dated {
    QString name;
    QDateTime when;
};

QStringList labelsOf(const QList<DateText::DaySection<Dated>> &sections)
{
    QStringList out;
    for (const auto &s : sections)
        out << s.label + u':' + QString::number(s.items.size());
    return out;
}

// Noon on the calendar day `daysAgo` before today, in the configured zone.
QDateTime dayAt(int daysAgo)
{
    return QDateTime(DateText::today().addDays(-daysAgo), QTime(12, 0), QTimeZone(DateText::timeZoneId()));
}

class DateTextTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DateText::setLocale("en_US");
        DateText::setTimeZone("America/New_York");
    }
};

}

TEST_F(DateTextTest, PatternsAndStylesFollowTheLocaleAndZone)
{
    const QDateTime t(QDate(2025, 3, 5), QTime(14, 30), Qt::UTC);
    EXPECT_EQ(DateText::format(t, u"EEEE · MMMM d"_s), u"Wednesday · March 5"_s);
    EXPECT_EQ(DateText::format(t, u"h:mm a"_s), u"9:30 AM"_s);
    EXPECT_EQ(DateText::mediumDate(t), u"Mar 5, 2025"_s);

    DateText::setTimeZone("Asia/Tokyo");
    EXPECT_EQ(DateText::format(t, u"EEE h:mm a"_s), u"Wed 11:30 PM"_s);
    EXPECT_EQ(DateText::localDate(QDateTime(QDate(2025, 3, 5), QTime(16, 0), Qt::UTC)), QDate(2025, 3, 6));
}

TEST_F(DateTextTest, SectionsPutTodayAndYesterdayFirstThenDaysNewestFirst)
{
    // Across month and year boundaries the label text would sort wrongly ("Sep 30" after "Oct 1").
    const QList<Dated> items = {
        {u"a"_s, QDateTime(QDate(2024, 12, 1), QTime(12, 0), Qt::UTC)},
        {u"b"_s, dayAt(1)},
        {u"c"_s, QDateTime(QDate(2025, 9, 30), QTime(15, 0), Qt::UTC)},
        {u"d"_s, dayAt(0)},
        {u"e"_s, QDateTime(QDate(2025, 10, 1), QTime(15, 0), Qt::UTC)},
        {u"f"_s, QDateTime(QDate(2025, 3, 1), QTime(15, 0), Qt::UTC)},
        {u"g"_s, QDateTime(QDate(2025, 4, 1), QTime(15, 0), Qt::UTC)},
        {u"h"_s, dayAt(0).addSecs(-3600)},
        {u"i"_s, QDateTime(QDate(2025, 9, 30), QTime(16, 0), Qt::UTC)},
    };
    const auto sections = DateText::groupByDay<Dated>(items, [](const Dated &d) { return d.when; });
    EXPECT_EQ(labelsOf(sections), (QStringList{u"Today:2"_s, u"Yesterday:1"_s, u"Oct 1, 2025:1"_s, u"Sep 30, 2025:2"_s,
                                               u"Apr 1, 2025:1"_s, u"Mar 1, 2025:1"_s, u"Dec 1, 2024:1"_s}));
    EXPECT_EQ(sections[0].items[0].name, u"d"_s) << "items keep their order within a section";
    EXPECT_EQ(sections[3].items[0].name, u"c"_s);
}

TEST_F(DateTextTest, DaysFollowTheUsersTimeZone)
{
    // 03:30 UTC is still the previous evening in New York, and already morning in Tokyo.
    const QDateTime early(DateText::today(), QTime(3, 30), Qt::UTC);
    DateText::setTimeZone("Asia/Tokyo");
    const QDate tokyo = DateText::localDate(early);
    DateText::setTimeZone("America/New_York");
    EXPECT_EQ(DateText::localDate(early).daysTo(tokyo), 1);
}
