#include "DateText.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(DateText, PatternsStylesAndDaysFollowTheLocaleAndZone)
{
    DateText::setLocale("en_US");
    DateText::setTimeZone("America/New_York");
    const QDateTime t(QDate(2025, 3, 5), QTime(14, 30), Qt::UTC);
    EXPECT_EQ(DateText::format(t, u"EEEE · MMMM d"_s), u"Wednesday · March 5"_s);
    EXPECT_EQ(DateText::format(t, u"h:mm a"_s), u"9:30 AM"_s);
    EXPECT_EQ(DateText::mediumDate(t), u"Mar 5, 2025"_s);
    // 03:30 UTC is still the previous evening in New York, and already morning in Tokyo.
    const QDateTime early(QDate(2025, 3, 6), QTime(3, 30), Qt::UTC);
    EXPECT_EQ(DateText::localDate(early), QDate(2025, 3, 5));

    DateText::setTimeZone("Asia/Tokyo");
    EXPECT_EQ(DateText::format(t, u"EEE h:mm a"_s), u"Wed 11:30 PM"_s);
    EXPECT_EQ(DateText::localDate(early), QDate(2025, 3, 6));
}
