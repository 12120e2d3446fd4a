#include "ChildProcess.h"

#include "Await.h"

#include <QCoreApplication>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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
    // A PipeWire of its own, and its session manager to link streams, carries mutter's screen cast.
    QTemporaryDir pipeWireDir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PIPEWIRE_RUNTIME_DIR"), pipeWireDir.path());
    QProcess pipeWire;
    QProcess sessionManager;
    pipeWire.setProcessEnvironment(env);
    sessionManager.setProcessEnvironment(env);
    pipeWire.start(QStringLiteral("pipewire"), {});
    if (!waitUntil([&] { return QFile::exists(pipeWireDir.filePath(QStringLiteral("pipewire-0"))); }))
        return { -1, QStringLiteral("pipewire did not start") };
    sessionManager.start(QStringLiteral("wireplumber"), {});
    QProcess mutter;
    env.remove(QStringLiteral("DISPLAY"));
    // Without animations, a screenshot shows the windows where they end up.
    env.insert(QStringLiteral("MUTTER_DEBUG_DISABLE_ANIMATIONS"), QStringLiteral("1"));
    mutter.setProcessEnvironment(env);
    mutter.setProcessChannelMode(QProcess::MergedChannels);
    mutter.start(QStringLiteral("mutter"),
        { QStringLiteral("--wayland"), QStringLiteral("--headless"), QStringLiteral("--virtual-monitor"),
            QStringLiteral("1280x800"), QStringLiteral("--wayland-display=") + socket });
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
    changes.insert(QStringLiteral("PIPEWIRE_RUNTIME_DIR"), pipeWireDir.path());
    changes.insert(QStringLiteral("QT_QPA_PLATFORM"), QString());
    Result result = rerunCurrentTest(changes);
    for (QProcess* process : { &mutter, &sessionManager, &pipeWire }) {
        process->terminate();
        process->waitForFinished();
    }
    return result;
}

bool screenshot(const QString& file)
{
    const QString service = QStringLiteral("org.gnome.Mutter.ScreenCast");
    QDBusInterface screenCast(service, QStringLiteral("/org/gnome/Mutter/ScreenCast"), service);
    const QDBusReply<QDBusObjectPath> session = screenCast.call(QStringLiteral("CreateSession"), QVariantMap());
    QDBusInterface cast(service, session.value().path(), service + QStringLiteral(".Session"));
    const QDBusReply<QDBusObjectPath> stream = cast.call(QStringLiteral("RecordMonitor"), QString(), QVariantMap());
    if (!stream.isValid() || !QDBusReply<void>(cast.call(QStringLiteral("Start"))).isValid())
        return false;
    // The stream's node is named after the compositor; one frame of it, as PNG.
    QProcess grab;
    grab.startCommand(QStringLiteral("gst-launch-1.0 -q pipewiresrc target-object=mutter num-buffers=1 ! videoconvert "
                                     "! pngenc ! filesink \"location=%1\"")
                          .arg(file));
    const bool grabbed = grab.waitForFinished(20000) && grab.exitCode() == 0 && QFile(file).size() > 0;
    cast.call(QStringLiteral("Stop"));
    return grabbed;
}

}
