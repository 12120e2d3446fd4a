// A session killed with SIGKILL while it recorded is repaired at the next start to all that reached the disk,
// its upload tracks taken from what it encoded while recording plus the rest, offered as interrupted and uploaded
// on request; the retention sweep removes only what the service acknowledged.
#include "Await.h"
#include "DevServerProcess.h"
#include "Endpoints.h"
#include "Log.h"
#include "MediaAsset.h"
#include "RecordingLibrary.h"
#include "RecordingRecovery.h"
#include "RecordingRetention.h"
#include "SessionAudio.h"
#include "SessionJournal.h"
#include "SoundPlayer.h"
#include "TestFiles.h"
#include "UploadPipeline.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>

using namespace Qt::StringLiterals;

namespace {

// Runs the recording child in `documents` until both sources have `seconds` of sound on disk, then kills it: its
// session (empty when it got no further).
QString recordAndKill(const QString& documents, double seconds)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QStringLiteral(RECORDING_CHILD), { documents });
    QString session;
    const auto enough = [&] {
        return !session.isEmpty() && SourceOnDisk::read(session, u"mic_track_"_s).writtenSeconds() >= seconds
            && SourceOnDisk::read(session, u"system_track_"_s).writtenSeconds() >= seconds;
    };
    for (const QDeadlineTimer deadline(30000);
         child.state() != QProcess::NotRunning && !deadline.hasExpired() && !enough();) {
        for (child.waitForReadyRead(50); child.canReadLine();)
            if (const QByteArray line = child.readLine().chopped(1); line.startsWith("recording "))
                session = QString::fromLocal8Bit(line.mid(10));
    }
    const bool killed = child.state() == QProcess::Running && enough();
    child.kill(), child.waitForFinished();
    return killed ? session : QString();
}

}

TEST(Recovery, KilledRecordingIsRepairedOfferedAndUploadedOnRequest)
{
    const SoundPlayer speech(u"micfeed"_s, 300), meeting(u"speakers"_s, 440);
    QTemporaryDir documents;
    const QString session = recordAndKill(documents.path(), 4.0);
    ASSERT_FALSE(session.isEmpty()) << "four seconds were not recorded before the kill";
    const double writtenMic = SourceOnDisk::read(session, u"mic_track_"_s).writtenSeconds();
    const double writtenSystem = SourceOnDisk::read(session, u"system_track_"_s).writtenSeconds();
    // As the kill left it: never finalized, one segment per source, readable up to its last header update.
    EXPECT_FALSE(QDir(session).exists(u"metadata.json"_s));
    for (const auto& [prefix, channels] : { std::pair { u"mic_track_"_s, 1 }, std::pair { u"system_track_"_s, 2 } }) {
        const SourceOnDisk source = SourceOnDisk::read(session, prefix);
        ASSERT_TRUE(source.fileNames.size() == 1 && source.allOpened()) << prefix.toStdString();
        EXPECT_EQ(std::pair(source.segments[0].sampleRate, source.segments[0].channels), std::pair(48000, channels));
        EXPECT_NEAR(source.seconds(), source.writtenSeconds() - 0.55, 0.55) << prefix.toStdString();
    }

    // The child's tracks were encoded while it recorded and reached the disk every second.
    for (const QString& track : { u"upload_track.m4a"_s, u"system_upload.m4a"_s })
        ASSERT_TRUE(QFile::exists(QDir(session).filePath(track + u".checkpoint"_s))) << track.toStdString();
    RecordingRecovery recovery(QDir(documents.path()).filePath(u"Echoquill Recordings"_s));
    QElapsedTimer clock;
    clock.start();
    Log::Capture log;
    await(recovery.scan());
    const auto played = [&](const QString& prefix) { return SourceOnDisk::read(session, prefix).seconds(); };
    std::cout << u"[figure] client killed with %1 s of microphone written: after recovery the microphone plays %2 s "
                 u"and the system %3 s (all that was written); repair, finalize and both exports took %4 ms\n"_s
                     .arg(writtenMic, 0, 'f', 2)
                     .arg(played(u"mic_track_"_s), 0, 'f', 2)
                     .arg(played(u"system_track_"_s), 0, 'f', 2)
                     .arg(clock.elapsed())
                     .toStdString();
    ASSERT_EQ(recovery.sessions().size(), 1);
    EXPECT_EQ(recovery.sessions().front().folder, session);
    EXPECT_GE(recovery.sessions().front().durationSeconds, writtenMic - 0.01);
    // Everything that reached the disk plays, to its last whole frame, and the upload tracks hold it.
    for (const auto& [prefix, written, track] : { std::tuple { u"mic_track_"_s, writtenMic, u"upload_track.m4a"_s },
             std::tuple { u"system_track_"_s, writtenSystem, u"system_upload.m4a"_s } }) {
        const SourceOnDisk source = SourceOnDisk::read(session, prefix);
        ASSERT_TRUE(source.allOpened()) << prefix.toStdString();
        EXPECT_NEAR(source.seconds(), written, 0.001) << "all, and nothing doubled";
        EXPECT_GT(source.rms(source.seconds() - 0.3, source.seconds()), 0.1) << "the last of it is the tone";
        // Taken from what was encoded while recording up to its checkpoint, the rest from the segments: each
        // sample where the segment has it, the join included (after the first second, where the first
        // checkpoint is; the tone's onset before it may leave the coder's pre-echo).
        EXPECT_TRUE(log.containsPrefix(u"[RecordingRecovery] "_s + track + u": took the "_s)) << track.toStdString();
        const QString file = QDir(session).filePath(track);
        const TestAudio::SegmentContents& recorded = source.segments[0];
        EXPECT_NEAR(TestAudio::probe(file).durationSeconds * recorded.sampleRate, double(recorded.frames()), 1.0);
        const std::vector<float> decoded = TestAudio::decodeMono(file);
        ASSERT_GE(decoded.size(), recorded.frames()) << track.toStdString();
        double worst = 0;
        for (std::size_t block = 46 * 1024; block + 1024 <= recorded.frames(); block += 1024) {
            double error = 0;
            for (std::size_t i = block; i < block + 1024; ++i)
                error += std::pow(decoded[i] - recorded.interleaved[i * std::size_t(recorded.channels)], 2);
            worst = std::max(worst, std::sqrt(error / 1024));
        }
        EXPECT_LT(worst, 0.03) << track.toStdString();
    }
    EXPECT_TRUE(QDir(session).entryList({ u"*.part"_s, u"*.checkpoint"_s, u"*.tmp"_s }).isEmpty());
    EXPECT_TRUE(QFile::exists(QDir(session).filePath(u"metadata.json"_s)) && RecordingRecovery::recover(session))
        << "finalized, and until the user chooses every start offers it again";

    // Recorded while nobody was signed in: the account that signs in is asked, and its answer uploads it.
    DevServerProcess service;
    Endpoints::setServiceOrigin(service.origin());
    UploadPipeline pipeline(service.url(u"/blob/"_s).toString());
    RecordingLibrary library(
        nullptr,
        [] {
            return std::optional(SessionJournal::Owner { u"me"_s, u"me@example.com"_s });
        },
        [token = service.signIn()] { return std::optional(token); }, recovery.recordingsFolder(), &pipeline);
    await(library.scan());
    library.uploadSignedOut();
    ASSERT_TRUE(waitUntil([&] { return library.card(session) && library.card(session)->noteId; }, 30000));
    EXPECT_GT(*library.card(session)->noteId, 0);
    EXPECT_FALSE(RecordingRecovery::recover(session)) << "an uploaded session is not offered again";
}

TEST(Recovery, RetentionRemovesOnlyWhatTheServiceAcknowledgedCountingFromItsNote)
{
    QTemporaryDir root;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    using Kind = SessionJournal::Kind;
    static constexpr auto sent = [](SessionJournal& j, qint64 note) {
        j.setUploaded(Kind::Mic, u"http://blob/m"_s), j.setUploaded(Kind::System, u"http://blob/s"_s);
        j.setNotified(note);
    };
    const auto noted
        = +[](SessionJournal& j, int days) { sent(j, 7), j.setDone(QDateTime::currentDateTimeUtc().addDays(-days)); };
    const auto noNoteId = +[](SessionJournal& j, int) { sent(j, 0), j.setDone(); };
    const auto failed = +[](SessionJournal& j, int) { j.setFailed({ u"Network error"_s, 3, std::nullopt }); };
    const auto interrupted = +[](SessionJournal& j, int) { j.setInterrupted(true); };
    const QStringList uploaded { SessionJournal::fileName, u"system_upload.m4a"_s, u"upload_track.m4a"_s },
        all { uploaded[0], u"mic_track_000.caf"_s, u"system_track_000.caf"_s, uploaded[1], uploaded[2] };
    // How the session ended, days since its note (or its start), the files left of it after the sweep (tracks and
    // journal stay together); the first were recorded 40 days ago.
    const std::tuple<decltype(noted), int, QStringList> cases[] = { { noted, 1, uploaded }, { noted, 31, {} },
        { noNoteId, 90, all }, { failed, 90, all }, { interrupted, 90, all } };
    const auto folderOf = [&](const auto& c) { return QDir(root.path()).filePath(u"Session_%1"_s.arg(&c - cases)); };
    for (const auto& c : cases) {
        QDir().mkpath(folderOf(c));
        for (const QString& file : all.mid(1))
            writeBytes(QDir(folderOf(c)).filePath(file), 300000);
        SessionJournal journal(folderOf(c), now.addDays(-std::max(40, std::get<1>(c))));
        journal.setFinalized(1.0);
        journal.setExported(
            { uploaded[2], { all[1] }, {}, {} }, SessionJournal::Track { uploaded[1], { all[2] }, {}, {} });
        std::get<0>(c)(journal, std::get<1>(c));
        journal.save();
    }
    // A link among the sessions is not followed: what it points to is not this folder's to remove.
    QTemporaryDir elsewhere;
    const QString away = elsewhere.filePath(u"Session_away"_s);
    SessionJournal old(away, now.addDays(-40));
    noted(old, 31);
    ASSERT_TRUE(QDir().mkpath(away) && (old.save(), QFile::link(away, QDir(root.path()).filePath(u"Session_link"_s))));
    RecordingRetention::sweep(root.path(), RecordingRetention::defaultDays, now);
    EXPECT_TRUE(QFile::exists(old.path()));
    for (const auto& c : cases) {
        const QDir folder(folderOf(c));
        const QStringList& kept = std::get<2>(c);
        EXPECT_EQ(std::pair(folder.exists(), folder.entryList(QDir::Files)), std::pair(!kept.isEmpty(), kept));
    }

    // Files beside the sessions (the recorder's disk reserve) are not recordings.
    writeBytes(QDir(root.path()).filePath(u"reserve"_s), 2000000);
    RecordingRetention retention(root.path());
    retention.refresh();
    EXPECT_TRUE(waitUntil([&] { return retention.summary() == u"Recordings on this computer: 4 · 4 MB"_s; }))
        << retention.summary().toStdString();
}
