#include "EchoquillDesktopApp.h"

#include "AppDelegate.h"
#include "DesktopShell.h"
#include "DisplayPlatform.h"
#include "Log.h"
#include "QuitSignals.h"
#include "SingleInstance.h"

#include <QApplication>
#include <QFile>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTimer>
#include <QWindow>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <memory>

namespace {

// For scripts/bench only, and only when ECHOQUILL_REPORT_FIRST_FRAME is set:
// one line with the monotonic clock at the main window's first frame, so that
// start-up can be timed from outside the process.
void reportFirstFrame(QQmlApplicationEngine& engine)
{
    auto* window = qobject_cast<QQuickWindow*>(engine.rootObjects().value(0));
    if (!window)
        return;
    auto reported = std::make_shared<std::atomic_bool>(false);
    // frameSwapped comes from the render thread; a direct connection keeps the time exact.
    QObject::connect(
        window, &QQuickWindow::frameSwapped, window,
        [reported] {
            if (reported->exchange(true))
                return;
            timespec now {};
            clock_gettime(CLOCK_MONOTONIC, &now);
            Log::line(QStringLiteral("[EchoquillDesktopApp] first frame at monotonic %1 ns")
                          .arg(qint64(now.tv_sec) * 1000000000 + now.tv_nsec));
        },
        Qt::DirectConnection);
}

}

int EchoquillDesktopApp::run(int argc, char** argv)
{
    DisplayPlatform::choose();
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Echoquill"));
    app.setOrganizationName(QStringLiteral("Echoquill"));
    // Ties the windows to the menu entry: the Wayland app id, and on X11 the window class is the
    // application name above, which the entry's StartupWMClass names.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.echoquill.Desktop"));

    // A client already runs in this session: it gets the arguments and raises its window.
    SingleInstance instance;
    if (instance.claim() == SingleInstance::Claim::Running)
        return SingleInstance::handOver(app.arguments().mid(1)) ? 0 : 1;
    // Without a bus to ask, the lock file alone tells: two clients would resume the same sessions twice.
    if (!instance.lock()) {
        std::fprintf(stderr, "Echoquill is already running (another instance holds %s).\n",
            QFile::encodeName(instance.lockPath()).constData());
        return 1;
    }

    QuitSignals quitSignals;
    AppDelegate delegate;
    QQmlApplicationEngine engine;
    delegate.exposeTo(engine);
    // At login the client starts in the background, with the widget and the status icon only.
    const bool background = app.arguments().contains(QStringLiteral("--background"));
    engine.setInitialProperties({ { QStringLiteral("visible"), !background } });
    engine.load(QUrl(QStringLiteral("qrc:/Echoquill/App/Main.qml")));
    auto* window = qobject_cast<QWindow*>(engine.rootObjects().value(0));
    if (!window)
        return 1;
    if (qEnvironmentVariableIsSet("ECHOQUILL_REPORT_FIRST_FRAME"))
        reportFirstFrame(engine);
    DesktopShell shell(delegate, *window);
    QObject::connect(&instance, &SingleInstance::activated, &shell, &DesktopShell::activate);

    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, &AppDelegate::prepareToQuit);
    QTimer::singleShot(0, &delegate, &AppDelegate::finishLaunching);
    return app.exec();
}
