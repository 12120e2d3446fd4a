#include "AppDelegate.h"
#include "AudioRecorder.h"
#include "Await.h"
#include "QuitSignals.h"
#include "SoundPlayer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>

using namespace Qt::StringLiterals;

// SIGTERM during a recording goes through the application's quit path: the
// recording's folder is complete on disk (segments and metadata), and nothing
// is exported or uploaded. The event loop ends here, so this binary holds one test.
TEST(QuitDuringRecording, SigtermClosesTheRecordingsFilesBeforeExit)
{
    const auto speech = SoundPlayer::tone(u"micfeed"_s, 30, 300);
    QuitSignals quitSignals;
    AppDelegate delegate;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &delegate, &AppDelegate::applicationWillTerminate);
    AudioRecorder &recorder = *delegate.audioRecorder();

    recorder.start();
    ASSERT_TRUE(waitUntil([&] { return recorder.isRecording() && recorder.audioLevel() > 0; }, 15000));
    const QString folder = recorder.currentFileURL().value_or(QString());
    ASSERT_FALSE(folder.isEmpty());

    QTimer::singleShot(800, [] { ::raise(SIGTERM); });
    QCoreApplication::exec();

    EXPECT_FALSE(recorder.isRecording());
    QFile metadataFile(QDir(folder).filePath(u"metadata.json"_s));
    ASSERT_TRUE(metadataFile.open(QIODevice::ReadOnly)) << "metadata.json is written before the process exits";
    const QJsonObject metadata = QJsonDocument::fromJson(metadataFile.readAll()).object();
    EXPECT_FALSE(metadata.value("tracks"_L1).toArray().isEmpty()) << metadataFile.fileName().toStdString();
    EXPECT_TRUE(QFile::exists(QDir(folder).filePath(u"mic_track_000.caf"_s)));
    EXPECT_FALSE(QFile::exists(QDir(folder).filePath(u"upload_track.m4a"_s)));
}
