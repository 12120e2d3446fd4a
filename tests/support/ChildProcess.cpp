#include "ChildProcess.h"

#include <QCoreApplication>
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

Result rerunCurrentTest(const QProcessEnvironment &changes, const QStringList &wrapper)
{
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(childMarker, QStringLiteral("1"));
    for (const QString &key : changes.keys())
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
    return {child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1, QString::fromUtf8(child.readAll())};
}

}
