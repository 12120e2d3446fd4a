// The desktop's sound server stopped mid-recording and started again with the same devices, within the settle wait or
// after a long outage: the recording goes on in the same session and what was on disk stays unchanged.
#include "AudioRecorder.h"
#include "Await.h"
#include "Log.h"
#include "QuickRecorder.h"
#include "SessionAudio.h"
#include "SoundPlayer.h"
#include "SoundTools.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <iostream>

using namespace Qt::StringLiterals;

namespace {

// The sound server of scripts/with-test-env (PulseAudio or PipeWire), stopped and started again as that script does.
struct DesktopSoundServer {
    static bool isUp() { return SoundTools::pactl({ u"info"_s }).has_value(); }
    // Asks the daemons to quit (SIGTERM), as a crash of their own or an upgrade would end them, and waits until gone.
    static bool stop()
    {
        return control(u"stop"_s) && waitUntil([] { return !isUp(); }, 10000);
    }
    static bool start() { return control(u"start"_s) && waitUntil(isUp, 10000); }
    static bool control(const QString& command)
    {
        QProcess script;
        script.setStandardOutputFile(QProcess::nullDevice());
        script.start(QStringLiteral(TEST_SOUND_SERVER), { command });
        return script.waitForFinished(20000) && script.exitStatus() == QProcess::NormalExit && script.exitCode() == 0;
    }
    // What later tests rely on: the default devices, and every sink and source with its sample format.
    static QString layout()
    {
        const auto ask = [](const QStringList& args) { return SoundTools::pactl(args).value_or(QString()).trimmed(); };
        QStringList out;
        for (const QString& what : { u"sink"_s, u"source"_s }) {
            out << u"default "_s + what + u' ' + ask({ u"get-default-"_s + what });
            for (const QString& row : ask({ u"list"_s, u"short"_s, what + u's' }).split(u'\n', Qt::SkipEmptyParts))
                if (const QStringList columns = row.split(u'\t'); columns.size() >= 4)
                    out << what + u' ' + columns[1] + u' ' + columns[3];
        }
        return out.join(u'\n');
    }
};

class SoundServerRestartTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(DesktopSoundServer::isUp() && qEnvironmentVariableIsSet("ECHOQUILL_TEST_TMP"))
            << "run inside scripts/with-test-env";
    }
    // Later tests find the server as scripts/with-test-env left it, whatever happened here.
    void TearDown() override
    {
        ASSERT_TRUE(DesktopSoundServer::isUp() || DesktopSoundServer::start()) << "the server did not start again";
        EXPECT_EQ(DesktopSoundServer::layout().toStdString(), layoutBefore.toStdString());
    }
    const QString layoutBefore = DesktopSoundServer::layout();
};

}

TEST_F(SoundServerRestartTest, ARecordingKeepsWhatItHadAndGoesOnInTheSameSession)
{
    // Back before the restart looks for it, or after five failed tries to reconnect (about six seconds).
    const std::pair<const char*, int> cases[]
        = { { "back within the settle wait", 0 }, { "back after five failed reconnects", 5 } };
    for (const auto& [name, failedReconnects] : cases) {
        SCOPED_TRACE(name);
        const bool backWithinSettle = failedReconnects == 0;
        QTemporaryDir documents;
        Log::Capture log;
        // The real waits: the settle wait, the cooldown and the reconnect's backoff are what a user gets.
        const CaptureTimings timings;
        AudioRecorder recorder(captureManagers(documents.path(), timings));
        QString session;
        const auto onDisk = [&] { // microphone, system output
            return std::array { SourceOnDisk::read(session, u"mic_track_"_s),
                SourceOnDisk::read(session, u"system_track_"_s) };
        };
        std::array<SourceOnDisk, 2> atFault;
        QElapsedTimer clock;
        double faultAt = 0;
        {
            const SoundPlayer speech(u"micfeed"_s, 300), meeting(u"speakers"_s, 440);
            recorder.start();
            ASSERT_TRUE(waitUntil([&] { return recorder.isRecording() && recorder.audioLevel() > 0; }, 15000));
            clock.start();
            ASSERT_TRUE(recorder.systemAudioAvailable());
            session = recorder.sessionFolder().value_or(QString());
            // Until both files hold audio (headers are rewritten about every second; first buffers may come late).
            waitUntil([&] { return atFault = onDisk(), atFault[0].seconds() > 1 && atFault[1].seconds() > 1; }, 15000);
            faultAt = clock.elapsed() / 1000.0;
            ASSERT_TRUE(DesktopSoundServer::stop());
        }
        for (const SourceOnDisk& source : atFault)
            ASSERT_TRUE(source.allOpened() && source.seconds() > 0.5) << source.seconds();

        const QString manager = u"[AudioCaptureManager] "_s;
        const auto managerLog = [&] { return log.lines().filter(manager).join(u'\n').toStdString(); };
        if (!backWithinSettle) {
            // The restart fails while the server is away; the widget shows it instead of a frozen level.
            ASSERT_TRUE(waitUntil([&] { return recorder.isReconnectingAudio(); }, 15000)) << managerLog();
            EXPECT_TRUE(recorder.isRecording()) << "a failed restart does not end the recording";
            const QString failed = manager + u"Reconnect attempt %1 failed: "_s.arg(failedReconnects);
            ASSERT_TRUE(waitUntil([&] { return log.containsPrefix(failed); }, 20000)) << managerLog();
            ASSERT_TRUE(recorder.isReconnectingAudio()) << "capture came back without a sound server";
        }
        ASSERT_TRUE(DesktopSoundServer::start());
        const double backAt = clock.elapsed() / 1000.0;
        const SoundPlayer speech(u"micfeed"_s, 300), meeting(u"speakers"_s, 440);
        const QString resumed = backWithinSettle ? u"Mic produced buffers after restart"_s : u"Audio flows again"_s;
        ASSERT_TRUE(waitUntil([&] { return log.contains(manager + resumed); }, 15000)) << managerLog();
        const double resumedAt = clock.elapsed() / 1000.0;
        EXPECT_TRUE(waitUntil([&] { return !recorder.isReconnectingAudio() && recorder.systemAudioAvailable(); }, 5000))
            << "the warning goes and the speaker comes back once audio flows";
        EXPECT_TRUE(log.containsPrefix(manager + u"Hardware changed — stopping mic + system tap"_s));
        EXPECT_EQ(recorder.sessionFolder(), session) << "one session folder throughout";
        // Both sources record on after the server came back: in the first segment, or after an outage in a second.
        const auto recordsOn = [&](const SourceOnDisk& now, const SourceOnDisk& before) {
            return now.segments.size() == (backWithinSettle ? 1u : 2u) && now.seconds() > before.seconds() + 1.5;
        };
        ASSERT_TRUE(
            waitUntil([&] { return recordsOn(onDisk()[0], atFault[0]) && recordsOn(onDisk()[1], atFault[1]); }, 15000));

        recorder.stopRecording();
        ASSERT_TRUE(waitUntil([&] { return recorder.lastSavedURL() != session; }, 30000));
        const auto done = onDisk();
        for (int i = 0; i < 2; ++i) {
            const SourceOnDisk &now = done[i], &before = atFault[i];
            ASSERT_TRUE(now.allOpened()) << (i == 0 ? "microphone" : "system output");
            // Nothing on disk at the fault is lost or changed, and it is the tones; a restart goes on in that segment.
            const auto &first = now.segments.front(), &then = before.segments.front();
            EXPECT_TRUE(first.channels == then.channels && first.interleaved.size() >= then.interleaved.size()
                && std::equal(then.interleaved.begin(), then.interleaved.end(), first.interleaved.begin()));
            EXPECT_GT(now.rms(before.seconds() - 0.5, before.seconds()), 0.1);
            if (backWithinSettle)
                continue;
            // After an outage a new segment holds the tone since; no silence stands in for the six seconds before it.
            ASSERT_EQ(now.segments.size(), 2u);
            EXPECT_LT(double(first.frames()) / first.sampleRate, before.seconds() + 3.0);
            const auto& last = now.segments.back();
            EXPECT_GT(TestAudio::rms(last.interleaved, 0, last.interleaved.size()), 0.1) << "the tone after the outage";
        }
        for (const QString& file : { u"upload_track.m4a"_s, u"system_upload.m4a"_s, u"metadata.json"_s })
            EXPECT_TRUE(QDir(session).exists(file)) << qPrintable(file);
        const auto f2 = [](double value) { return QString::number(value, 'f', 2); };
        std::cout << u"[figure] sound server stopped %1 s into a recording, %2 (back at %3 s): audio flowed again %4 s "
                     u"after the server was back%5; on disk: microphone %6 s, system %7 s, what was there at the fault "
                     u"kept\n"_s
                         .arg(f2(faultAt), QString::fromLatin1(name), f2(backAt), f2(resumedAt - backAt),
                             backWithinSettle ? QString() : u", \"Reconnecting audio…\" shown meanwhile"_s,
                             f2(done[0].seconds()), f2(done[1].seconds()))
                         .toStdString();
    }
}
