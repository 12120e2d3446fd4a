// The recording library: session journals and locks, private files, and the upload queue against the local service.
#include "APIClient.h"
#include "AudioCaptureManager.h"
#include "Await.h"
#include "DevServerProcess.h"
#include "Endpoints.h"
#include "Log.h"
#include "MeetingStore.h"
#include "PendingUploadsModel.h"
#include "RecordingRetention.h"
#include "SessionJournal.h"
#include "SessionLock.h"
#include "TestAudio.h"
#include "UploadCards.h"
#include "UploadQueue.h"

#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

TEST(SessionFilesTest, JournalStepsReadBackALockTellsAHeldFolderAndARecordingsFilesArePrivate)
{
    QTemporaryDir dir;
    SessionJournal journal(dir.path());
    using Kind = SessionJournal::Kind;
    const std::function<void()> steps[] = { [] {}, [&] { journal.setFinalized(61.25); },
        [&] { journal.setExported(u"upload_track.m4a"_s, u"system_upload.m4a"_s); },
        [&] { journal.setUploading(Kind::Mic, u"recordings/a.m4a"_s); },
        [&] { journal.setUploaded(Kind::Mic, u"http://blob/a.m4a"_s); },
        [&] {
            journal.setWaiting({ u"Connection refused"_s, 3, QDateTime::currentDateTimeUtc() });
        },
        [&] {
            journal.setFailed({ u"Server error (500)"_s, 3, std::nullopt });
        },
        [&] { journal.clearFailure(); }, [&] { journal.setNotified(41); }, [&] { journal.setDone(); } };
    for (const auto& step : steps) {
        step(), journal.save();
        EXPECT_EQ(SessionJournal::read(dir.path()), std::optional(journal)) << int(journal.stage());
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList { u"journal.json"_s }) << "no temporary file";
    std::optional<SessionLock> lock = SessionLock::acquire(dir.path());
    ASSERT_TRUE(lock && SessionLock::isHeld(dir.path()));
    lock.reset(); // released, as the kernel releases it when a recording process dies
    EXPECT_FALSE(SessionLock::isHeld(dir.path()));
    const mode_t before = ::umask(022);
    QTemporaryDir documents;
    AudioTrackWriter::Options options;
    options.documentsDirectory = documents.path();
    AudioTrackWriter writer(options);
    const AudioFormat mono = TestAudio::format(48000, 1), stereo = TestAudio::format(48000, 2);
    for (quint64 i = 0; i < 20; ++i)
        writer.writeMic(TestAudio::buffer(AudioCaptureSource::mic, mono, 4800, i * 4800)),
            writer.writeSystem(TestAudio::buffer(AudioCaptureSource::systemOutput, stereo, 4800, i * 4800));
    const RecordingFinalizeResult finalized = writer.finalize();
    await(AudioCaptureManager::exportUploadTracks(finalized, *QThreadPool::globalInstance())); // files checked below
    SessionJournal(finalized.sessionDirectory).save();
    ::umask(before);
    const QString recordings = QDir(documents.path()).filePath(u"Echoquill Recordings"_s);
    QStringList seen;
    QDirIterator it(recordings, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    for (QString path = recordings; !path.isEmpty(); path = it.hasNext() ? it.next() : QString()) {
        struct stat info { };
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, S_ISDIR(info.st_mode) ? 0700u : 0600u) << path.toStdString();
        seen << QFileInfo(path).fileName();
    }
    for (const QString& name : { u"mic_track_000.caf"_s, u"system_track_000.caf"_s, u"metadata.json"_s,
             u"upload_track.m4a"_s, u"system_upload.m4a"_s, u"journal.json"_s })
        EXPECT_TRUE(seen.contains(name)) << name.toStdString();
}

TEST(UploadQueueTest, ProgressAQuitMidUploadARetryFromTheCardAndAnOutageEachEndInANote)
{
    QTemporaryDir data, recordings;
    std::unique_ptr<DevServerProcess> service;
    QString token;
    const auto start = [&](int port) {
        service = std::make_unique<DevServerProcess>(QStringList {
            u"--data"_s, data.path(), u"--processing-seconds"_s, u"1"_s, u"--port"_s, QString::number(port) });
        Endpoints::setServiceOrigin(service->origin());
        token = token.isEmpty() ? service->signIn() : token;
        return service->isRunning();
    };
    ASSERT_TRUE(start(0));
    const auto forget = qScopeGuard([] { APIClient::shared().network().clearConnectionCache(); });
    std::unique_ptr<UploadPipeline> pipeline;
    std::unique_ptr<UploadQueue> queue;
    std::unique_ptr<MeetingStore> store;
    std::unique_ptr<UploadCards> cards;
    std::unique_ptr<PendingUploadsModel> model;
    QList<UploadStatus> statuses;
    // A pipeline, queue, store, cards and list as the client wires them (a made note clears the segments); again later.
    const auto launch = [&] {
        model.reset(), cards.reset(), store.reset(), queue.reset();
        pipeline = std::make_unique<UploadPipeline>(
            service->url(u"/blob/"_s).toString(), UploadTimings { 3, 0.05, 10s, 300ms });
        queue = std::make_unique<UploadQueue>(pipeline.get());
        store = std::make_unique<MeetingStore>(
            [&] { return std::optional(token); }, MeetingStoreTimings { 10ms, 10ms, 200ms, 50 });
        cards = std::make_unique<UploadCards>(queue.get(), store.get());
        model = std::make_unique<PendingUploadsModel>();
        model->setStore(store.get());
        QObject::connect(store.get(), &MeetingStore::uploadDone, &RecordingRetention::clearSegments);
    };
    const auto submit = [&](const QString& folder) { // as a stop does
        const QUuid id = store->addPendingUpload(QFileInfo(folder).fileName(), 12.5, folder);
        queue->submit(folder, token, [&, id](auto s) { statuses << s, store->updatePendingUpload(id, s); });
        return id;
    };
    const auto reaches = [&](const QUuid& id, UploadStatus::Stage stage, int ms) {
        return waitUntil(
            [&] {
                const auto u = store->pendingUpload(id);
                return u && u->status.stage() == stage;
            },
            ms);
    };
    const auto exported = [&](const QString& name, qint64 mic, qint64 system) {
        const QDir folder(recordings.filePath(name));
        QDir().mkpath(folder.path());
        const std::pair<QString, qint64> files[] = { { u"mic_track_000.caf"_s, 1000 },
            { u"system_track_000.caf"_s, 1000 }, { u"upload_track.m4a"_s, mic }, { u"system_upload.m4a"_s, system } };
        for (const auto& [file, bytes] : files)
            if (QFile track(folder.filePath(file)); track.open(QIODevice::WriteOnly))
                track.resize(bytes);
        SessionJournal journal(folder.path());
        journal.setFinalized(12.5);
        journal.setExported(u"upload_track.m4a"_s, u"system_upload.m4a"_s);
        journal.save();
        return folder.path();
    };
    const auto count = [&](const QString& method, const std::string& path, qint64 bytes = -1) {
        const QJsonArray all = service->control("GET", "/__dev/requests?path=" + path).toArray();
        return std::ranges::count_if(all,
            [&](auto r) { return r["method"_L1] == method && (bytes < 0 || r["bodyBytes"_L1].toInteger() == bytes); });
    };
    service->control("POST", "/__dev/latency", { { u"ms"_s, 400 }, { u"path"_s, u"/blob/*"_s } });
    launch();
    QList<double> shown;
    QObject::connect(model.get(), &QAbstractItemModel::dataChanged, [&] {
        const double progress = model->data(model->index(0), PendingUploadsModel::ProgressRole).toDouble();
        if (progress >= 0 && (shown.isEmpty() || shown.last() != progress))
            shown << progress;
    });
    QStringList ready; // the titles of made notes
    QObject::connect(store.get(), &MeetingStore::noteReady, [&](qint64, const QString& title) { ready << title; });
    const QUuid first = submit(exported(u"Session_progress"_s, 3 << 20, 2 << 20));
    ASSERT_TRUE(reaches(first, UploadStatus::Processing, 30000));
    EXPECT_EQ(std::pair(shown.value(0, -1), shown.value(shown.size() - 1, -1)), std::pair(0.0, 1.0)) << "start and end";
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
    EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [](double p) { return p > 0.5 && p < 0.7; }))
        << "the microphone's 3 of 5 MB count before the system track starts, a step between";
    ASSERT_TRUE(reaches(first, UploadStatus::Done, 30000)) << "before the next one, which a quit interrupts";
    EXPECT_TRUE(ready.size() == 1 && !ready[0].isEmpty()) << "the made note is told with its title";
    service->control("POST", "/__dev/latency", { { u"ms"_s, 1500 }, { u"path"_s, u"/blob/*"_s } });
    Log::Capture log;
    submit(exported(u"Session_quit"_s, 300000, 200000));
    ASSERT_TRUE(waitUntil([&] { return log.containsPrefix(u"[Upload] step 4: uploading system"_s); }, 20000));
    launch(); // the client quits during the system track's upload and starts again
    await(cards->resume(recordings.path(), [&] { return std::optional(token); }));
    ASSERT_EQ(store->pendingUploads().size(), 1);
    ASSERT_TRUE(reaches(store->pendingUploads().first().id, UploadStatus::Processing, 20000));
    EXPECT_EQ(count(u"PUT"_s, "/blob/*", 300000), 1) << "the microphone track is sent once";
    EXPECT_EQ(count(u"POST"_s, "/api/desktop/meeting-notes"), 2);

    // A failed upload is retried from its card; one made while the service is away waits and goes on when it is back.
    const QString failed = exported(u"Session_failed"_s, 200000, 100000);
    service->control("POST", "/__dev/faults",
        { { u"path"_s, u"/api/desktop/meeting-notes/upload-token"_s }, { u"status"_s, 500 }, { u"count"_s, 3 } });
    const QUuid retried = submit(failed);
    ASSERT_TRUE(reaches(retried, UploadStatus::Failed, 10000));
    EXPECT_EQ(SessionJournal::read(failed)->stage(), SessionJournal::Stage::Failed);
    model->retry(retried.toString(QUuid::WithoutBraces));
    ASSERT_TRUE(reaches(retried, UploadStatus::Processing, 20000));
    EXPECT_EQ(count(u"POST"_s, "/api/desktop/meeting-notes"), 3);

    const QString away = exported(u"Session_offline"_s, 200000, 100000);
    const int port = service->port();
    log.clear(), statuses.clear(), service->kill();
    const QUuid id = submit(away);
    ASSERT_TRUE(reaches(id, UploadStatus::WaitingForNetwork, 10000));
    ASSERT_TRUE(waitUntil([&] { return log.count(u"[Upload] waiting for the network"_s) >= 2; }, 10000))
        << "a second round of tries finds no network either: tries are not spent while it is away";
    ASSERT_TRUE(start(port));
    ASSERT_TRUE(reaches(id, UploadStatus::Done, 30000));
    EXPECT_FALSE(std::ranges::any_of(statuses, [](auto s) { return s.stage() == UploadStatus::Failed; }));
    EXPECT_EQ(SessionJournal::read(away)->stage(), SessionJournal::Stage::Done) << "the note is made";
    EXPECT_EQ(QDir(away).entryList(QDir::Files).join(u' '), u"journal.json system_upload.m4a upload_track.m4a"_s)
        << "the segments go, the upload tracks and the journal stay";
}
