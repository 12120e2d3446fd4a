#include "DisplayPlatform.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <cstdio>
#include <string_view>

int main(int argc, char** argv)
{
    // The tests go through the platform the client would choose in their session.
    DisplayPlatform::choose();
    QApplication app(argc, argv);
    // `--window TITLE`: another application's window, filling the screen, for the tests to put in front.
    if (argc == 3 && argv[1] == std::string_view("--window")) {
        QLabel window(QString::fromUtf8(argv[2]));
        window.setWindowTitle(window.text());
        window.setStyleSheet(QStringLiteral("background: #1b5e20; color: white"));
        window.showMaximized();
        // One line once the window is on the screen.
        QTimer shown;
        QObject::connect(&shown, &QTimer::timeout, [&] {
            if (!window.windowHandle()->isExposed())
                return;
            std::puts("shown");
            std::fflush(stdout);
            shown.stop();
        });
        shown.start(50);
        return QApplication::exec();
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
