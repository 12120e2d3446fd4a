// Twenty recordings in a row in one process, each stopped and uploaded to the local service as the widget does
// it: twenty session folders, twenty notes, and no growth of open files or of the heap between recordings.
#include "APIClient.h"
#include "AudioCaptureManager.h"
#include "AudioRecorder.h"
#include "Await.h"
#include "DevServerProcess.h"
#include "Endpoints.h"
#include "ProcStatus.h"
#include "QuickRecorder.h"
#include "SoundPlayer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <iostream>

using namespace Qt::StringLiterals;

TEST(ManyRecordings, TwentyRecordingsInOneProcessLeaveTwentyNotesAndNoGrowth)
{
    // Twenty of five seconds, as a day of short calls would make them; about two minutes in all.
    constexpr int recordings = 20, recordingMs = 5000;
    // Pooled connections and threads come and go; a leak of one file or of one recording's audio (~3 MiB) is above.
    constexpr int openFilesNoise = 3;
    constexpr double memoryNoiseMiB = 12;
    DevServerProcess service({ u"--processing-seconds"_s, u"1"_s });
    ASSERT_TRUE(service.isRunning());
    Endpoints::setServiceOrigin(service.origin());
    const QString token = service.signIn();
    QTemporaryDir documents;
    const auto recorderHolder = makeQuickRecorder(documents.path(), CaptureTimings {});
    AudioRecorder& recorder = *recorderHolder;
    const auto library = makeQuickLibrary(
        &recorder, service.url(u"/blob/"_s).toString(), documents.path(), [&] { return std::optional(token); });
    const SoundPlayer speech(u"micfeed"_s, 300), meeting(u"speakers"_s, 440);
    QList<std::pair<int, double>> after; // open files, anonymous MiB
    QSet<qint64> noteIds;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < recordings; ++i) {
        SCOPED_TRACE("recording " + std::to_string(i + 1));
        recorder.start();
        ASSERT_TRUE(waitUntil([&] { return recorder.isRecording() && recorder.audioLevel() > 0; }, 15000));
        waitUntil([] { return false; }, recordingMs);
        library->stopRecording();
        ASSERT_TRUE(waitUntil([&] { return library->cards().size() == i + 1 && library->cards()[0].noteId; }, 60000));
        noteIds << *library->cards()[0].noteId;
        // What this recording queued runs before a call queued now; then its deferred deletions go.
        bool queued = false;
        QMetaObject::invokeMethod(
            qApp, [&] { queued = true; }, Qt::QueuedConnection);
        ASSERT_TRUE(waitUntil([&] { return queued; }));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const auto fds = QDir(u"/proc/self/fd"_s).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        after.append({ int(fds.size()), procStatusKiB("RssAnon") / 1024.0 });
    }
    const QDir recordingsDir(documents.filePath(u"Echoquill Recordings"_s));
    const QStringList sessions = recordingsDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    EXPECT_EQ(sessions.size(), recordings);
    for (const QString& name : sessions)
        for (const QString& file : { u"upload_track.m4a"_s, u"system_upload.m4a"_s, u"metadata.json"_s })
            EXPECT_TRUE(QDir(recordingsDir.filePath(name)).exists(file)) << qPrintable(name + u'/' + file);
    EXPECT_EQ(noteIds.size(), recordings) << "one note per recording";
    EXPECT_FALSE(noteIds.contains(0));
    int acknowledged = 0;
    for (const QJsonValue& request : service.requests(u"/api/desktop/meeting-notes"_s))
        acknowledged += request[u"method"_s] == u"POST"_s && request[u"status"_s] == 200;
    EXPECT_EQ(acknowledged, recordings) << "the service was told of every recording, once";
    // From after the first recording (connections, thread pools and caches are made then) to after the last.
    QStringList series;
    for (const auto& [files, mib] : after)
        series << u"%1/%2"_s.arg(files).arg(mib, 0, 'f', 1);
    EXPECT_LE(after.last().first - after.first().first, openFilesNoise);
    EXPECT_LE(after.last().second - after.first().second, memoryNoiseMiB);
    std::cout << "[figure] " << recordings << " recordings of " << recordingMs / 1000.0 << " s in one process ("
              << clock.elapsed() / 1000.0 << " s in all), " << noteIds.size()
              << " notes; open files / anonymous MiB after each: " << series.join(u' ').toStdString() << "\n";
    APIClient::shared().network().clearConnectionCache();
}
