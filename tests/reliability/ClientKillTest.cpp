// A client killed with SIGKILL in the middle of a recording: the segment
// files it leaves open with libsndfile and play both sources' audio up to
// about a second before the kill (the writer brings each file's header up to
// date after every second of audio; what came after is in the file, unnamed).
#include "SessionAudio.h"
#include "TonePlayer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <iostream>

using namespace Qt::StringLiterals;

TEST(ClientKill, SegmentsOfAKilledRecordingPlayUpToAboutASecondBeforeTheKill)
{
    const TonePlayer speech(u"micfeed"_s, 300);
    const TonePlayer meeting(u"speakers"_s, 440);
    QTemporaryDir documents;
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QStringLiteral(RECORDING_CHILD), {documents.path()});
    ASSERT_TRUE(child.waitForStarted());
    const auto reap = qScopeGuard([&] {
        child.kill();
        child.waitForFinished();
    });

    // Lets it record 4 seconds of sound from the moment its recorder shows a level (the sound server
    // may take a second or so to deliver the first buffer), then kills it without warning.
    QString session;
    QElapsedTimer sinceStart, sinceSound;
    double duration = 0;
    QByteArray pending;
    const QDeadlineTimer deadline(30000);
    while (!(sinceSound.isValid() && sinceSound.elapsed() >= 4000) && !deadline.hasExpired()
           && child.state() == QProcess::Running) {
        child.waitForReadyRead(50);
        pending += child.readAllStandardOutput();
        while (pending.contains('\n')) {
            const qsizetype end = pending.indexOf('\n');
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            if (line.startsWith("recording ")) {
                session = QString::fromLocal8Bit(line.mid(10));
                sinceStart.start();
            } else if (line.startsWith("duration ")) {
                const QList<QByteArray> words = line.split(' ');
                duration = words.value(1).toDouble();
                if (words.value(3).toFloat() > 0 && !sinceSound.isValid())
                    sinceSound.start();
            }
        }
    }
    ASSERT_EQ(child.state(), QProcess::Running) << "the recording child ended by itself";
    ASSERT_FALSE(session.isEmpty()) << "no recording started";
    ASSERT_TRUE(sinceSound.isValid()) << "no sound reached the recorder";
    ASSERT_TRUE(speech.isPlaying() && meeting.isPlaying());
    child.kill();
    const double recorded = sinceSound.elapsed() / 1000.0;
    const double firstSoundAt = (sinceStart.elapsed() - sinceSound.elapsed()) / 1000.0;
    ASSERT_TRUE(child.waitForFinished());
    ASSERT_EQ(child.exitStatus(), QProcess::CrashExit);

    const QDir dir(session);
    EXPECT_FALSE(dir.exists(u"metadata.json"_s)) << "the session was never finalized";
    std::cout << u"[figure] client killed with SIGKILL after %1 s of sound (its recorder showed %2 s, the first "
                   u"sound %3 s after the start):"_s
                     .arg(recorded, 0, 'f', 2).arg(duration, 0, 'f', 1).arg(firstSoundAt, 0, 'f', 2).toStdString();
    for (const auto &[prefix, channels] : {std::pair{u"mic_track_"_s, 1}, std::pair{u"system_track_"_s, 2}}) {
        SCOPED_TRACE(prefix.toStdString());
        const SourceOnDisk source = SourceOnDisk::read(session, prefix);
        ASSERT_EQ(source.fileNames.size(), 1u) << source.fileNames.join(u' ').toStdString();
        ASSERT_TRUE(source.allOpened());
        EXPECT_EQ(source.segments.front().sampleRate, 48000);
        EXPECT_EQ(source.segments.front().channels, channels);
        const double seconds = source.seconds();
        const double written = source.writtenSeconds();
        // What plays reaches the last header update: at most a second and one buffer back from what was written.
        EXPECT_GE(seconds, written - 1.1);
        EXPECT_LE(seconds, written);
        // What was written trails the sound only by what the sound server and the write queue still held.
        EXPECT_GE(written, recorded - 0.5);
        EXPECT_LE(written, recorded + 0.5);
        // It is the tone all along, to the end of what is on disk.
        EXPECT_GT(source.rms(0.5, seconds / 2), 0.1);
        EXPECT_GT(source.rms(seconds - 0.5, seconds), 0.1);
        std::cout << u" %1 opens and plays %2 s of the %3 s written%4"_s.arg(source.fileNames.front())
                         .arg(seconds, 0, 'f', 2).arg(written, 0, 'f', 2).arg(channels == 1 ? u","_s : u"\n"_s)
                         .toStdString();
    }
}
