#include "DesktopShell.h"
#include "AppDelegate.h"
#include "AudioRecorder.h"
#include "AuthStore.h"
#include "Await.h"
#include "DevServerProcess.h"
#include "Endpoints.h"
#include "KeychainService.h"
#include "Log.h"
#include "MeetingDetector.h"
#include "MeetingStore.h"
#include "NotificationServer.h"
#include "RecordingLibrary.h"
#include "RecordingPanelController.h"
#include "SleepInhibitor.h"
#include "TestFiles.h"
#include "TestWindows.h"
#include "TrayIcon.h"

#include <QAbstractButton>
#include <QDir>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

Q_IMPORT_QML_PLUGIN(Echoquill_UiPlugin)
Q_IMPORT_QML_PLUGIN(Echoquill_WidgetPlugin)

using namespace Qt::StringLiterals;

// First: the other test keeps the notification server's name on a connection of its own.
TEST(DesktopShell, MeetingOfferedThroughDunstUnlessPaused)
{
    // Its context menu chooses "Record" on the offer, as the user would.
    QTemporaryDir dir;
    QFile config(dir.filePath(u"dunstrc"_s));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("[global]\ndmenu = grep -m1 -F \"#Record (Zoom meeting detected)\"\n"), config.close();
    QProcess dunst;
    dunst.start(u"dunst"_s, { u"-config"_s, config.fileName() });
    const auto stopDunst = qScopeGuard([&] { dunst.kill(), dunst.waitForFinished(); });
    const auto dunstctl = [](const QStringList& arguments) {
        QProcess ctl;
        ctl.start(u"dunstctl"_s, arguments), ctl.waitForFinished();
        return QString::fromUtf8(ctl.readAllStandardOutput()).trimmed();
    };
    ASSERT_TRUE(waitUntil([&] { return dunstctl({ u"is-paused"_s }) == u"false"_s; }));
    const auto displayed = [&](const QString& count) {
        return waitUntil([&] { return dunstctl({ u"count"_s, u"displayed"_s }) == count; });
    };
    AppDelegate delegate;
    delegate.finishLaunching();
    QWindow window;
    DesktopShell shell(delegate, window);
    ASSERT_TRUE(DesktopShell::widgetMayGoUnseen()) << "the test desktop shows no status icon";
    const auto cleanUp = qScopeGuard([&] { QDir(delegate.recordingLibrary()->folder()).removeRecursively(); });
    AudioRecorder& recorder = *delegate.audioRecorder();
    TestWindows windows;
    const auto meeting = [&](const QByteArray& title) {
        ASSERT_TRUE(windows.activate(windows.create({ "zoom", title, std::nullopt, true })));
        delegate.meetingDetector()->poll();
    };
    meeting("Zoom Meeting");
    ASSERT_TRUE(displayed(u"1"_s));
    dunstctl({ u"context"_s });
    ASSERT_TRUE(waitUntil([&] { return recorder.isRecording(); }, 20000));
    delegate.recordingLibrary()->stopRecording();
    ASSERT_TRUE(waitUntil([&] { return !recorder.isRecording() && !recorder.isStoppingRecording(); }, 20000));

    // Another meeting is offered; gone, its offer goes. Paused, the next one is not offered.
    meeting("Zoom Webinar");
    ASSERT_TRUE(displayed(u"1"_s));
    windows.destroyAll(), delegate.meetingDetector()->poll();
    ASSERT_TRUE(displayed(u"0"_s));
    dunstctl({ u"set-paused"_s, u"true"_s });
    Log::Capture log;
    meeting("Zoom Call");
    ASSERT_TRUE(waitUntil([&] { return log.containsPrefix(u"[Notifications] held back"_s); }));
    EXPECT_EQ(dunstctl({ u"count"_s, u"waiting"_s }) + dunstctl({ u"count"_s, u"displayed"_s }), u"00"_s);
}

TEST(DesktopShell, TrayMenuNotificationsAndTheQuitQuestion)
{
    AppDelegate delegate;
    delegate.finishLaunching();
    QWindow window;
    DesktopShell shell(delegate, window);
    TrayIcon& tray = *shell.trayIcon();
    const auto trigger = [&](const QString& text) {
        for (QAction* action : tray.menu()->actions())
            if (action->text() == text)
                return action->trigger(), true;
        return false;
    };
    ASSERT_TRUE(trigger(u"Open Echoquill"_s));
    EXPECT_TRUE(window.isVisible());
    delegate.recordingPanelController()->dismiss();
    ASSERT_TRUE(trigger(u"Show recording widget"_s));
    EXPECT_FALSE(delegate.recordingPanelController()->isManuallyDismissed());
    AudioRecorder& recorder = *delegate.audioRecorder();
    // While it records, the computer stays awake: the test bus has the desktop portal, not logind.
    QProcess monitor;
    monitor.start(u"dbus-monitor"_s,
        { u"--session"_s, u"interface='org.freedesktop.portal.Inhibit'"_s,
            u"interface='org.freedesktop.portal.Request'"_s });
    const auto stopMonitor = qScopeGuard([&] { monitor.kill(), monitor.waitForFinished(); });
    QString bus;
    const auto seen = [&](const QString& text) { return (bus += monitor.readAllStandardOutput()).contains(text); };
    ASSERT_TRUE(waitUntil([&] { return seen(u"member=NameAcquired"_s); }));
    ASSERT_TRUE(trigger(u"Start recording"_s));
    ASSERT_TRUE(waitUntil([&] { return recorder.isRecording(); }, 20000));
    EXPECT_EQ(tray.look(), TrayIcon::Look::Recording);
    ASSERT_TRUE(waitUntil([&] { return shell.sleepInhibitor()->road() == SleepInhibitor::Road::portal; }));
    EXPECT_TRUE(waitUntil([&] { return seen(u"member=Inhibit"_s); }) && !bus.contains(u"member=Close"_s));
    ASSERT_TRUE(trigger(u"Stop recording"_s));
    ASSERT_TRUE(waitUntil([&] { return !recorder.isRecording() && !recorder.isStoppingRecording(); }, 20000));
    EXPECT_EQ(tray.look(), TrayIcon::Look::Idle);
    EXPECT_TRUE(waitUntil([&] { return seen(u"member=Close"_s); })) << "let go at the stop";

    // Signed in, with a recording whose upload failed.
    DevServerProcess service;
    Endpoints::setServiceOrigin(service.origin());
    KeychainService::saveToken(service.signIn());
    const auto signOut = qScopeGuard([] { KeychainService::deleteToken(); });
    await(delegate.authStore()->loadUser());
    RecordingLibrary& library = *delegate.recordingLibrary();
    const QString folder = QDir(library.folder()).filePath(u"Session_x"_s);
    const auto cleanUp = qScopeGuard([&] { QDir(library.folder()).removeRecursively(); });
    QDir().mkpath(folder);
    ASSERT_FALSE(writeBytes(QDir(folder).filePath(u"upload_track.m4a"_s), 1000).isEmpty());
    SessionJournal journal(folder);
    journal.setOwner(SessionJournal::Owner { delegate.authStore()->currentUser()->id, {} });
    journal.setExported({ u"upload_track.m4a"_s, {}, {}, {} }, std::nullopt);
    journal.setFailed({ u"No connection"_s, 3, std::nullopt });
    journal.save();
    await(library.scan());
    ASSERT_TRUE(library.card(folder));

    // Without a server nothing is sent; with one, a ready note opens and a failed upload is retried from it. A title
    // goes escaped to a server that reads markup; an action forged by another peer does nothing.
    MeetingStore& store = *delegate.meetingStore();
    Log::Capture log;
    emit library.noteReady(7, u"Weekly sync"_s);
    ASSERT_TRUE(waitUntil([&] { return log.containsPrefix(u"[Notifications] no notification server"_s); }));
    NotificationServer server;
    ASSERT_TRUE(server.start());
    emit library.noteReady(42, u"<b>Q&A</b>"_s);
    service.control("POST", "/__dev/latency", { { u"ms"_s, 10000 }, { u"path"_s, u"/api/desktop/*"_s } });
    emit library.uploadFailed(folder, u"No connection"_s);
    ASSERT_TRUE(waitUntil([&] { return server.shown.size() == 2; }));
    EXPECT_EQ(server.shown,
        QList<QStringList>({ { u"Your notes are ready"_s, u"&lt;b&gt;Q&amp;A&lt;/b&gt;"_s, u"default"_s, u"Open"_s },
            { u"Upload failed"_s, u"No connection"_s, u"retry"_s, u"Retry"_s } }));
    window.hide();
    // The forged signal reaches the bus first: the round trip after it is answered only once it was passed on.
    const QDBusConnection forger = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"forger"_s);
    NotificationServer::invoke(forger, 1, u"default"_s);
    forger.call(QDBusMessage::createMethodCall(
        u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s, u"org.freedesktop.DBus.Peer"_s, u"Ping"_s));
    NotificationServer::invoke(server.bus, 2, u"retry"_s);
    EXPECT_TRUE(waitUntil([&] { return library.card(folder)->status.stage() == UploadStatus::Uploading; }));
    EXPECT_FALSE(window.isVisible() || store.navigateToMeetingId()) << "the forged action was taken";
    NotificationServer::invoke(server.bus, 1, u"default"_s);
    EXPECT_TRUE(waitUntil([&] { return window.isVisible() && store.navigateToMeetingId() == 42; }));
    EXPECT_EQ(tray.look(), TrayIcon::Look::Uploading);

    // An upload runs: Ctrl+Q asks, Cancel keeps the client; the tray's Quit ends it without asking.
    QKeyEvent ctrlQ(QEvent::KeyPress, Qt::Key_Q, Qt::ControlModifier);
    QCoreApplication::sendEvent(&window, &ctrlQ);
    ASSERT_TRUE(shell.quitQuestion());
    EXPECT_EQ(shell.quitQuestion()->text(), u"An upload is running. Stop it and quit?"_s);
    shell.quitQuestion()->button(QMessageBox::Cancel)->click();
    QTimer::singleShot(0, [&] { trigger(u"Quit"_s); });
    QTimer::singleShot(10000, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
}
