// Twenty recordings in a row in one process, each stopped and uploaded to the
// local service as the widget does it: twenty session folders, twenty notes,
// and no growth of open files or of the heap from one recording to the next.
#include "APIClient.h"
#include "AudioCaptureManager.h"
#include "AudioRecorder.h"
#include "Await.h"
#include "DevServerProcess.h"
#include "Endpoints.h"
#include "ProcStatus.h"
#include "TonePlayer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <iostream>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

struct ProcessFigures {
    int openFiles = 0;
    double anonymousMiB = 0;
};

ProcessFigures measure()
{
    ProcessFigures out;
    out.openFiles = int(QDir(u"/proc/self/fd"_s).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
    out.anonymousMiB = procStatusKiB("RssAnon") / 1024.0;
    return out;
}

// Lets queued work and deferred deletions of the last recording run before measuring.
void quiesce()
{
    waitUntil([] { return false; }, 300);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}

TEST(ManyRecordings, TwentyRecordingsInOneProcessLeaveTwentyNotesAndNoGrowth)
{
    // Twenty of five seconds, as a day of short calls would make them; about two minutes in all.
    constexpr int recordings = 20;
    constexpr auto recordingLength = 5000ms;
    // Noise: pooled connections and worker threads come and go; a leak of one file or of one
    // recording's audio (about 3 MiB for 5 s of both sources) per recording is far above these.
    constexpr int openFilesNoise = 3;
    constexpr double memoryNoiseMiB = 12;

    DevServerProcess service({u"--processing-seconds"_s, u"1"_s});
    ASSERT_TRUE(service.isRunning());
    Endpoints::setServiceOrigin(service.origin());
    const QString token = service.signIn();
    QTemporaryDir documents;
    auto *pipeline = new UploadPipeline(service.url(u"/blob/"_s).toString(), {3, 0.5});
    AudioRecorder recorder(
        [&] {
            AudioTrackWriter::Options options;
            options.documentsDirectory = documents.path();
            return std::make_unique<AudioCaptureManager>(CaptureTimings{}, options);
        },
        pipeline);
    pipeline->setParent(&recorder);

    const TonePlayer speech(u"micfeed"_s, 300);
    const TonePlayer meeting(u"speakers"_s, 440);
    QList<ProcessFigures> after;
    QSet<qint64> noteIds;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < recordings; ++i) {
        SCOPED_TRACE("recording " + std::to_string(i + 1));
        recorder.start();
        ASSERT_TRUE(waitUntil([&] { return recorder.isRecording() && recorder.audioLevel() > 0; }, 15000));
        waitUntil([] { return false; }, int(recordingLength.count()));
        QList<UploadStatus> statuses;
        recorder.stopAndUpload(token, [&](const UploadStatus &s) { statuses << s; });
        ASSERT_TRUE(waitUntil([&] { return !recorder.isStoppingRecording(); }, 60000));
        ASSERT_FALSE(statuses.isEmpty());
        ASSERT_EQ(statuses.last().stage(), UploadStatus::Processing) << statuses.last().label().toStdString();
        noteIds << statuses.last().noteId().value_or(0);
        quiesce();
        after << measure();
    }
    const double seconds = clock.elapsed() / 1000.0;

    const QDir recordingsDir(documents.filePath(u"Echoquill Recordings"_s));
    const QStringList sessions = recordingsDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    EXPECT_EQ(sessions.size(), recordings);
    for (const QString &name : sessions) {
        const QDir session(recordingsDir.filePath(name));
        EXPECT_TRUE(session.exists(u"upload_track.m4a"_s) && session.exists(u"system_upload.m4a"_s)
                    && session.exists(u"metadata.json"_s))
            << name.toStdString();
    }
    EXPECT_EQ(noteIds.size(), recordings) << "one note per recording";
    EXPECT_FALSE(noteIds.contains(0));
    const QJsonArray notifies = service.control("GET", "/__dev/requests?path=/api/desktop/meeting-notes").toArray();
    int acknowledged = 0;
    for (const QJsonValue &request : notifies)
        acknowledged += request[u"method"_s] == u"POST"_s && request[u"status"_s] == 200;
    EXPECT_EQ(acknowledged, recordings) << "the service was told of every recording, once";

    // From after the first recording (connections, thread pools and caches are made then) to after the last.
    const ProcessFigures first = after.first();
    const ProcessFigures last = after.last();
    int mostFiles = 0;
    double mostMiB = 0;
    for (const ProcessFigures &f : after) {
        mostFiles = std::max(mostFiles, f.openFiles);
        mostMiB = std::max(mostMiB, f.anonymousMiB);
    }
    QStringList series;
    for (const ProcessFigures &f : after)
        series << u"%1/%2"_s.arg(f.openFiles).arg(f.anonymousMiB, 0, 'f', 1);
    std::cout << "open files / anonymous MiB after each recording: " << series.join(u' ').toStdString() << "\n";
    EXPECT_LE(last.openFiles - first.openFiles, openFilesNoise);
    EXPECT_LE(last.anonymousMiB - first.anonymousMiB, memoryNoiseMiB);
    std::cout << u"[figure] %1 recordings of %2 s in one process (%3 s in all): %4 session folders, %5 notifies "
                 u"acknowledged, %6 notes; open files %7 after the first, %8 after the last (%9, at most %10); "
                 u"anonymous resident memory %11 MiB after the first, %12 MiB after the last (%13 MiB, at most %14 MiB)\n"_s
                     .arg(recordings).arg(recordingLength.count() / 1000.0).arg(seconds, 0, 'f', 1).arg(sessions.size())
                     .arg(acknowledged).arg(noteIds.size()).arg(first.openFiles).arg(last.openFiles)
                     .arg(QString::asprintf("%+d", last.openFiles - first.openFiles)).arg(mostFiles)
                     .arg(first.anonymousMiB, 0, 'f', 1).arg(last.anonymousMiB, 0, 'f', 1)
                     .arg(QString::asprintf("%+.1f", last.anonymousMiB - first.anonymousMiB)).arg(mostMiB, 0, 'f', 1)
                     .toStdString();
    APIClient::shared().network().clearConnectionCache();
}
