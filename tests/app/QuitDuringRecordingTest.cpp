#include "AudioRecorder.h"
#include "EchoquillDesktopApp.h"
#include "Log.h"
#include "SoundPlayer.h"
#include "TestAudio.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QQmlEngine>
#include <QTimer>
#include <QWindow>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

#include <csignal>

Q_IMPORT_QML_PLUGIN(Echoquill_AppPlugin)
Q_IMPORT_QML_PLUGIN(Echoquill_UiPlugin)
Q_IMPORT_QML_PLUGIN(Echoquill_WidgetPlugin)

using namespace Qt::StringLiterals;

namespace {

int g_argc = 0;
char** g_argv = nullptr;
QString g_folder;

// Once the entry has its window: starts a recording through the recorder the
// window shares, then sends SIGTERM as soon as sound arrives.
void driveTheRecorder()
{
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [timer] {
        QQmlEngine* engine = nullptr;
        for (QWindow* w : QGuiApplication::topLevelWindows())
            if (!engine)
                engine = qmlEngine(w);
        if (!engine)
            return;
        auto* recorder
            = engine->singletonInstance<AudioRecorder*>(qmlTypeId("Echoquill.Shared", 1, 0, "AudioRecorder"));
        if (!recorder->isRecording() && g_folder.isEmpty()) {
            g_folder = u"starting"_s;
            recorder->start();
        } else if (recorder->isRecording() && recorder->audioLevel() > 0) {
            g_folder = recorder->sessionFolder().value_or(QString());
            timer->stop();
            ::raise(SIGTERM);
        }
    });
    timer->start(50);
    QTimer::singleShot(60000, qApp, [] {
        ADD_FAILURE() << "no sound was recorded within a minute";
        QCoreApplication::exit(1);
    });
}

}

// SIGTERM during a recording goes through the application's own quit path: the
// recording's folder is complete on disk and nothing is exported or uploaded.
TEST(QuitDuringRecording, SigtermClosesTheRecordingsFilesBeforeTheEntryReturns)
{
    const auto speech = SoundPlayer::tone(u"micfeed"_s, 30, 300);
    qAddPreRoutine(driveTheRecorder);
    Log::Capture log;
    EXPECT_EQ(EchoquillDesktopApp::run(g_argc, g_argv), 0);

    EXPECT_TRUE(log.contains(u"[AudioRecorder] quitting during a recording: session files closed, nothing uploaded"_s))
        << log.lines().join(u'\n').toStdString();
    ASSERT_FALSE(g_folder.isEmpty() || g_folder == u"starting"_s);
    EXPECT_FALSE(TestAudio::metadata(g_folder)["tracks"_L1].toArray().isEmpty())
        << "metadata.json is written before the process exits";
    EXPECT_TRUE(QFile::exists(QDir(g_folder).filePath(u"mic_track_000.caf"_s)));
    EXPECT_FALSE(QFile::exists(QDir(g_folder).filePath(u"upload_track.m4a"_s)));
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    g_argc = argc;
    g_argv = argv;
    return RUN_ALL_TESTS();
}
