#include "AppDelegate.h"
#include "APIClient.h"
#include "AuthStore.h"
#include "Await.h"
#include "DevServerProcess.h"
#include "Endpoints.h"
#include "KeychainService.h"
#include "MeetingDetector.h"
#include "RecordingPanel.h"
#include "RecordingPanelController.h"
#include "TestWindows.h"

#include <QGuiApplication>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

Q_IMPORT_QML_PLUGIN(Echoquill_UiPlugin)
Q_IMPORT_QML_PLUGIN(Echoquill_WidgetPlugin)

TEST(AppDelegate, TheWidgetIsOnScreenAndTheDetectorWatchesFromLaunchWhetherOrNotSomeoneIsSignedIn)
{
    TestWindows windows;
    ASSERT_TRUE(windows.isConnected());
    const quint32 notes = windows.create({ "Gedit", QByteArray("Notes"), std::nullopt, true });
    ASSERT_TRUE(windows.activate(notes));
    DevServerProcess server;
    ASSERT_TRUE(server.isRunning());
    Endpoints::setServiceOrigin(server.origin());

    for (const bool signedIn : { false, true }) {
        SCOPED_TRACE(signedIn ? "signed in" : "signed out");
        if (signedIn)
            KeychainService::saveToken(server.signIn());
        else
            KeychainService::deleteToken();

        AppDelegate delegate;
        EXPECT_FALSE(delegate.recordingPanelController() || delegate.meetingDetector()->isMonitoring())
            << "no widget and no detection before launching has finished";
        if (signedIn) {
            ASSERT_TRUE(waitUntil([&] { return delegate.authStore()->currentUser().has_value(); }));
        }

        delegate.applicationDidFinishLaunching();
        RecordingPanelController* controller = delegate.recordingPanelController();
        ASSERT_TRUE(controller);
        EXPECT_TRUE(delegate.meetingDetector()->isMonitoring());
        EXPECT_FALSE(controller->isManuallyDismissed());

        RecordingPanel* panel = controller->panel();
        ASSERT_TRUE(panel && panel->rootObject());
        ASSERT_TRUE(waitUntil([&] { return panel->isExposed(); }));
        ASSERT_TRUE(waitUntil([&] { return windows.geometry(quint32(panel->winId())) == QRect(868, 32, 380, 68); }));
        EXPECT_EQ(controller->stateName(), QStringLiteral("idle"));
        EXPECT_EQ(delegate.authStore()->currentUser().has_value(), signedIn);
        EXPECT_EQ(windows.activeWindow(), notes) << "the widget takes no focus at launch";
        EXPECT_NE(QGuiApplication::focusWindow(), panel);

        delegate.applicationWillTerminate();
        EXPECT_TRUE(panel->isVisible()) << "quitting only stops the detector";
        EXPECT_FALSE(delegate.meetingDetector()->isMonitoring());
    }
    KeychainService::deleteToken();
    APIClient::shared().network().clearConnectionCache();
}
