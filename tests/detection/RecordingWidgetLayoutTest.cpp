#include "RecordingWidgetLayout.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace Qt::StringLiterals;

TEST(RecordingWidgetLayout, SavedBeatsRecordingBeatsDetectedBeatsIdle)
{
    struct Case {
        bool showSaved, isRecording, hasDetection;
        RecordingWidgetState expected;
        qreal width;
    };
    const Case cases[] = {
        {true, true, true, RecordingWidgetState::saved, 165},
        {true, false, false, RecordingWidgetState::saved, 165},
        {true, false, true, RecordingWidgetState::saved, 165},
        {false, true, true, RecordingWidgetState::recording, 300},
        {false, true, false, RecordingWidgetState::recording, 300},
        {false, false, true, RecordingWidgetState::detected, 368},
        {false, false, false, RecordingWidgetState::idle, 165},
    };
    for (const Case &c : cases) {
        const RecordingWidgetState state = RecordingWidgetLayout::stateFor(c.showSaved, c.isRecording, c.hasDetection);
        const std::string label = "saved=" + std::to_string(c.showSaved) + " recording=" + std::to_string(c.isRecording)
            + " detection=" + std::to_string(c.hasDetection);
        EXPECT_EQ(state, c.expected) << label;
        EXPECT_EQ(RecordingWidgetLayout::capsuleWidth(state), c.width) << label;
    }
    EXPECT_EQ(RecordingWidgetLayout::name(RecordingWidgetState::detected), u"detected"_s);
}

TEST(RecordingWidgetLayout, SilenceStillShowsTwelvePercentOfEachBar)
{
    const QList<qreal> multipliers = RecordingWidgetLayout::recordingMultipliers();
    ASSERT_EQ(multipliers, (QList<qreal> {0.55, 0.85, 1.0, 0.7, 1.0, 0.8, 0.45}));

    for (const qreal level : {0.0, 0.05, 0.12, -1.0}) {
        const QList<qreal> heights = RecordingWidgetLayout::barHeights(level, multipliers, 7, 4, 22);
        ASSERT_EQ(heights.size(), 7);
        for (int i = 0; i < 7; ++i)
            EXPECT_DOUBLE_EQ(heights[i], 4 + 18 * 0.12 * multipliers[i]) << "level " << level << " bar " << i;
    }
    const QList<qreal> silent = RecordingWidgetLayout::barHeights(0, multipliers, 7, 4, 22);
    EXPECT_NEAR(*std::min_element(silent.begin(), silent.end()), 4.97, 0.01);
    EXPECT_NEAR(*std::max_element(silent.begin(), silent.end()), 6.16, 0.01);
}

TEST(RecordingWidgetLayout, BarsFollowTheLevelTimesTheirMultiplierAboveTheFloor)
{
    const QList<qreal> multipliers = RecordingWidgetLayout::recordingMultipliers();
    const QList<qreal> half = RecordingWidgetLayout::barHeights(0.5, multipliers, 7, 4, 22);
    const QList<qreal> full = RecordingWidgetLayout::barHeights(1.0, multipliers, 7, 4, 22);
    for (int i = 0; i < 7; ++i) {
        EXPECT_DOUBLE_EQ(half[i], 4 + 9 * multipliers[i]);
        EXPECT_DOUBLE_EQ(full[i], 4 + 18 * multipliers[i]);
    }
    EXPECT_DOUBLE_EQ(full[2], 22) << "the tallest bar reaches the full height";

    // Fewer bars than multipliers take the first ones; more are never drawn.
    EXPECT_EQ(RecordingWidgetLayout::barHeights(1.0, multipliers, 3, 4, 22), full.mid(0, 3));
    EXPECT_EQ(RecordingWidgetLayout::barHeights(1.0, multipliers, 9, 4, 22).size(), 7);
    EXPECT_TRUE(RecordingWidgetLayout::barHeights(1.0, {}, 7, 4, 22).isEmpty());
}

TEST(RecordingWidgetLayout, PanelSitsThirtyTwoPointsFromTheTopRightOfTheFreeArea)
{
    EXPECT_EQ(RecordingWidgetLayout::panelPosition(QRect(0, 0, 1280, 800)), QPoint(868, 32));
    // A panel bar at the top and a second screen to the left.
    EXPECT_EQ(RecordingWidgetLayout::panelPosition(QRect(-1920, 28, 1920, 1052)), QPoint(-1920 + 1920 - 412, 60));
}

TEST(RecordingWidgetLayout, CapsuleSpringSettlesWithABarelyVisibleOvershoot)
{
    EXPECT_EQ(RecordingWidgetLayout::springProgress(0), 0);
    EXPECT_EQ(RecordingWidgetLayout::springProgress(1), 1);
    qreal peak = 0;
    qreal previous = 0;
    bool risesUntilTheTarget = true;
    for (int i = 1; i < 100; ++i) {
        const qreal p = RecordingWidgetLayout::springProgress(i / 100.0);
        if (peak < 1 && p < previous)
            risesUntilTheTarget = false;
        peak = std::max(peak, p);
        previous = p;
    }
    EXPECT_TRUE(risesUntilTheTarget) << "no dip on the way";
    EXPECT_GT(peak, 1.0) << "a damping fraction of 0.85 overshoots a little";
    EXPECT_LT(peak, 1.01);
    // After one response time (0.28 s of 0.5 s) the width is almost there.
    EXPECT_GT(RecordingWidgetLayout::springProgress(0.56), 0.95);
    EXPECT_NEAR(RecordingWidgetLayout::springProgress(0.99), 1.0, 0.001);
    EXPECT_DOUBLE_EQ(RecordingWidgetLayout::capsuleSpring().valueForProgress(0.56),
                     RecordingWidgetLayout::springProgress(0.56));
}
