#include "AudioCaptureManager.h"
#include "Await.h"
#include "Log.h"
#include "PrivateSoundServer.h"
#include "SoundServerError.h"
#include "SoundPlayer.h"
#include "SoundTools.h"
#include "UploadTrackCheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QString prefix = u"[AudioCaptureManager] "_s;

class AudioCaptureManagerTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        SoundTools::pactl({ u"suspend-source"_s, u"virtual_mic2"_s, u"0"_s });
        SoundTools::pactl({ u"set-default-source"_s, u"virtual_mic"_s });
    }

    // Short waits, but the real cool-down: nothing in these tests waits for it to end.
    static CaptureTimings shortTimings(std::chrono::milliseconds verification = 1500ms)
    {
        return CaptureTimings { 300ms, verification, 50ms, 300ms, 5000ms };
    }

    AudioTrackWriter::Options writerOptions() const
    {
        AudioTrackWriter::Options options;
        options.documentsDirectory = documents.path();
        return options;
    }

    // The manager's lines without their prefix, leaving out the notes about system audio flowing.
    QStringList restartLines() const
    {
        QStringList out;
        for (const QString &line : log.lines()) {
            if (line.startsWith(prefix) && !line.contains(u"First system audio buffer received"_s))
                out << line.mid(prefix.size());
        }
        return out;
    }

    bool logged(const QString &text, int timeoutMs = 10000) const
    {
        return waitUntil([&] { return log.contains(prefix + text); }, timeoutMs);
    }

    // The record streams the server has on `source` now.
    static QStringList streamsOn(const QString &source)
    {
        const QString index = SoundTools::sourceIndex(source);
        QStringList out;
        const QStringList rows = SoundTools::pactl({ u"list"_s, u"short"_s, u"source-outputs"_s }).value_or(QString()).split(u'\n', Qt::SkipEmptyParts);
        for (const QString &row : rows) {
            const QStringList columns = row.split(u'\t');
            if (columns.size() >= 2 && columns[1] == index)
                out << columns[0];
        }
        return out;
    }

    static void pause(int ms) { waitUntil([] { return false; }, ms); }

    // The sources have delivered their first buffers into the writer.
    bool recording(bool withSystem = true) const
    {
        return waitUntil(
            [&] {
                return log.containsPrefix(u"[AudioTrackWriter] Opened mic_track_000.caf"_s)
                    && (!withSystem || log.containsPrefix(u"[AudioTrackWriter] Opened system_track_000.caf"_s));
            },
            10000);
    }

    static std::string joined(const QStringList &lines) { return lines.join(u'\n').toStdString(); }

    QTemporaryDir documents;
    QTemporaryDir scratch;
    Log::Capture log;
};

QJsonArray metadataTracks(const QString &sessionDirectory)
{
    QFile file(QDir(sessionDirectory).filePath(u"metadata.json"_s));
    file.open(QIODevice::ReadOnly);
    return QJsonDocument::fromJson(file.readAll()).object().value("tracks"_L1).toArray();
}

}

TEST_F(AudioCaptureManagerTest, ARecordingYieldsBothUploadTracksOfTheRecordedLength)
{
    const auto tone = SoundPlayer::tone(u"speakers"_s, 30);
    const auto speech = SoundPlayer::file(SoundTools::speechFile(scratch.path()), u"micfeed"_s, 10);
    const int streamsBefore = int(SoundTools::sourceOutputIndices().size());

    AudioCaptureManager manager(shortTimings(), writerOptions());
    std::vector<float> levels;
    int levelsOffMain = 0;
    manager.setOnMicLevel([&](float level) {
        levels.push_back(level);
        levelsOffMain += QThread::currentThread() == QCoreApplication::instance()->thread() ? 0 : 1;
    });
    manager.start();
    EXPECT_TRUE(manager.isRunning());
    EXPECT_TRUE(manager.isSystemAudioRunning());
    const std::optional<QString> session = manager.sessionDirectory();
    ASSERT_TRUE(session);
    EXPECT_EQ(QFileInfo(*session).dir().path(), QDir(documents.path()).filePath(u"Echoquill Recordings"_s));

    // Null sinks deliver their first block late; the recording runs from its first buffers.
    ASSERT_TRUE(recording());
    QElapsedTimer clock;
    clock.start();
    pause(2500);
    const CaptureSessionResult result = await(manager.stopCapture());
    const double recorded = double(clock.elapsed()) / 1000.0;
    EXPECT_FALSE(manager.isRunning());
    EXPECT_FALSE(manager.sessionDirectory());
    EXPECT_EQ(int(SoundTools::sourceOutputIndices().size()), streamsBefore);

    ASSERT_EQ(result.micURL, QDir(*session).filePath(u"upload_track.m4a"_s));
    ASSERT_EQ(result.systemURL, QDir(*session).filePath(u"system_upload.m4a"_s));
    const QJsonArray tracks = metadataTracks(*session);
    ASSERT_EQ(tracks.size(), 2);
    const QString urls[] = { *result.micURL, *result.systemURL };
    const int channels[] = { 1, 2 };
    for (int t = 0; t < 2; ++t) {
        SCOPED_TRACE(urls[t].toStdString());
        const UploadTrackCheck::TrackInfo info = UploadTrackCheck::probe(urls[t]);
        EXPECT_EQ(info.codec, u"aac"_s);
        EXPECT_EQ(info.sampleRate, 48000);
        EXPECT_EQ(info.channels, channels[t]);
        // What the writer counted, and the time recorded give or take a few fragments (the first
        // buffer carries what came before it, the last unfinished fragment is lost at the stop).
        EXPECT_NEAR(info.durationSeconds, tracks.at(t).toObject().value("durationSeconds"_L1).toDouble(), 1024.0 / 48000);
        EXPECT_NEAR(info.durationSeconds, recorded, 0.35);
    }
    // The voice and the tone made it through.
    const auto mic = UploadTrackCheck::decodeMono(*result.micURL);
    const auto system = UploadTrackCheck::decodeMono(*result.systemURL);
    EXPECT_GT(UploadTrackCheck::rms(mic, 0, mic.size()), 0.02);
    EXPECT_NEAR(UploadTrackCheck::rms(system, 24000, system.size() - 24000), 0.5 / std::sqrt(2.0), 0.05);

    EXPECT_GT(levels.size(), 10u);
    EXPECT_EQ(levelsOffMain, 0);
    EXPECT_TRUE(std::all_of(levels.begin(), levels.end(), [](float l) { return l >= 0.0f && l <= 1.0f; }));
    EXPECT_GT(*std::max_element(levels.begin(), levels.end()), 0.08f);
    EXPECT_EQ(log.count(prefix + u"First system audio buffer received — audio is flowing"_s), 1);
    EXPECT_TRUE(restartLines().isEmpty()) << joined(restartLines());
}

TEST_F(AudioCaptureManagerTest, ANewDefaultMicrophoneRestartsCaptureOnceThenCoolsDown)
{
    const auto tone = SoundPlayer::tone(u"speakers"_s, 40);
    const QString speechFile = SoundTools::speechFile(scratch.path());
    const auto speech = SoundPlayer::file(speechFile, u"micfeed"_s, 10);
    const auto speech2 = SoundPlayer::file(speechFile, u"micfeed2"_s, 10);

    AudioCaptureManager manager(shortTimings(), writerOptions());
    manager.start();
    ASSERT_TRUE(recording());

    ASSERT_TRUE(SoundTools::pactl({ u"set-default-source"_s, u"virtual_mic2"_s }));
    ASSERT_TRUE(logged(u"Restarted capture services; cooldown active for 5s"_s));
    // Back to the first microphone within the cool-down: noted and ignored.
    ASSERT_TRUE(SoundTools::pactl({ u"set-default-source"_s, u"virtual_mic"_s }));
    ASSERT_TRUE(logged(u"Ignoring hardware change during cooldown"_s));
    // System audio flows again after the rebuild.
    ASSERT_TRUE(waitUntil([&] { return log.count(prefix + u"First system audio buffer received — audio is flowing"_s) == 2; }, 10000));
    const QStringList lines = restartLines();
    const CaptureSessionResult result = await(manager.stopCapture());

    EXPECT_EQ(joined(lines), joined({
                                 u"Hardware changed — stopping mic + system tap"_s,
                                 u"Starting capture services after hardware settle"_s,
                                 u"Mic produced buffers after restart"_s,
                                 u"Restarted capture services; cooldown active for 5s"_s,
                                 u"Ignoring hardware change during cooldown"_s,
                             }));
    // The session went on in the same directory; the new microphone's format opened a second segment.
    ASSERT_TRUE(result.micURL && result.systemURL);
    const QJsonArray tracks = metadataTracks(QFileInfo(*result.micURL).path());
    ASSERT_FALSE(tracks.isEmpty());
    EXPECT_EQ(tracks.at(0).toObject().value("files"_L1).toArray(), (QJsonArray { u"mic_track_000.caf"_s, u"mic_track_001.caf"_s }));
    const UploadTrackCheck::TrackInfo mic = UploadTrackCheck::probe(*result.micURL);
    EXPECT_EQ(mic.sampleRate, 48000);
    EXPECT_EQ(mic.channels, 1);
    EXPECT_NEAR(mic.durationSeconds, tracks.at(0).toObject().value("durationSeconds"_L1).toDouble(), 0.5);
}

TEST_F(AudioCaptureManagerTest, ASilentMicrophoneAfterARestartIsRetriedAloneOnce)
{
    const auto tone = SoundPlayer::tone(u"speakers"_s, 40);
    const auto speech = SoundPlayer::file(SoundTools::speechFile(scratch.path()), u"micfeed"_s, 10);
    // A suspended source takes a stream and never delivers.
    ASSERT_TRUE(SoundTools::pactl({ u"suspend-source"_s, u"virtual_mic2"_s, u"1"_s }));

    AudioCaptureManager manager(shortTimings(), writerOptions());
    manager.start();
    ASSERT_TRUE(recording());
    ASSERT_TRUE(SoundTools::pactl({ u"set-default-source"_s, u"virtual_mic2"_s }));
    ASSERT_TRUE(logged(u"Starting capture services after hardware settle"_s));
    // While the rebuilt microphone is being verified, the server ends its stream: one more change, ignored.
    ASSERT_TRUE(waitUntil([] { return !streamsOn(u"virtual_mic2"_s).isEmpty(); }, 5000));
    ASSERT_TRUE(SoundTools::killSourceOutput(streamsOn(u"virtual_mic2"_s).value(0)));
    ASSERT_TRUE(logged(u"Restarted capture services; cooldown active for 5s"_s));
    const QStringList lines = restartLines();
    const CaptureSessionResult result = await(manager.stopCapture());

    EXPECT_EQ(joined(lines), joined({
                                 u"Hardware changed — stopping mic + system tap"_s,
                                 u"Starting capture services after hardware settle"_s,
                                 u"Hardware restart already in progress"_s,
                                 u"Mic silent after restart — retrying mic only"_s,
                                 u"Mic-only retry: still silent"_s,
                                 u"Restarted capture services; cooldown active for 5s"_s,
                             }));
    // What the first microphone recorded is still the microphone track.
    EXPECT_TRUE(result.micURL && result.systemURL);
}

TEST_F(AudioCaptureManagerTest, StoppingDuringVerificationLeavesNoStreamOpen)
{
    const auto tone = SoundPlayer::tone(u"speakers"_s, 40);
    const auto speech = SoundPlayer::file(SoundTools::speechFile(scratch.path()), u"micfeed"_s, 10);
    const int streamsBefore = int(SoundTools::sourceOutputIndices().size());
    ASSERT_TRUE(SoundTools::pactl({ u"suspend-source"_s, u"virtual_mic2"_s, u"1"_s }));

    const auto verification = 3000ms;
    AudioCaptureManager manager(shortTimings(verification), writerOptions());
    manager.start();
    ASSERT_TRUE(recording());
    ASSERT_TRUE(SoundTools::pactl({ u"set-default-source"_s, u"virtual_mic2"_s }));
    ASSERT_TRUE(logged(u"Starting capture services after hardware settle"_s));
    ASSERT_TRUE(waitUntil([] { return !streamsOn(u"virtual_mic2"_s).isEmpty(); }, 5000));

    const CaptureSessionResult result = await(manager.stopCapture());
    EXPECT_TRUE(result.micURL);
    EXPECT_EQ(int(SoundTools::sourceOutputIndices().size()), streamsBefore);
    // The restart ended with the stop: past the verification window nothing more happens.
    pause(int(verification.count()) + 500);
    EXPECT_EQ(int(SoundTools::sourceOutputIndices().size()), streamsBefore);
    EXPECT_FALSE(log.contains(prefix + u"Mic silent after restart — retrying mic only"_s));
    EXPECT_FALSE(log.containsPrefix(prefix + u"Restarted capture services"_s));
}

TEST_F(AudioCaptureManagerTest, QuittingFinalizesTheRecordingWithoutExport)
{
    const auto tone = SoundPlayer::tone(u"speakers"_s, 20);
    const auto speech = SoundPlayer::file(SoundTools::speechFile(scratch.path()), u"micfeed"_s, 10);
    const int streamsBefore = int(SoundTools::sourceOutputIndices().size());
    AudioCaptureManager manager(shortTimings(), writerOptions());
    manager.start();
    const QString session = manager.sessionDirectory().value();
    ASSERT_TRUE(recording());

    EXPECT_TRUE(manager.stopForQuit(5000ms));
    EXPECT_FALSE(manager.isRunning());
    EXPECT_EQ(int(SoundTools::sourceOutputIndices().size()), streamsBefore);
    EXPECT_TRUE(log.containsPrefix(u"[AudioTrackWriter] Finalized: "_s));
    EXPECT_EQ(metadataTracks(session).size(), 2);
    EXPECT_TRUE(QDir(session).entryList({ u"*.m4a"_s }).isEmpty());
    // Nothing is left to stop.
    const CaptureSessionResult later = await(manager.stopCapture());
    EXPECT_FALSE(later.micURL || later.systemURL);
    EXPECT_TRUE(QDir(session).entryList({ u"*.m4a"_s }).isEmpty());
}

TEST_F(AudioCaptureManagerTest, AManagerThatNeverStartedStopsWithoutTouchingFiles)
{
    AudioCaptureManager manager(shortTimings(), writerOptions());
    const CaptureSessionResult result = await(manager.stopCapture());
    EXPECT_FALSE(result.micURL);
    EXPECT_FALSE(result.systemURL);
    EXPECT_TRUE(manager.stopForQuit(1000ms));
    EXPECT_TRUE(QDir(documents.path()).isEmpty());
    EXPECT_TRUE(log.lines().isEmpty()) << joined(log.lines());
}

TEST_F(AudioCaptureManagerTest, WithoutSystemOutputTheRecordingGoesOnMicOnly)
{
    // A server of our own with one microphone and no output device at all.
    PrivateSoundServer server;
    ASSERT_TRUE(server.isReady());
    ASSERT_TRUE(SoundTools::pactl({ u"unload-module"_s, u"module-null-sink"_s }, server.address()));
    ASSERT_TRUE(SoundTools::pactl({ u"load-module"_s, u"module-null-source"_s, u"source_name=lonely"_s }, server.address()));

    AudioCaptureManager manager(shortTimings(), writerOptions());
    manager.setSoundServer(server.address());
    QStringList unavailable;
    int unavailableOffMain = 0;
    manager.setOnSystemTapUnavailable([&](const QString &description) {
        unavailable << description;
        unavailableOffMain += QThread::currentThread() == QCoreApplication::instance()->thread() ? 0 : 1;
    });
    manager.start();
    EXPECT_TRUE(manager.isRunning());
    EXPECT_FALSE(manager.isSystemAudioRunning());
    ASSERT_TRUE(waitUntil([&] { return unavailable.size() == 1; }));
    EXPECT_TRUE(unavailable[0].startsWith(u"Could not read tap UID ("_s)) << unavailable[0].toStdString();
    EXPECT_TRUE(log.contains(prefix + u"System tap unavailable (mic-only): "_s + unavailable[0]));
    ASSERT_TRUE(recording(false));

    // The only microphone goes away: the rebuild cannot start one and says so.
    ASSERT_TRUE(SoundTools::pactl({ u"unload-module"_s, u"module-null-source"_s }, server.address()));
    ASSERT_TRUE(waitUntil([&] { return log.containsPrefix(prefix + u"Restart failed: "_s); }, 10000));
    ASSERT_TRUE(waitUntil([&] { return unavailable.size() == 2; }));
    EXPECT_TRUE(log.contains(prefix + u"Restart failed: "_s + unavailable[1] + u"; reconnecting"_s)) << unavailable[1].toStdString();
    EXPECT_EQ(unavailableOffMain, 0);
    // The stream ending and the default source changing come in one burst: one restart.
    EXPECT_EQ(log.count(prefix + u"Hardware changed — stopping mic + system tap"_s), 1);

    const CaptureSessionResult result = await(manager.stopCapture());
    ASSERT_TRUE(result.micURL);
    EXPECT_TRUE(QFile::exists(*result.micURL));
    EXPECT_FALSE(result.systemURL);
    EXPECT_FALSE(QFile::exists(QFileInfo(*result.micURL).dir().filePath(u"system_upload.m4a"_s)));
    const QStringList lines = log.lines();
    const auto finalized = std::find_if(lines.begin(), lines.end(), [](const QString &l) { return l.startsWith(u"[AudioTrackWriter] Finalized: "_s); });
    const auto noSystem = std::find(lines.begin(), lines.end(), prefix + u"No valid system segments, continuing mic-only"_s);
    ASSERT_NE(noSystem, lines.end());
    EXPECT_LT(finalized, noSystem);
}

TEST_F(AudioCaptureManagerTest, WithoutAMicrophoneStartFails)
{
    PrivateSoundServer server;
    ASSERT_TRUE(server.isReady());
    ASSERT_TRUE(SoundTools::pactl({ u"unload-module"_s, u"module-null-sink"_s }, server.address()));

    AudioCaptureManager manager(shortTimings(), writerOptions());
    manager.setSoundServer(server.address());
    EXPECT_THROW(manager.start(), SoundServerError);
    EXPECT_FALSE(manager.isRunning());
    EXPECT_FALSE(manager.isSystemAudioRunning());
    // The session directory stays; there is nothing to stop.
    EXPECT_TRUE(manager.sessionDirectory());
    const CaptureSessionResult result = await(manager.stopCapture());
    EXPECT_FALSE(result.micURL || result.systemURL);
}
