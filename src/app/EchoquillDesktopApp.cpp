#include "EchoquillDesktopApp.h"

#include "AppDelegate.h"
#include "AuthService.h"

#include <QApplication>
#include <QQmlApplicationEngine>
#include <QTimer>

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
    if (engine.rootObjects().isEmpty())
        return 1;

    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, &AppDelegate::applicationWillTerminate);
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    return app.exec();
}
