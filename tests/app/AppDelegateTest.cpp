#include "AppDelegate.h"
#include "MeetingDetector.h"
#include "TestWindows.h"

#include <gtest/gtest.h>

TEST(AppDelegate, DetectorWatchesTheForegroundFromLaunchUntilQuit)
{
    TestWindows windows;
    ASSERT_TRUE(windows.isConnected());
    ASSERT_TRUE(windows.activate(windows.create({ "zoom", QByteArray("Zoom Meeting"), std::nullopt, true })));

    AppDelegate delegate;
    MeetingDetector *detector = delegate.meetingDetector();
    ASSERT_TRUE(detector);
    EXPECT_FALSE(detector->isMonitoring());
    EXPECT_EQ(detector->currentDetection(), std::nullopt) << "nothing is looked at before launching has finished";

    delegate.applicationDidFinishLaunching();
    EXPECT_TRUE(detector->isMonitoring());
    ASSERT_TRUE(detector->currentDetection());
    EXPECT_EQ(detector->currentDetection()->displayName, QStringLiteral("Zoom Meeting"));
    EXPECT_EQ(detector->currentDetection()->reason, QStringLiteral("Zoom app detected"));

    delegate.applicationWillTerminate();
    EXPECT_FALSE(detector->isMonitoring());
}
