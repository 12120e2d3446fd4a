#include "AppDelegate.h"
#include "AuthStore.h"
#include "Await.h"
#include "KeychainService.h"
#include "MeetingDetector.h"
#include "RecordingPanel.h"
#include "RecordingPanelController.h"

#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

Q_IMPORT_QML_PLUGIN(Echoquill_UiPlugin)
Q_IMPORT_QML_PLUGIN(Echoquill_WidgetPlugin)

// Signed in, the e2e road meets the widget; here it is there without anyone signed in.
TEST(AppDelegate, TheWidgetAndTheDetectorStartWhenLaunchingHasFinishedEvenSignedOut)
{
    KeychainService::deleteToken();
    AppDelegate delegate;
    EXPECT_FALSE(delegate.recordingPanelController() || delegate.meetingDetector()->isMonitoring())
        << "no widget and no detection before launching has finished";

    delegate.applicationDidFinishLaunching();
    RecordingPanelController* controller = delegate.recordingPanelController();
    ASSERT_TRUE(controller && controller->panel() && controller->panel()->rootObject());
    EXPECT_TRUE(delegate.meetingDetector()->isMonitoring());
    EXPECT_TRUE(waitUntil([&] { return controller->panel()->isExposed(); }));
    EXPECT_EQ(controller->stateName(), QStringLiteral("idle"));
    EXPECT_FALSE(controller->isManuallyDismissed() || delegate.authStore()->currentUser());

    delegate.applicationWillTerminate();
    EXPECT_TRUE(controller->panel()->isVisible()) << "quitting only stops the detector";
    EXPECT_FALSE(delegate.meetingDetector()->isMonitoring());
}
