// The recording library: session journals and locks, private files, and the road of every session to the note of
// the account that recorded it, against the local service.
#include "RecordingLibrary.h"
#include "APIClient.h"
#include "AudioCaptureManager.h"
#include "Await.h"
#include "DevServerProcess.h"
#include "Endpoints.h"
#include "Log.h"
#include "MeetingStore.h"
#include "PendingUploadsModel.h"
#include "SessionJournal.h"
#include "SessionLock.h"
#include "TestAudio.h"
#include "TestFiles.h"
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

// Two seconds of both sources recorded under `documents` and stopped: the finalized session.
static RecordingFinalizeResult recordTwoSeconds(const QString& documents)
{
    AudioTrackWriter writer({ .documentsDirectory = documents });
    const AudioFormat mono = TestAudio::format(48000, 1), stereo = TestAudio::format(48000, 2);
    for (quint64 i = 0; i < 20; ++i)
        writer.writeMic(TestAudio::buffer(AudioCaptureSource::mic, mono, 4800, i * 4800)),
            writer.writeSystem(TestAudio::buffer(AudioCaptureSource::systemOutput, stereo, 4800, i * 4800));
    return writer.finalize();
}

TEST(SessionFilesTest, JournalStepsReadBackALockTellsAHeldFolderAndARecordingsFilesArePrivate)
{
    QTemporaryDir dir;
    SessionJournal journal(dir.path());
    using Kind = SessionJournal::Kind;
    const auto readsBack = [&] { // each step saved is read back as it was
        journal.save();
        EXPECT_EQ(SessionJournal::read(dir.path()), std::optional(journal)) << int(journal.stage());
    };
    readsBack(), journal.setFinalized(61.25), readsBack();
    journal.setOwner(SessionJournal::Owner { u"u1"_s, u"a@example.com"_s }), readsBack();
    journal.setExported({ u"upload_track.m4a"_s, { u"mic_track_000.caf"_s }, {}, {} },
        SessionJournal::Track { u"system_upload.m4a"_s, { u"system_track_000.caf"_s }, {}, {} });
    readsBack(), journal.setUploading(Kind::Mic, u"recordings/a.m4a"_s), readsBack();
    journal.setUploaded(Kind::Mic, u"http://blob/a.m4a"_s), readsBack();
    journal.setWaiting({ u"Connection refused"_s, 3, QDateTime::currentDateTimeUtc() }), readsBack();
    journal.setFailed({ u"Server error (500)"_s, 3, std::nullopt }), readsBack();
    journal.clearFailure(), readsBack(), journal.setNotified(41), readsBack(), journal.setDone(), readsBack();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList { u"journal.json"_s }) << "no temporary file";
    journal.setExported({ u"../outside.m4a"_s, {}, {}, {} }, std::nullopt), journal.save();
    EXPECT_FALSE(SessionJournal::read(dir.path())) << "a journal naming a file outside its folder is refused";
    std::optional<SessionLock> lock = SessionLock::acquire(dir.path());
    ASSERT_TRUE(lock && SessionLock::isHeld(dir.path()));
    lock.reset(); // released, as the kernel releases it when a recording process dies
    EXPECT_FALSE(SessionLock::isHeld(dir.path()));
    const mode_t before = ::umask(022);
    QTemporaryDir documents;
    const RecordingFinalizeResult finalized = recordTwoSeconds(documents.path());
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

TEST(RecordingLibraryTest, SessionsReachTheNotesOfTheAccountThatRecordedThemThroughQuitsRetriesAndOutages)
{
    QTemporaryDir data, documents;
    const QString recordings = AudioTrackWriter::recordingsFolder(documents.path());
    std::unique_ptr<DevServerProcess> service;
    QHash<QString, QString> tokens; // account id → token
    const auto start = [&](int port) {
        service = std::make_unique<DevServerProcess>(QStringList {
            u"--data"_s, data.path(), u"--processing-seconds"_s, u"1"_s, u"--port"_s, QString::number(port) });
        Endpoints::setServiceOrigin(service->origin());
        for (const QString& id : { u"a"_s, u"b"_s })
            if (!tokens.contains(id))
                tokens[id] = service->signIn(id + u"@example.com"_s);
        return service->isRunning();
    };
    ASSERT_TRUE(start(0));
    const auto forget = qScopeGuard([] { APIClient::shared().network().clearConnectionCache(); });
    using Owner = SessionJournal::Owner;
    const Owner a { u"a"_s, u"a@example.com"_s }, b { u"b"_s, u"b@example.com"_s };
    std::optional<Owner> account = a;
    const auto token = [&] { return account ? std::optional(tokens[account->id]) : std::nullopt; };
    std::unique_ptr<UploadPipeline> pipeline;
    std::unique_ptr<MeetingStore> store;
    std::unique_ptr<RecordingLibrary> library;
    PendingUploadsModel model;
    // The library as the client wires it; again later, as a new run.
    const auto launch = [&](RecordingLibraryTimings followUp = { 10ms, 10ms, 200ms, 50 }) {
        model.setLibrary(nullptr), library.reset(), store.reset();
        pipeline = std::make_unique<UploadPipeline>(
            service->url(u"/blob/"_s).toString(), UploadTimings { 3, 0.05, 10s, 300ms });
        store = std::make_unique<MeetingStore>(token);
        library = std::make_unique<RecordingLibrary>(
            nullptr, [&] { return account; }, token, recordings, pipeline.get(), followUp);
        library->setNoteFinder([&](auto id, auto since) { return store->findNote(id, since); });
        model.setLibrary(library.get());
        await(library->scan());
    };
    const auto stage
        = [&](const QString& f) { return library->card(f) ? library->card(f)->status.stage() : UploadStatus::Idle; };
    const auto reaches
        = [&](const QString& f, auto wanted, int ms) { return waitUntil([&] { return stage(f) == wanted; }, ms); };
    // A stopped session as the recorder leaves it: both sources' segments, the tracks (`system` 0: none came out).
    const auto exported = [&](const QString& name, qint64 mic, qint64 system, std::optional<Owner> owner) {
        const QDir folder(QDir(recordings).filePath(name));
        QDir().mkpath(folder.path());
        for (const auto& [file, bytes] :
            { std::pair { u"mic_track_000.caf"_s, 1000 }, { u"system_track_000.caf"_s, 1000 },
                { u"upload_track.m4a"_s, mic }, { u"system_upload.m4a"_s, system } })
            if (bytes > 0)
                writeBytes(folder.filePath(file), bytes);
        SessionJournal journal(folder.path());
        journal.setOwner(owner), journal.setFinalized(12.5);
        journal.setExported({ u"upload_track.m4a"_s, { u"mic_track_000.caf"_s }, {}, {} },
            system
                ? std::optional(SessionJournal::Track { u"system_upload.m4a"_s, { u"system_track_000.caf"_s }, {}, {} })
                : std::nullopt);
        journal.save();
        return folder.path();
    };
    const auto notesOf = [&](const QString& id) {
        const httplib::Headers bearer { { "Authorization", "Bearer " + tokens[id].toStdString() } };
        return jsonOf(service->client().Get("/api/v2/meeting-notes", bearer))["data"_L1].toArray().size();
    };
    const qsizetype notesOfA = notesOf(u"a"_s), notesOfB = notesOf(u"b"_s);

    service->control("POST", "/__dev/latency", { { u"ms"_s, 400 }, { u"path"_s, u"/blob/*"_s } });
    const QString first = exported(u"Session_progress"_s, 3 << 20, 2 << 20, a);
    QList<double> shown;
    QObject::connect(&model, &QAbstractItemModel::dataChanged, [&] {
        const double progress = model.data(model.index(0), PendingUploadsModel::ProgressRole).toDouble();
        if (progress >= 0 && (shown.isEmpty() || shown.last() != progress))
            shown << progress;
    });
    // "Transcribing audio…" after the first wait, "Generating meeting notes…" after the second, here an hour.
    launch({ 10ms, 1h, 200ms, 50 });
    ASSERT_TRUE(reaches(first, UploadStatus::Processing, 30000));
    EXPECT_EQ(std::pair(shown.value(0, -1), shown.value(shown.size() - 1, -1)), std::pair(0.0, 1.0)) << "start and end";
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
    EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [](double p) { return p > 0.5 && p < 0.7; }))
        << "the microphone's 3 of 5 MB count before the system track starts, a step between";
    ASSERT_TRUE(reaches(first, UploadStatus::Transcribing, 10000));
    launch(); // the next run follows the note on to the end
    QStringList ready; // the titles of made notes
    QObject::connect(
        library.get(), &RecordingLibrary::noteReady, [&](qint64, const QString& title) { ready << title; });
    ASSERT_TRUE(reaches(first, UploadStatus::Done, 30000));
    EXPECT_TRUE(ready.size() == 1 && !ready[0].isEmpty()) << "the made note is told with its title";

    // A signs out during the system track's upload and B signs in: nothing of A's goes on, B cannot send it,
    // B's own and the signed-out recording go to B only when B says so; A, back, gets the rest.
    service->control("POST", "/__dev/latency", { { u"ms"_s, 1500 }, { u"path"_s, u"/blob/*"_s } });
    Log::Capture log;
    const QString ofA = exported(u"Session_of_a"_s, 300000, 200000, a);
    await(library->scan());
    ASSERT_TRUE(waitUntil([&] { return log.containsPrefix(u"[Upload] step 4: uploading system"_s); }, 20000));
    EXPECT_TRUE(!library->discard(ofA, false) && QDir(ofA).exists()) << "not to the trash while it uploads";
    account = std::nullopt, library->accountChanged(); // signed out
    const QString ofB = exported(u"Session_of_b"_s, 200000, 100000, b);
    const QString unowned = exported(u"Session_signed_out"_s, 200000, 100000, std::nullopt);
    account = b, library->accountChanged();
    ASSERT_TRUE(reaches(ofB, UploadStatus::Processing, 20000));
    ASSERT_TRUE(library->card(ofA));
    library->retry(ofA);
    EXPECT_EQ(library->signedOutQuestion(), u"Upload 1 recording made while signed out to b@example.com?"_s);
    library->uploadSignedOut();
    ASSERT_TRUE(reaches(unowned, UploadStatus::Processing, 20000));
    EXPECT_EQ(SessionJournal::read(unowned)->owner(), std::optional(b));
    const auto notesAre = [&](qsizetype ofA, qsizetype ofB) {
        return waitUntil([&] { return std::pair(notesOf(u"a"_s), notesOf(u"b"_s)) == std::pair(ofA, ofB); }, 10000);
    };
    EXPECT_TRUE(notesAre(notesOfA + 1, notesOfB + 2)) << "B's own and the signed-out one, nothing of A's";
    EXPECT_EQ(stage(ofA), UploadStatus::Idle) << "Retry on another account's card does nothing";
    account = a, library->accountChanged();
    ASSERT_TRUE(reaches(ofA, UploadStatus::Processing, 20000));
    EXPECT_EQ(service->requestCount(u"PUT"_s, "/blob/*", 300000), 1) << "the microphone track is sent once";
    EXPECT_TRUE(notesAre(notesOfA + 2, notesOfB + 2));

    // A failed upload the user kept on this computer is not retried; one whose tracks never came out at the stop is.
    const QString kept = exported(u"Session_kept"_s, 200000, 100000, a);
    service->control("POST", "/__dev/faults",
        { { u"path"_s, u"/api/desktop/meeting-notes/upload-token"_s }, { u"status"_s, 500 }, { u"count"_s, 3 } });
    await(library->scan());
    ASSERT_TRUE(reaches(kept, UploadStatus::Failed, 10000));
    library->discard(kept, true);
    library->retry(kept); // as from the notification of its failure
    EXPECT_FALSE(library->queue()->isActive(kept)) << "a recording the user kept on this computer is not sent";
    const QString recorded = recordTwoSeconds(documents.path()).sessionDirectory;
    SessionJournal failedExport(recorded);
    failedExport.setOwner(a), failedExport.setFinalized(2.0);
    failedExport.setFailed({ u"No audio file produced"_s, 0, std::nullopt }), failedExport.save();
    launch();
    ASSERT_TRUE(reaches(recorded, UploadStatus::Failed, 10000)) << "offered at the next start";
    library->retry(recorded);
    ASSERT_TRUE(reaches(recorded, UploadStatus::Done, 30000));
    EXPECT_TRUE(SessionJournal::read(recorded)->system()) << "both tracks exported again";

    // One made while the service is away waits and goes on when it is back; its computer sound never came out, so
    // those segments stay when the note is made.
    const QString away = exported(u"Session_offline"_s, 200000, 0, a);
    const int port = service->port();
    log.clear(), service->kill();
    QList<UploadStatus> statuses;
    QObject::connect(library->queue(), &UploadQueue::statusChanged, [&](auto, auto s) { statuses << s; });
    await(library->scan());
    ASSERT_TRUE(reaches(away, UploadStatus::WaitingForNetwork, 10000));
    ASSERT_TRUE(waitUntil([&] { return log.count(u"[Upload] waiting for the network"_s) >= 2; }, 10000))
        << "a second round of tries finds no network either: tries are not spent while it is away";
    ASSERT_TRUE(start(port));
    ASSERT_TRUE(reaches(away, UploadStatus::Done, 30000));
    EXPECT_FALSE(std::ranges::any_of(statuses, [](auto s) { return s.stage() == UploadStatus::Failed; }));
    EXPECT_EQ(SessionJournal::read(away)->stage(), SessionJournal::Stage::Done) << "the note is made";
    EXPECT_EQ(QDir(away).entryList(QDir::Files).join(u' '), u"journal.json system_track_000.caf upload_track.m4a"_s)
        << "the microphone's segments go, the upload track, the journal and the unsent computer sound stay";
    EXPECT_FALSE(log.lines().join(u'\n').contains(service->url(u"/blob/"_s).toString()))
        << "whoever has a blob's address can download it: the log names blobs only";
}
