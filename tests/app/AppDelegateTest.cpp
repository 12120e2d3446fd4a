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
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

#include <memory>

Q_IMPORT_QML_PLUGIN(Echoquill_UiPlugin)
Q_IMPORT_QML_PLUGIN(Echoquill_WidgetPlugin)

TEST(AppDelegate, DetectorWatchesTheForegroundFromLaunchUntilQuit)
{
    TestWindows windows;
    ASSERT_TRUE(windows.isConnected());
    ASSERT_TRUE(windows.activate(windows.create({ "zoom", QByteArray("Zoom Meeting"), std::nullopt, true })));

    AppDelegate delegate;
    MeetingDetector* detector = delegate.meetingDetector();
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

TEST(AppDelegate, TheWidgetIsOnScreenFromLaunchWhetherOrNotSomeoneIsSignedIn)
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
        EXPECT_FALSE(delegate.recordingPanelController()) << "no widget before launching has finished";
        if (signedIn) {
            ASSERT_TRUE(waitUntil([&] { return delegate.authStore()->currentUser().has_value(); }));
        }

        delegate.applicationDidFinishLaunching();
        RecordingPanelController* controller = delegate.recordingPanelController();
        ASSERT_TRUE(controller);
        EXPECT_EQ(controller->recorder(), delegate.audioRecorder());
        EXPECT_EQ(controller->meetingStore(), delegate.meetingStore());
        EXPECT_EQ(controller->detector(), delegate.meetingDetector());
        EXPECT_EQ(controller->authStore(), delegate.authStore());
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
    }
    KeychainService::deleteToken();
    APIClient::shared().network().clearConnectionCache();
}

namespace {

QStringList& scriptErrors()
{
    static QStringList errors;
    return errors;
}

void collectScriptErrors(QtMsgType, const QMessageLogContext&, const QString& message)
{
    if (message.contains(QStringLiteral("TypeError")) || message.contains(QStringLiteral("ReferenceError")))
        scriptErrors().append(message);
}

}

TEST(AppDelegate, StoresAreBuiltInTheirFixedOrderAndTheWidgetGoesBeforeThem)
{
    auto delegate = std::make_unique<AppDelegate>();
    QStringList built;
    for (const QObject* child : delegate->children())
        built << QString::fromLatin1(child->metaObject()->className());
    EXPECT_EQ(built,
        QStringList({ "AuthStore", "AudioRecorder", "MeetingStore", "ActionStore", "CalendarStore", "RecallStore",
            "MeetingDetector" }));

    delegate->applicationDidFinishLaunching();
    RecordingPanelController* controller = delegate->recordingPanelController();
    ASSERT_TRUE(controller && controller->panel() && controller->panel()->rootObject());

    scriptErrors().clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectScriptErrors);
    delegate.reset();
    qInstallMessageHandler(previous);
    EXPECT_TRUE(scriptErrors().isEmpty()) << "the widget read stores already gone:\n"
                                          << scriptErrors().join(QLatin1Char('\n')).toStdString();
}
