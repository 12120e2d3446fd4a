#include "ChildProcess.h"

#include "Await.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <functional>

namespace {

constexpr auto childMarker = "ECHOQUILL_TEST_CHILD";

}

namespace ChildProcess {

bool isChild()
{
    return qEnvironmentVariableIsSet(childMarker);
}

Result rerunCurrentTest(const QProcessEnvironment& changes, const QStringList& wrapper)
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(childMarker, QStringLiteral("1"));
    for (const QString& key : changes.keys())
        env.insert(key, changes.value(key));

    QStringList command = wrapper;
    command << QCoreApplication::applicationFilePath()
            << QStringLiteral("--gtest_filter=%1.%2")
                   .arg(QString::fromUtf8(info->test_suite_name()), QString::fromUtf8(info->name()));
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(command.takeFirst(), command);
    if (!child.waitForFinished(60000)) {
        child.kill();
        child.waitForFinished();
    }
    return { child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1, QString::fromUtf8(child.readAll()) };
}

Result rerunInWaylandSession(QProcessEnvironment changes)
{
    const QString socket = QStringLiteral("eq-wayland-%1").arg(QCoreApplication::applicationPid());
    QProcess weston;
    weston.start(QStringLiteral("weston"),
        { QStringLiteral("--backend=headless-backend.so"), QStringLiteral("--socket=") + socket,
            QStringLiteral("--idle-time=0") });
    const QString path = qEnvironmentVariable("XDG_RUNTIME_DIR") + u'/' + socket;
    if (!waitUntil([&] { return QFile::exists(path); }))
        return { -1, QStringLiteral("weston did not start") };
    changes.insert(QStringLiteral("WAYLAND_DISPLAY"), socket);
    changes.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    changes.insert(QStringLiteral("DISPLAY"), QString());
    // The headless compositor has no seat, and Qt's Wayland text input would read one: the compose input instead.
    changes.insert(QStringLiteral("QT_IM_MODULE"), QStringLiteral("compose"));
    Result result = rerunCurrentTest(changes);
    weston.terminate();
    weston.waitForFinished();
    return result;
}

Result rerunInGnomeSession(QProcessEnvironment changes)
{
    const QString socket = QStringLiteral("eq-mutter-%1").arg(QCoreApplication::applicationPid());
    QProcess mutter;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Without animations, a screenshot shows the windows where they end up.
    env.insert(QStringLiteral("MUTTER_DEBUG_DISABLE_ANIMATIONS"), QStringLiteral("1"));
    // A screen the size of the test display.
    env.insert(QStringLiteral("MUTTER_DEBUG_DUMMY_MODE_SPECS"), QStringLiteral("1280x800"));
    mutter.setProcessEnvironment(env);
    mutter.setProcessChannelMode(QProcess::MergedChannels);
    // Nested in a window on our display rather than headless: a headless mutter has no keyboard, and GTK
    // applications (Firefox among them) only take being in front from the keyboard's focus.
    mutter.start(QStringLiteral("mutter"),
        { QStringLiteral("--wayland"), QStringLiteral("--nested"), QStringLiteral("--wayland-display=") + socket });
    // Its XWayland listens on the first free display, named in the log, and admits the holders of its cookie.
    static const QRegularExpression displayLine(QStringLiteral("Using public X11 display (:\\d+)"));
    QString log;
    QString display;
    if (!waitUntil([&] {
            log += QString::fromUtf8(mutter.readAll());
            display = displayLine.match(log).captured(1);
            return !display.isEmpty();
        }))
        return { -1, QStringLiteral("mutter did not start: ") + log };
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QStringList cookies
        = QDir(runtime).entryList({ QStringLiteral(".mutter-Xwaylandauth.*") }, QDir::Hidden | QDir::Files);
    if (cookies.isEmpty())
        return { -1, QStringLiteral("mutter wrote no XWayland cookie") };
    changes.insert(QStringLiteral("WAYLAND_DISPLAY"), socket);
    changes.insert(QStringLiteral("DISPLAY"), display);
    changes.insert(QStringLiteral("XAUTHORITY"), runtime + u'/' + cookies.constFirst());
    changes.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    changes.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("GNOME"));
    changes.insert(QStringLiteral("QT_QPA_PLATFORM"), QString());
    // Where mutter's own window is, for screenshots.
    changes.insert(QStringLiteral("EQ_TEST_OUTER_DISPLAY"), qEnvironmentVariable("DISPLAY"));
    Result result = rerunCurrentTest(changes);
    mutter.terminate();
    mutter.waitForFinished();
    return result;
}

bool screenshot(const QString& file, const std::function<bool(const QImage&)>& shows)
{
    // Mutter draws its window a moment after a change: taken again until it shows what is expected.
    return waitUntil([&] {
        QProcess grab;
        grab.start(QStringLiteral("import"),
            { QStringLiteral("-display"), qEnvironmentVariable("EQ_TEST_OUTER_DISPLAY"), QStringLiteral("-window"),
                QStringLiteral("root"), QStringLiteral("png:-") });
        const QImage image
            = QImage::fromData(grab.waitForFinished(20000) ? grab.readAllStandardOutput() : QByteArray());
        return !image.isNull() && (!shows || shows(image)) && image.save(file);
    });
}

}
