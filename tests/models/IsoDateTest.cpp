#include "IsoDate.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(IsoDate, CalendarAndClockRulesAreQDateAndQTimeRules)
{
    // Every day of the month range around the calendar's corner cases, checked against QDate.
    for (const int year : { 1, 4, 100, 1600, 1900, 1969, 1970, 2000, 2023, 2024, 2100, 9999 }) {
        for (int month = 0; month <= 13; ++month) {
            for (int day = 0; day <= 32; ++day) {
                const QString text = u"%1-%2-%3T23:59:58.5-01:30"_s.arg(year, 4, 10, QChar(u'0'))
                                         .arg(month, 2, 10, QChar(u'0'))
                                         .arg(day, 2, 10, QChar(u'0'));
                const QDate date(year, month, day);
                const auto parsed = IsoDate::parse(text);
                ASSERT_EQ(parsed.has_value(), date.isValid()) << text.toStdString();
                if (parsed) {
                    const QDateTime expected = QDateTime(date, QTime(23, 59, 58, 500), Qt::UTC).addSecs(90 * 60);
                    EXPECT_EQ(*parsed, expected) << text.toStdString();
                    EXPECT_EQ(parsed->timeSpec(), Qt::UTC);
                }
            }
        }
    }
    EXPECT_FALSE(IsoDate::parse(u"0000-01-01T00:00:00Z"_s)) << "there is no year 0";
    for (const char* clock : { "T24:00:00Z", "T12:60:00Z", "T12:00:60Z", "T12:00:00+24:00", "T12:00:00+01:60" })
        EXPECT_FALSE(IsoDate::parse(u"2024-05-01"_s + QLatin1StringView(clock))) << clock;
}

TEST(IsoDate, EachFormAcceptsOnlyItsOwnShape)
{
    const QDateTime base(QDate(2024, 5, 1), QTime(9, 30), Qt::UTC);
    EXPECT_EQ(IsoDate::parseFractional(u"2024-05-01T09:30:00.000Z"_s), base);
    EXPECT_FALSE(IsoDate::parseFractional(u"2024-05-01T09:30:00Z"_s));
    EXPECT_EQ(IsoDate::parsePlain(u"2024-05-01T09:30:00Z"_s), base);
    EXPECT_FALSE(IsoDate::parsePlain(u"2024-05-01T09:30:00.000Z"_s));
    EXPECT_EQ(IsoDate::parse(u"1969-12-31T23:59:59.999Z"_s)->toMSecsSinceEpoch(), -1);
    EXPECT_EQ(IsoDate::parse(u"2024-03-01T00:30:00+01:00"_s), QDateTime(QDate(2024, 2, 29), QTime(23, 30), Qt::UTC));
}
