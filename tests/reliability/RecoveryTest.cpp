// What a client killed with SIGKILL leaves behind is found at the next start: a
// session killed while it recorded is repaired to everything that reached the disk,
// offered as an interrupted recording, and uploaded on request; and the
// retention sweep removes only what the service has acknowledged.
#include "Await.h"
#include "DevServerProcess.h"
#include "Endpoints.h"
#include "MediaAsset.h"
#include "RecordingRecovery.h"
#include "RecordingRetention.h"
#include "SessionAudio.h"
#include "SessionJournal.h"
#include "SoundPlayer.h"
#include "UploadPipeline.h"
#include "UploadQueue.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <iostream>

using namespace Qt::StringLiterals;

namespace {

struct Killed {
    QString session;
    // Sound the child had delivered when it died.
    double soundSeconds = 0;
};

// Starts the recording child in `documents`, lets it record `seconds` of sound and kills it.
Killed recordAndKill(const QString& documents, double seconds)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QStringLiteral(RECORDING_CHILD), { documents });
    if (!child.waitForStarted())
        return {};
    QString session;
    QElapsedTimer sinceSound;
    QByteArray pending;
    const QDeadlineTimer deadline(30000);
    while (!(sinceSound.isValid() && sinceSound.elapsed() >= seconds * 1000) && !deadline.hasExpired()
        && child.state() == QProcess::Running) {
        child.waitForReadyRead(50);
        pending += child.readAllStandardOutput();
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1)) {
            const QByteArray line = pending.left(end);
            if (line.startsWith("recording "))
                session = QString::fromLocal8Bit(line.mid(10));
            else if (line.startsWith("duration ") && line.split(' ').value(3).toFloat() > 0 && !sinceSound.isValid())
                sinceSound.start();
        }
    }
    const bool killed = child.state() == QProcess::Running && sinceSound.isValid();
    child.kill();
    const double sound = killed ? sinceSound.elapsed() / 1000.0 : 0;
    child.waitForFinished();
    return { killed ? session : QString(), sound };
}

void makeFile(const QString& path, qint64 bytes)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(QByteArray(bytes, 'a'));
}

}

TEST(Recovery, KilledRecordingIsRepairedOfferedAndUploadedOnRequest)
{
    const SoundPlayer speech(u"micfeed"_s, 300);
    const SoundPlayer meeting(u"speakers"_s, 440);
    QTemporaryDir documents;
    const Killed killed = recordAndKill(documents.path(), 5.0);
    const QString session = killed.session;
    ASSERT_FALSE(session.isEmpty()) << "no sound was recorded before the kill";
    const double writtenMic = SourceOnDisk::read(session, u"mic_track_"_s).writtenSeconds();
    const double writtenSystem = SourceOnDisk::read(session, u"system_track_"_s).writtenSeconds();
    ASSERT_GT(writtenMic, 4.0);
    // As the kill left it: never finalized, one segment per source, readable up to its last header update.
    EXPECT_FALSE(QDir(session).exists(u"metadata.json"_s));
    for (const auto& [prefix, channels] : { std::pair { u"mic_track_"_s, 1 }, std::pair { u"system_track_"_s, 2 } }) {
        SCOPED_TRACE(prefix.toStdString());
        const SourceOnDisk source = SourceOnDisk::read(session, prefix);
        ASSERT_EQ(source.fileNames.size(), 1);
        ASSERT_TRUE(source.allOpened());
        EXPECT_EQ(source.segments.front().sampleRate, 48000);
        EXPECT_EQ(source.segments.front().channels, channels);
        EXPECT_GE(source.seconds(), source.writtenSeconds() - 1.1);
        EXPECT_LE(source.seconds(), source.writtenSeconds());
    }

    RecordingRecovery recovery(QDir(documents.path()).filePath(u"Echoquill Recordings"_s));
    QElapsedTimer clock;
    clock.start();
    await(recovery.scan());
    const qint64 recoveryMs = clock.elapsed();
    ASSERT_EQ(recovery.sessions().size(), 1);
    EXPECT_EQ(recovery.sessions().front().folder, session);
    EXPECT_GE(recovery.sessions().front().durationSeconds, writtenMic - 0.01);

    // Everything that reached the disk plays, to its last whole frame, and the upload tracks hold it.
    for (const auto& [prefix, written, track] : { std::tuple { u"mic_track_"_s, writtenMic, u"upload_track.m4a"_s },
             std::tuple { u"system_track_"_s, writtenSystem, u"system_upload.m4a"_s } }) {
        SCOPED_TRACE(prefix.toStdString());
        const SourceOnDisk source = SourceOnDisk::read(session, prefix);
        ASSERT_TRUE(source.allOpened());
        EXPECT_GE(source.seconds(), written - 0.001);
        EXPECT_LE(source.seconds(), written + 0.001) << "nothing is doubled";
        EXPECT_GT(source.rms(source.seconds() - 0.3, source.seconds()), 0.1)
            << "the end of what was written is the tone";
        EXPECT_GE(MediaAsset(QDir(session).filePath(track)).durationSeconds(), written - 0.05);
    }
    EXPECT_TRUE(QFile::exists(QDir(session).filePath(u"metadata.json"_s)));
    std::cout << u"[figure] client killed after %1 s of sound: after recovery the microphone plays %2 s and the "
                 u"system %3 s (all that was written); repair, finalize and both exports took %4 ms\n"_s
                     .arg(killed.soundSeconds, 0, 'f', 2)
                     .arg(SourceOnDisk::read(session, u"mic_track_"_s).seconds(), 0, 'f', 2)
                     .arg(SourceOnDisk::read(session, u"system_track_"_s).seconds(), 0, 'f', 2)
                     .arg(recoveryMs)
                     .toStdString();
    // Until the user chooses, every start offers it again.
    EXPECT_TRUE(RecordingRecovery::recover(session));

    DevServerProcess service;
    ASSERT_TRUE(service.isRunning());
    Endpoints::setServiceOrigin(service.origin());
    const QString token = service.signIn();
    UploadPipeline pipeline(service.url(u"/blob/"_s).toString());
    UploadQueue queue(&pipeline);
    std::optional<qint64> noteId;
    QObject::connect(&recovery, &RecordingRecovery::uploadRequested, &queue, [&](const QString& folder) {
        queue.submit(folder, token, [&](const UploadStatus& status) {
            if (status.stage() == UploadStatus::Processing)
                noteId = status.noteId().value_or(0);
        });
    });
    recovery.upload(session);
    EXPECT_TRUE(recovery.sessions().isEmpty());
    ASSERT_TRUE(waitUntil([&] { return noteId.has_value(); }, 30000));
    EXPECT_GT(*noteId, 0);
    EXPECT_FALSE(RecordingRecovery::recover(session)) << "an uploaded session is not offered again";
}

TEST(Recovery, RetentionRemovesOnlyWhatTheServiceAcknowledged)
{
    QTemporaryDir root;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    enum class Kind { Done, Failed, Interrupted };
    struct Case {
        const char* name;
        Kind kind;
        int ageDays;
        bool folderStays;
        bool segmentsStay;
    };
    const Case cases[] = {
        { "Session_done_recent", Kind::Done, 2, true, false },
        { "Session_done_old", Kind::Done, 31, false, false },
        { "Session_failed_old", Kind::Failed, 90, true, true },
        { "Session_interrupted_old", Kind::Interrupted, 90, true, true },
    };
    for (const Case& c : cases) {
        const QString folder = QDir(root.path()).filePath(QString::fromLatin1(c.name));
        QDir().mkpath(folder);
        for (const char* file :
            { "mic_track_000.caf", "system_track_000.caf", "upload_track.m4a", "system_upload.m4a" })
            makeFile(QDir(folder).filePath(QString::fromLatin1(file)), 300000);
        SessionJournal journal(folder, now.addDays(-c.ageDays));
        journal.setFinalized(1.0);
        journal.setExported(u"upload_track.m4a"_s, u"system_upload.m4a"_s);
        if (c.kind == Kind::Done) {
            journal.setNotified(7);
            journal.setDone();
        } else if (c.kind == Kind::Failed) {
            journal.setFailed({ u"Network error"_s, 3, std::nullopt });
        } else {
            journal.setInterrupted(true);
        }
        journal.save();
    }

    RecordingRetention::sweep(root.path(), RecordingRetention::defaultDays, now);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QDir folder(QDir(root.path()).filePath(QString::fromLatin1(c.name)));
        EXPECT_EQ(folder.exists(), c.folderStays);
        if (!c.folderStays)
            continue;
        EXPECT_EQ(folder.exists(u"mic_track_000.caf"_s), c.segmentsStay);
        EXPECT_EQ(folder.exists(u"system_track_000.caf"_s), c.segmentsStay);
        EXPECT_TRUE(folder.exists(u"upload_track.m4a"_s) && folder.exists(u"system_upload.m4a"_s));
        EXPECT_TRUE(folder.exists(SessionJournal::fileName));
    }

    // Files beside the sessions (the recorder's disk reserve) are not recordings.
    makeFile(QDir(root.path()).filePath(u"reserve"_s), 2000000);
    RecordingRetention retention(root.path());
    retention.refresh();
    EXPECT_TRUE(waitUntil([&] { return retention.summary() == u"Recordings on this computer: 3 · 3 MB"_s; }))
        << retention.summary().toStdString();
}
