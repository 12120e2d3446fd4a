#include "AppDelegate.h"
#include "AuthStore.h"
#include "Await.h"
#include "KeychainService.h"
#include "MeetingDetector.h"
#include "QuitSignals.h"
#include "RecordingPanel.h"
#include "RecordingPanelController.h"

#include <QDir>
#include <QSet>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

#include <memory>

Q_IMPORT_QML_PLUGIN(Echoquill_UiPlugin)
Q_IMPORT_QML_PLUGIN(Echoquill_WidgetPlugin)

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

// Signed in, the e2e road meets the widget; here it is there without anyone signed in.
TEST(AppDelegate, WidgetAndDetectorComeAtLaunchEvenSignedOutAndTheWidgetGoesFirst)
{
    KeychainService::deleteToken();
    auto owned = std::make_unique<AppDelegate>();
    AppDelegate& delegate = *owned;
    EXPECT_FALSE(delegate.recordingPanelController() || delegate.meetingDetector()->isMonitoring())
        << "no widget and no detection before launching has finished";

    delegate.finishLaunching();
    RecordingPanelController* controller = delegate.recordingPanelController();
    ASSERT_TRUE(controller && controller->panel() && controller->panel()->rootObject());
    EXPECT_TRUE(delegate.meetingDetector()->isMonitoring());
    EXPECT_TRUE(waitUntil([&] { return controller->panel()->isExposed(); }));
    EXPECT_EQ(controller->stateName(), QStringLiteral("idle"));
    EXPECT_FALSE(controller->isManuallyDismissed() || delegate.authStore()->currentUser());

    delegate.prepareToQuit();
    EXPECT_TRUE(controller->panel()->isVisible()) << "quitting only stops the detector";
    EXPECT_FALSE(delegate.meetingDetector()->isMonitoring());

    scriptErrors().clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectScriptErrors);
    owned.reset();
    qInstallMessageHandler(previous);
    EXPECT_TRUE(scriptErrors().isEmpty()) << "the widget read stores already gone:\n"
                                          << scriptErrors().join(QLatin1Char('\n')).toStdString();
}

TEST(QuitSignals, TheirSocketPairIsClosedWithThem)
{
    const auto open = [] {
        QSet<QString> targets;
        for (const QFileInfo& fd :
            QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
            targets << fd.symLinkTarget();
        return targets;
    };
    const QSet<QString> before = open();
    auto quitSignals = std::make_unique<QuitSignals>();
    const QSet<QString> pair = open() - before;
    quitSignals.reset();
    EXPECT_EQ(std::pair(pair.size(), open().intersects(pair)), std::pair(qsizetype(2), false));
}
