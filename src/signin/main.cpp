#include "SignInWindow.h"

#include <QApplication>
#include <QSocketNotifier>

#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

// Chromium inside the web engine frees some objects with a sized delete of
// another size; that is its own affair, everything else stays checked.
extern "C" const char* __asan_default_options()
{
    return "new_delete_type_mismatch=0";
}

// echoquill-signin <sign-in address> <callback scheme> [<client window> <centre x> <centre y>]
int main(int argc, char** argv)
{
    if (argc != 3 && argc != 6) {
        std::fputs("usage: echoquill-signin <sign-in address> <callback scheme> [<window> <x> <y>]\n", stderr);
        return 2;
    }
    const QByteArray scheme = argv[2];
    // The browser engine wants both before the application object.
    SignInWindow::registerCallbackScheme(scheme);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);

    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("com.echoquill.Desktop"));
    SignInWindow window(QUrl::fromEncoded(argv[1], QUrl::StrictMode), scheme);
    QObject::connect(&window, &SignInWindow::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);

    // The client holds a pipe on our standard input while it waits; when it goes, nobody is left to answer.
    struct stat input { };
    QSocketNotifier clientGone(0, QSocketNotifier::Read);
    clientGone.setEnabled(::fstat(0, &input) == 0 && S_ISFIFO(input.st_mode));
    QObject::connect(&clientGone, &QSocketNotifier::activated, &app, [&] {
        char byte = 0;
        if (::read(0, &byte, 1) <= 0)
            app.quit();
    });

    const bool placed = argc == 6;
    window.start(placed ? QByteArray(argv[3]).toULongLong() : 0,
        placed ? QPoint(QByteArray(argv[4]).toInt(), QByteArray(argv[5]).toInt()) : QPoint());
    return app.exec();
}
