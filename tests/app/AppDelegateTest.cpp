#include "AppDelegate.h"
#include "MeetingDetector.h"
#include "TestWindows.h"

#include <QQmlComponent>
#include <QQmlEngine>

#include <gtest/gtest.h>

#include <memory>

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

    // The interface reads the same detector as a shared singleton.
    QQmlEngine engine;
    delegate.exposeTo(engine);
    QQmlComponent component(&engine);
    component.setData(R"(
        import QtQuick
        import Echoquill.Shared
        Item {
            property string offered: MeetingDetector.currentDetection ? MeetingDetector.currentDetection.displayName : "nothing"
        })",
                      QUrl());
    std::unique_ptr<QObject> view(component.create());
    ASSERT_TRUE(view) << component.errorString().toStdString();
    EXPECT_EQ(view->property("offered").toString(), QStringLiteral("nothing"));

    delegate.applicationDidFinishLaunching();
    EXPECT_TRUE(detector->isMonitoring());
    ASSERT_TRUE(detector->currentDetection());
    EXPECT_EQ(detector->currentDetection()->reason, QStringLiteral("Zoom app detected"));
    EXPECT_EQ(view->property("offered").toString(), QStringLiteral("Zoom Meeting"));

    delegate.applicationWillTerminate();
    EXPECT_FALSE(detector->isMonitoring());
}
