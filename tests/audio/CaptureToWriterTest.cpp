#include "AudioTrackWriter.h"
#include "Await.h"
#include "Log.h"
#include "MicCaptureService.h"
#include "SerialQueue.h"
#include "SoundPlayer.h"
#include "SoundTools.h"
#include "SystemAudioTapService.h"
#include "TestAudio.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(CaptureToWriter, BothSourcesLeavePlayableSegmentsAndMetadata)
{
    // ECHOQUILL_CAPTURE_SECONDS lengthens the recording for a manual check.
    const int seconds = qEnvironmentVariableIsSet("ECHOQUILL_CAPTURE_SECONDS") ? qEnvironmentVariableIntValue("ECHOQUILL_CAPTURE_SECONDS") : 3;
    QTemporaryDir scratch;
    SerialQueue queue(u"com.echoquill.audiowrite"_s, QThread::HighPriority);
    AudioTrackWriter writer;
    MicCaptureService mic(queue);
    SystemAudioTapService tap(queue);
    mic.setOnBuffer([&writer](const CapturedAudioBuffer &buffer) { writer.writeMic(buffer); });
    tap.setOnBuffer([&writer](const CapturedAudioBuffer &buffer) { writer.writeSystem(buffer); });

    const auto tone = SoundPlayer::tone(u"speakers"_s, seconds + 10);
    const auto speech = SoundPlayer::file(SoundTools::speechFile(scratch.path()), u"micfeed"_s, 10 + seconds / 3);
    mic.start();
    tap.start();
    waitUntil([] { return false; }, seconds * 1000);
    mic.stop();
    tap.stop();

    RecordingFinalizeResult result;
    queue.sync([&] { result = writer.finalize(); });
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    EXPECT_EQ(QFileInfo(result.sessionDirectory).dir().path(), QDir(documents).filePath(u"Echoquill Recordings"_s));
    EXPECT_TRUE(writer.writeErrors().isEmpty()) << writer.writeErrors().join(u'\n').toStdString();

    QFile file(result.metadataURL);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonArray tracks = QJsonDocument::fromJson(file.readAll()).object().value("tracks"_L1).toArray();
    ASSERT_EQ(tracks.size(), 2);
    const std::pair<QStringList, int> expected[] = { { result.micSegmentURLs, 1 }, { result.systemSegmentURLs, 2 } };
    for (int t = 0; t < 2; ++t) {
        const QJsonObject track = tracks.at(t).toObject();
        SCOPED_TRACE(track.value("source"_L1).toString().toStdString());
        EXPECT_EQ(track.value("sampleRate"_L1).toDouble(), 48000.0);
        EXPECT_EQ(track.value("channels"_L1).toInt(), expected[t].second);
        std::uint64_t frames = 0;
        for (const QString &segment : expected[t].first) {
            const auto contents = TestAudio::readSegment(segment);
            EXPECT_TRUE(contents.opened);
            EXPECT_EQ(contents.channels, expected[t].second);
            frames += contents.frames();
        }
        EXPECT_GT(frames, 0u);
        EXPECT_EQ(std::uint64_t(track.value("totalFrameCount"_L1).toInteger()), frames);
    }
}
