#include "EchoquillDesktopApp.h"

#include "AppDelegate.h"
#include "AuthService.h"

#include <QApplication>
#include <QQmlApplicationEngine>
#include <QTimer>
#include <QWindow>

int EchoquillDesktopApp::run(int argc, char **argv)
{
    // The browser engine of the Google sign-in wants both before the application object.
    AuthService::registerCallbackScheme();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);

    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Echoquill"));
    app.setOrganizationName(QStringLiteral("Echoquill"));

    AppDelegate delegate;
    QQmlApplicationEngine engine;
    delegate.exposeTo(engine);
    engine.load(QUrl(QStringLiteral("qrc:/Echoquill/App/Main.qml")));
    auto *window = qobject_cast<QWindow *>(engine.rootObjects().value(0));
    if (!window)
        return 1;
    // The widget's panel is a window as well: closing the main window still ends the application.
    QObject::connect(window, &QWindow::visibleChanged, &app, [](bool visible) {
        if (!visible)
            QCoreApplication::quit();
    });

    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, &AppDelegate::applicationWillTerminate);
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    return app.exec();
}
