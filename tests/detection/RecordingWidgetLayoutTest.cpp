#include "RecordingWidgetLayout.h"

#include <gtest/gtest.h>

TEST(RecordingWidgetLayout, SavedBeatsRecordingBeatsDetectedBeatsNoticeBeatsIdle)
{
    using enum RecordingWidgetState;
    struct Case {
        bool showSaved, isRecording, hasDetection, hasNotice;
        RecordingWidgetState expected;
    };
    const Case cases[] = {
        { true, true, true, true, saved },
        { true, false, false, false, saved },
        { false, true, true, true, recording },
        { false, true, false, false, recording },
        { false, false, true, true, detected },
        { false, false, true, false, detected },
        { false, false, false, true, notice },
        { false, false, false, false, idle },
    };
    for (const Case& c : cases)
        EXPECT_EQ(RecordingWidgetLayout::stateFor(c.showSaved, c.isRecording, c.hasDetection, c.hasNotice), c.expected)
            << "saved=" << c.showSaved << " recording=" << c.isRecording << " detection=" << c.hasDetection
            << " notice=" << c.hasNotice;
}

TEST(RecordingWidgetLayout, BarsRiseWithTheLevelTimesTheirMultiplierAboveATwelvePercentFloor)
{
    // Bars from 4 to 22 points high: 18 points of travel.
    const QList<qreal> multipliers { 0.5, 1.0, 0.25 };
    struct Case {
        qreal level;
        QList<qreal> expected;
    };
    const Case cases[] = {
        { -1.0, { 5.08, 6.16, 4.54 } },
        { 0.0, { 5.08, 6.16, 4.54 } },
        { 0.05, { 5.08, 6.16, 4.54 } },
        { 0.5, { 8.5, 13, 6.25 } },
        { 1.0, { 13, 22, 8.5 } },
    };
    for (const Case& c : cases) {
        const QList<qreal> heights = RecordingWidgetLayout::barHeights(c.level, multipliers, 3, 4, 22);
        ASSERT_EQ(heights.size(), 3);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(heights[i], c.expected[i], 1e-9) << "level " << c.level << " bar " << i;
    }
    // Fewer bars than multipliers take the first ones; more are never drawn.
    EXPECT_EQ(RecordingWidgetLayout::barHeights(1.0, multipliers, 2, 4, 22).size(), 2);
    EXPECT_EQ(RecordingWidgetLayout::barHeights(1.0, multipliers, 9, 4, 22).size(), 3);
    EXPECT_TRUE(RecordingWidgetLayout::barHeights(1.0, {}, 7, 4, 22).isEmpty());
}

TEST(RecordingWidgetLayout, PanelSitsAtTheTopRightOfTheFreeAreaOfItsScreen)
{
    // A panel bar at the top and a second screen to the left; the panel is 380 wide, 32 points in.
    EXPECT_EQ(RecordingWidgetLayout::panelPosition(QRect(-1920, 28, 1920, 1052)), QPoint(-380 - 32, 28 + 32));
}
