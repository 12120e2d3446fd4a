#include "ChildProcess.h"

#include "Await.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

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

}
