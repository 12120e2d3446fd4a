// The test desktop's sound server stopped in the middle of a recording and
// started again with the same devices: either before the capture manager's
// settle wait ends (the restart picks the recording up again) or only after a
// long outage (capture waits for the server and resumes in new segments of the
// same session). Whatever was on disk at the fault must still be there, unchanged.
#include "AudioCaptureManager.h"
#include "AudioRecorder.h"
#include "Await.h"
#include "Log.h"
#include "SessionAudio.h"
#include "SoundPlayer.h"
#include "SoundTools.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <iostream>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// The sound server of scripts/with-test-env, stopped and started again as that script starts it.
namespace DesktopSoundServer {

bool isUp()
{
    return SoundTools::pactl({u"info"_s}).has_value();
}

std::optional<pid_t> pid()
{
    QFile file(qEnvironmentVariable("XDG_RUNTIME_DIR") + u"/pulse/pid"_s);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    bool ok = false;
    const int value = file.readAll().trimmed().toInt(&ok);
    return ok ? std::optional(pid_t(value)) : std::nullopt;
}

// A daemon is not our child: once it exits nobody may reap it here, so a zombie counts as gone.
bool isGone(pid_t process)
{
    QFile stat(u"/proc/%1/stat"_s.arg(process));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    const qsizetype end = text.lastIndexOf(')');
    return end >= 0 && text.mid(end + 2, 1) == "Z";
}

// Asks the server to quit, as a crash of its own or an upgrade would end it, and waits until it is gone.
bool stop()
{
    const auto process = pid();
    if (!process || ::kill(*process, SIGTERM) != 0)
        return false;
    return waitUntil([&] { return isGone(*process) && !isUp(); }, 10000);
}

bool start()
{
    const QString log = qEnvironmentVariable("ECHOQUILL_TEST_TMP", QDir::tempPath()) + u"/pulse-restarted.log"_s;
    QProcess daemon;
    daemon.setStandardOutputFile(QProcess::nullDevice());
    daemon.setStandardErrorFile(QProcess::nullDevice());
    daemon.start(u"pulseaudio"_s, {u"-n"_s, u"-F"_s, QStringLiteral(TEST_PULSE_CONFIG), u"--daemonize=yes"_s,
                                   u"--exit-idle-time=-1"_s, u"--log-target=file:"_s + log});
    if (!daemon.waitForFinished(20000) || daemon.exitCode() != 0)
        return false;
    return waitUntil(isUp, 10000);
}

// What later tests rely on: the default devices, and every sink and source with its sample format.
QString layout()
{
    QStringList out{u"default sink "_s + SoundTools::pactl({u"get-default-sink"_s}).value_or(QString()).trimmed(),
                    u"default source "_s + SoundTools::pactl({u"get-default-source"_s}).value_or(QString()).trimmed()};
    for (const QString &what : {u"sinks"_s, u"sources"_s}) {
        const QString rows = SoundTools::pactl({u"list"_s, u"short"_s, what}).value_or(QString());
        for (const QString &row : rows.split(u'\n', Qt::SkipEmptyParts)) {
            const QStringList columns = row.split(u'\t');
            if (columns.size() >= 4)
                out << what + u' ' + columns[1] + u' ' + columns[3];
        }
    }
    return out.join(u'\n');
}

}

struct RestartCase {
    const char *name;
    // Back before the settle wait ends, or only after an outage the restart attempt cannot wait out.
    bool backWithinSettle;
    std::chrono::milliseconds outage;
};

// Whether the first `prefix` frames of `after` are exactly those of `before`.
bool keepsPrefix(const TestAudio::SegmentContents &before, const TestAudio::SegmentContents &after)
{
    return after.channels == before.channels && after.interleaved.size() >= before.interleaved.size()
        && std::memcmp(after.interleaved.data(), before.interleaved.data(), before.interleaved.size() * sizeof(float)) == 0;
}

double rmsOf(const TestAudio::SegmentContents &segment)
{
    return TestAudio::rms(segment.interleaved, 0, segment.interleaved.size());
}

double secondsOf(const TestAudio::SegmentContents &segment)
{
    return segment.sampleRate > 0 ? double(segment.frames()) / segment.sampleRate : 0;
}

class SoundServerRestartTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(DesktopSoundServer::pid()) << "run inside scripts/with-test-env: no sound server of its own";
        layoutBefore = DesktopSoundServer::layout();
    }
    // Later tests find the server as scripts/with-test-env left it, whatever happened here.
    void TearDown() override
    {
        if (!DesktopSoundServer::isUp()) {
            ASSERT_TRUE(DesktopSoundServer::start()) << "the sound server could not be started again";
        }
        EXPECT_EQ(DesktopSoundServer::layout().toStdString(), layoutBefore.toStdString());
    }

    QString layoutBefore;
};

}

TEST_F(SoundServerRestartTest, ARecordingKeepsWhatItHadAndGoesOnInTheSameSession)
{
    const RestartCase cases[] = {
        // A server restarted by its supervisor is back well within the 3 s settle wait.
        {"back within the settle wait", true, 0ms},
        // An update or a crash loop keeps it away far longer; capture waits for it, however long.
        {"back after a 10 s outage", false, 10000ms},
    };
    for (const RestartCase &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir documents;
        Log::Capture log;
        // The real waits: the settle wait, the cooldown and the reconnect's backoff are what a user gets.
        const CaptureTimings timings;
        AudioRecorder recorder(
            [&] {
                AudioTrackWriter::Options options;
                options.documentsDirectory = documents.path();
                return std::make_unique<AudioCaptureManager>(timings, options);
            },
            nullptr);

        QString session;
        SourceOnDisk micAtFault, systemAtFault;
        QElapsedTimer clock;
        double faultAt = 0;
        {
            const SoundPlayer speech(u"micfeed"_s, 300);
            const SoundPlayer meeting(u"speakers"_s, 440);
            recorder.start();
            ASSERT_TRUE(waitUntil([&] { return recorder.isRecording() && recorder.audioLevel() > 0; }, 15000));
            clock.start();
            ASSERT_TRUE(recorder.systemAudioAvailable());
            session = recorder.currentFileURL().value_or(QString());
            // Until both files on disk hold audio at the fault (their headers are rewritten about
            // every second; the test sound server may deliver a source's first buffers late).
            waitUntil(
                [&] {
                    micAtFault = SourceOnDisk::read(session, u"mic_track_"_s);
                    systemAtFault = SourceOnDisk::read(session, u"system_track_"_s);
                    return micAtFault.seconds() > 1 && systemAtFault.seconds() > 1;
                },
                15000);
            faultAt = clock.elapsed() / 1000.0;
            ASSERT_TRUE(DesktopSoundServer::stop());
        }
        ASSERT_TRUE(micAtFault.allOpened() && systemAtFault.allOpened());
        ASSERT_GT(micAtFault.seconds(), 0.5);
        ASSERT_GT(systemAtFault.seconds(), 0.5);

        const QString manager = u"[AudioCaptureManager] "_s;
        bool warned = false;
        if (!c.backWithinSettle) {
            // The restart fails while the server is away; the widget shows it instead of a frozen level.
            ASSERT_TRUE(waitUntil([&] { return recorder.isReconnectingAudio(); }, 15000))
                << log.lines().filter(manager).join(u'\n').toStdString();
            warned = true;
            EXPECT_TRUE(log.containsPrefix(manager + u"Restart failed: "_s));
            EXPECT_TRUE(recorder.isRecording()) << "a failed restart does not end the recording";
            waitUntil([&] { return !recorder.isReconnectingAudio() || clock.elapsed() / 1000.0 >= faultAt + c.outage.count() / 1000.0; },
                      int(c.outage.count()) + 5000);
            ASSERT_TRUE(recorder.isReconnectingAudio()) << "capture came back without a sound server";
        }
        ASSERT_TRUE(DesktopSoundServer::start());
        const double backAt = clock.elapsed() / 1000.0;
        if (c.backWithinSettle) {
            ASSERT_LT(backAt - faultAt, timings.hardwareSettleDelay.count() / 1000.0) << "the server came back too late";
        }
        const SoundPlayer speech(u"micfeed"_s, 300);
        const SoundPlayer meeting(u"speakers"_s, 440);
        const QString resumed = c.backWithinSettle ? u"Mic produced buffers after restart"_s : u"Audio flows again"_s;
        ASSERT_TRUE(waitUntil([&] { return log.contains(manager + resumed); }, 15000))
            << log.lines().filter(manager).join(u'\n').toStdString();
        const double resumedAt = clock.elapsed() / 1000.0;
        EXPECT_TRUE(waitUntil([&] { return !recorder.isReconnectingAudio() && recorder.systemAudioAvailable(); }, 5000))
            << "the warning goes and the speaker comes back once audio flows";
        EXPECT_TRUE(log.containsPrefix(manager + u"Hardware changed — stopping mic + system tap"_s));
        EXPECT_EQ(recorder.currentFileURL(), session) << "one session folder throughout";
        // Both sources record on for a while after the server came back.
        const int segmentsAfter = c.backWithinSettle ? 1 : 2;
        ASSERT_TRUE(waitUntil(
            [&] {
                const SourceOnDisk mic = SourceOnDisk::read(session, u"mic_track_"_s);
                const SourceOnDisk system = SourceOnDisk::read(session, u"system_track_"_s);
                return int(mic.segments.size()) == segmentsAfter && int(system.segments.size()) == segmentsAfter
                    && mic.seconds() > micAtFault.seconds() + 1.5 && system.seconds() > systemAtFault.seconds() + 1.5;
            },
            15000))
            << "both sources record on after the server came back";

        recorder.stopRecording();
        ASSERT_TRUE(waitUntil([&] { return recorder.lastSavedURL() != session; }, 30000));
        const SourceOnDisk mic = SourceOnDisk::read(session, u"mic_track_"_s);
        const SourceOnDisk system = SourceOnDisk::read(session, u"system_track_"_s);
        ASSERT_TRUE(mic.allOpened() && system.allOpened());

        // Nothing that was on disk at the fault is lost or changed, and it is the tones.
        for (const auto& [now, atFault] : { std::pair { &mic, &micAtFault }, std::pair { &system, &systemAtFault } }) {
            EXPECT_TRUE(keepsPrefix(atFault->segments.front(), now->segments.front()));
            EXPECT_GT(now->rms(atFault->seconds() - 0.5, atFault->seconds()), 0.1);
            EXPECT_GT(secondsOf(now->segments.front()), faultAt - 0.75);
        }
        if (c.backWithinSettle) {
            // The first segment goes on after the restart when the format is the same.
            EXPECT_GT(mic.seconds(), faultAt - 0.75 + 1.5) << "the microphone recorded on after the restart";
            EXPECT_GT(system.seconds(), faultAt - 0.75 + 1.0) << "system output recorded on after the restart";
        } else {
            // After an outage both sources go on in new segments that hold the tones played since, and
            // no silence stands in for the gap: the first segments end at the fault.
            ASSERT_EQ(mic.segments.size(), 2u);
            ASSERT_EQ(system.segments.size(), 2u);
            EXPECT_LT(secondsOf(mic.segments.front()), faultAt + 1.0);
            EXPECT_LT(secondsOf(system.segments.front()), faultAt + 1.0);
            EXPECT_GT(rmsOf(mic.segments.back()), 0.1) << "the tone after the outage is in the microphone track";
            EXPECT_GT(rmsOf(system.segments.back()), 0.1) << "the tone after the outage is in the system track";
        }
        const QDir dir(session);
        EXPECT_TRUE(
            dir.exists(u"upload_track.m4a"_s) && dir.exists(u"system_upload.m4a"_s) && dir.exists(u"metadata.json"_s));

        std::cout
            << u"[figure] sound server stopped %1 s into a recording, %2 (back at %3 s): audio flowed again %4 s "
               u"after the server was back%5; on disk: microphone %6 s, system %7 s, what was there at the fault kept\n"_s
                   .arg(faultAt, 0, 'f', 2)
                   .arg(QString::fromLatin1(c.name))
                   .arg(backAt, 0, 'f', 2)
                   .arg(resumedAt - backAt, 0, 'f', 2)
                   .arg(warned ? u", \"Reconnecting audio…\" shown meanwhile"_s : QString())
                   .arg(mic.seconds(), 0, 'f', 2)
                   .arg(system.seconds(), 0, 'f', 2)
                   .toStdString();
    }
}
