// The recording library: session journals and locks, private files, and the
// upload queue against the real local service.
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
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

QString writeTrack(const QString &path, qint64 bytes)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    QByteArray chunk(1 << 16, Qt::Uninitialized);
    for (qint64 left = bytes; left > 0; left -= chunk.size()) {
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(chunk.data()), chunk.size() / 4);
        file.write(chunk.constData(), std::min<qint64>(left, chunk.size()));
    }
    return path;
}

// An exported session: its segments, its two upload tracks and a journal that says so.
QString exportedSession(const QString &root, const QString &name, qint64 micBytes, qint64 systemBytes)
{
    const QString folder = QDir(root).filePath(name);
    QDir().mkpath(folder);
    writeTrack(QDir(folder).filePath(u"mic_track_000.caf"_s), 1000);
    writeTrack(QDir(folder).filePath(u"system_track_000.caf"_s), 1000);
    writeTrack(QDir(folder).filePath(u"upload_track.m4a"_s), micBytes);
    writeTrack(QDir(folder).filePath(u"system_upload.m4a"_s), systemBytes);
    SessionJournal journal(folder);
    journal.setFinalized(12.5);
    journal.setExported(u"upload_track.m4a"_s, u"system_upload.m4a"_s);
    journal.save();
    return folder;
}

}

TEST(SessionJournalTest, EveryStepReadsBackAndTheLockTellsAHeldFolder)
{
    QTemporaryDir dir;
    SessionJournal journal(dir.path());
    using Kind = SessionJournal::Kind;
    const std::function<void()> steps[] = {
        [] {},
        [&] { journal.setFinalized(61.25); },
        [&] { journal.setExported(u"upload_track.m4a"_s, u"system_upload.m4a"_s); },
        [&] { journal.setUploading(Kind::Mic, u"recordings/a.m4a"_s); },
        [&] { journal.setUploaded(Kind::Mic, u"http://blob/a.m4a"_s); },
        [&] { journal.setWaiting({u"Connection refused"_s, 3, QDateTime::currentDateTimeUtc()}); },
        [&] { journal.setFailed({u"Server error (500)"_s, 3, std::nullopt}); },
        [&] { journal.clearFailure(); },
        [&] { journal.setNotified(41); },
        [&] { journal.setDone(); },
    };
    for (const auto &step : steps) {
        step();
        journal.save();
        const std::optional<SessionJournal> read = SessionJournal::read(dir.path());
        ASSERT_TRUE(read);
        EXPECT_EQ(*read, journal) << SessionJournal::stageName(journal.stage()).toStdString();
    }
    EXPECT_EQ(journal.stage(), SessionJournal::Stage::Done);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{u"journal.json"_s}) << "no temporary file is left";

    std::optional<SessionLock> lock = SessionLock::acquire(dir.path());
    ASSERT_TRUE(lock);
    EXPECT_TRUE(SessionLock::isHeld(dir.path()));
    // Released, as the kernel releases it when a recording process dies.
    lock.reset();
    EXPECT_FALSE(SessionLock::isHeld(dir.path()));
}

TEST(PrivateFilesTest, EveryFolderIs0700AndEveryFile0600WhateverTheUmask)
{
    const mode_t before = ::umask(022);
    QTemporaryDir documents;
    AudioTrackWriter::Options options;
    options.documentsDirectory = documents.path();
    AudioTrackWriter writer(options);
    const AudioFormat mono = TestAudio::format(48000, 1), stereo = TestAudio::format(48000, 2);
    for (int i = 0; i < 20; ++i) {
        writer.writeMic(TestAudio::buffer(AudioCaptureSource::mic, mono, 4800, i * 4800ull));
        writer.writeSystem(TestAudio::buffer(AudioCaptureSource::systemOutput, stereo, 4800, i * 4800ull));
    }
    const RecordingFinalizeResult finalized = writer.finalize();
    QThreadPool pool;
    const CaptureSessionResult tracks = await(AudioCaptureManager::exportUploadTracks(finalized, pool));
    ASSERT_TRUE(tracks.micURL && tracks.systemURL);
    SessionJournal(finalized.sessionDirectory).save();
    ::umask(before);

    const QString recordings = QDir(documents.path()).filePath(u"Echoquill Recordings"_s);
    QStringList seen;
    QDirIterator it(recordings, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    for (QString path = recordings; !path.isEmpty(); path = it.hasNext() ? it.next() : QString()) {
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
        const mode_t expected = S_ISDIR(info.st_mode) ? 0700 : 0600;
        EXPECT_EQ(info.st_mode & 07777, expected) << path.toStdString();
        seen << QFileInfo(path).fileName();
    }
    for (const QString &name : {u"mic_track_000.caf"_s, u"system_track_000.caf"_s, u"metadata.json"_s,
                                u"upload_track.m4a"_s, u"system_upload.m4a"_s, u"journal.json"_s})
        EXPECT_TRUE(seen.contains(name)) << name.toStdString();
}

namespace {

// The upload queue and the processing cards against the real local service.
class UploadQueueTest : public ::testing::Test {
protected:
    void SetUp() override { start(); }
    void TearDown() override { APIClient::shared().network().clearConnectionCache(); }

    void start(int port = 0)
    {
        QStringList options{u"--data"_s, data.path(), u"--processing-seconds"_s, u"1"_s};
        if (port)
            options << u"--port"_s << QString::number(port);
        service = std::make_unique<DevServerProcess>(options);
        ASSERT_TRUE(service->isRunning());
        Endpoints::setServiceOrigin(service->origin());
        if (token.isEmpty())
            token = service->signIn();
    }

    // A pipeline, queue, store and cards as the client makes them; again after a "quit".
    void launch()
    {
        cards.reset();
        store.reset();
        queue.reset();
        pipeline = std::make_unique<UploadPipeline>(service->url(u"/blob/"_s).toString(), UploadTimings{3, 0.05, 10s, 300ms});
        queue = std::make_unique<UploadQueue>(pipeline.get());
        store = std::make_unique<MeetingStore>([this] { return std::optional(token); },
                                               MeetingStoreTimings{10ms, 10ms, 200ms, 50});
        cards = std::make_unique<UploadCards>(queue.get(), store.get());
        // As the client wires it: once the note is made, the segments go.
        QObject::connect(store.get(), &MeetingStore::uploadDone, &RecordingRetention::clearSegments);
    }

    // The session gets its card and joins the queue, as a stop does; its statuses land in `statuses`.
    QUuid submit(const QString &folder)
    {
        const QUuid id = store->addPendingUpload(QFileInfo(folder).fileName(), 12.5, folder);
        queue->submit(folder, token, [this, id](const UploadStatus &s) {
            statuses << s;
            store->updatePendingUpload(id, s);
        });
        return id;
    }

    qsizetype notifies()
    {
        const auto posts = requests(u"POST"_s, u"/api/desktop/meeting-notes"_s);
        return std::count_if(posts.begin(), posts.end(),
                             [](const QJsonObject &r) { return r["path"_L1].toString() == "/api/desktop/meeting-notes"_L1; });
    }

    [[nodiscard]] UploadStatus::Stage stageOf(const QUuid &id) const
    {
        const auto upload = store->pendingUpload(id);
        return upload ? upload->status.stage() : UploadStatus::Idle;
    }

    // The service's log of one method and path prefix.
    QList<QJsonObject> requests(const QString &method, const QString &prefix)
    {
        QList<QJsonObject> found;
        for (const QJsonValue &r : service->control("GET", "/__dev/requests").toArray())
            if (r["method"_L1].toString() == method && r["path"_L1].toString().startsWith(prefix))
                found << r.toObject();
        return found;
    }

    QTemporaryDir data;
    QTemporaryDir recordings;
    std::unique_ptr<DevServerProcess> service;
    QString token;
    std::unique_ptr<UploadPipeline> pipeline;
    std::unique_ptr<UploadQueue> queue;
    std::unique_ptr<MeetingStore> store;
    std::unique_ptr<UploadCards> cards;
    QList<UploadStatus> statuses;
};

}

TEST_F(UploadQueueTest, TheCardsProgressRisesFromZeroToAllAcrossBothTracks)
{
    service->control("POST", "/__dev/latency", {{u"ms"_s, 400}, {u"path"_s, u"/blob/*"_s}});
    const QString folder = exportedSession(recordings.path(), u"Session_progress"_s, 3 << 20, 2 << 20);
    launch();
    PendingUploadsModel model;
    model.setStore(store.get());
    QList<double> shown;
    QObject::connect(&model, &QAbstractItemModel::dataChanged, [&] {
        const double progress = model.data(model.index(0), PendingUploadsModel::ProgressRole).toDouble();
        if (progress >= 0 && (shown.isEmpty() || shown.last() != progress))
            shown << progress;
    });
    const QUuid id = submit(folder);
    ASSERT_TRUE(waitUntil([&] { return stageOf(id) == UploadStatus::Processing; }, 30000)) << statuses.last().label().toStdString();

    ASSERT_GE(shown.size(), 3) << "a start, a step between and the end";
    EXPECT_EQ(shown.first(), 0.0);
    EXPECT_EQ(shown.last(), 1.0);
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
    EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [](double p) { return p > 0.5 && p < 0.7; }))
        << "the microphone's 3 of 5 MB count before the system track starts";
}

TEST_F(UploadQueueTest, WhileTheServiceIsUnreachableTheUploadWaitsAndGoesOnWhenItIsBack)
{
    const QString folder = exportedSession(recordings.path(), u"Session_offline"_s, 200000, 100000);
    Log::Capture log;
    launch();
    const int port = service->port();
    service->kill();
    const QUuid id = submit(folder);
    ASSERT_TRUE(waitUntil([&] { return stageOf(id) == UploadStatus::WaitingForNetwork; }, 10000));
    EXPECT_EQ(store->pendingUpload(id)->status.label(), u"Waiting for network…"_s);
    // A second round of tries that found no network either: the tries are not spent while it is away.
    ASSERT_TRUE(waitUntil([&] { return log.count(u"[Upload] waiting for the network"_s) >= 2; }, 10000));

    start(port);
    ASSERT_TRUE(waitUntil([&] { return stageOf(id) == UploadStatus::Done; }, 30000)) << statuses.last().label().toStdString();
    for (const UploadStatus &s : std::as_const(statuses))
        EXPECT_NE(s.stage(), UploadStatus::Failed);
    EXPECT_EQ(SessionJournal::read(folder)->stage(), SessionJournal::Stage::Done) << "the note is made: the journal says done";
    const QDir dir(folder);
    EXPECT_EQ(dir.entryList(QDir::Files).join(u' ').toStdString(), "journal.json system_upload.m4a upload_track.m4a")
        << "the segments go, the upload tracks and the journal stay";
}

TEST_F(UploadQueueTest, AFailedUploadIsRetriedFromItsCard)
{
    const QString folder = exportedSession(recordings.path(), u"Session_failed"_s, 200000, 100000);
    service->control("POST", "/__dev/faults",
                     {{u"path"_s, u"/api/desktop/meeting-notes/upload-token"_s}, {u"status"_s, 500}, {u"count"_s, 3}});
    launch();
    const QUuid id = submit(folder);
    ASSERT_TRUE(waitUntil([&] { return stageOf(id) == UploadStatus::Failed; }, 10000));
    EXPECT_TRUE(store->pendingUpload(id)->status.label().startsWith(u"Failed: "_s));
    EXPECT_EQ(SessionJournal::read(folder)->stage(), SessionJournal::Stage::Failed);

    PendingUploadsModel model;
    model.setStore(store.get());
    model.retry(id.toString(QUuid::WithoutBraces));
    ASSERT_TRUE(waitUntil([&] { return stageOf(id) == UploadStatus::Processing; }, 20000)) << statuses.last().label().toStdString();
    EXPECT_EQ(notifies(), 1);
}

TEST_F(UploadQueueTest, AQuitDuringTheSystemUploadResumesWithoutSendingTheMicrophoneAgain)
{
    const qint64 micBytes = 300000, systemBytes = 200000;
    const QString folder = exportedSession(recordings.path(), u"Session_quit"_s, micBytes, systemBytes);
    service->control("POST", "/__dev/latency", {{u"ms"_s, 1500}, {u"path"_s, u"/blob/*"_s}});
    Log::Capture log;
    launch();
    submit(folder);
    ASSERT_TRUE(waitUntil([&] { return log.containsPrefix(u"[Upload] step 4: uploading system"_s); }, 20000));

    launch(); // the client quits during the system track's upload and starts again
    await(cards->resume(recordings.path(), [this] { return std::optional(token); }));
    ASSERT_EQ(store->pendingUploads().size(), 1);
    const QUuid id = store->pendingUploads().first().id;
    ASSERT_TRUE(waitUntil([&] { return stageOf(id) == UploadStatus::Processing; }, 20000));

    const auto mics = requests(u"PUT"_s, u"/blob/"_s);
    EXPECT_EQ(std::count_if(mics.begin(), mics.end(), [&](const QJsonObject &r) { return r["bodyBytes"_L1].toInteger() == micBytes; }), 1)
        << "the microphone track is sent once";
    EXPECT_EQ(notifies(), 1);
}
