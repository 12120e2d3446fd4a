#include "AudioExportError.h"
#include "AudioExportService.h"
#include "Await.h"
#include "FileError.h"
#include "TestAudio.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace TestAudio;

namespace {

constexpr double aacFrameSeconds(int rate) { return 1024.0 / rate; }

class AudioExportServiceTest : public ::testing::Test {
protected:
    QString path(const QString &name) const { return QDir(dir.path()).filePath(name); }

    // The export's error, or nothing when it succeeded.
    static std::optional<AudioExportError> exportError(const QStringList &segments, const QString &output, AudioExportOptions options = {})
    {
        try {
            await(AudioExportService::exportUploadTrack(segments, output, options));
        } catch (const AudioExportError &error) {
            return error;
        }
        return std::nullopt;
    }

    QTemporaryDir dir;
};

}

TEST_F(AudioExportServiceTest, OneSegmentBecomesAnAacTrackOfItsDurationWithTheHeaderFirst)
{
    struct Case {
        int rate;
        int channels;
        double seconds;
    };
    for (const Case c : { Case { 48000, 1, 3.0 }, Case { 44100, 2, 2.5 } }) {
        SCOPED_TRACE(c.rate);
        const QString segment = path(u"seg_%1.caf"_s.arg(c.rate));
        const QString output = path(u"out_%1.m4a"_s.arg(c.rate));
        writeToneSegment(segment, c.rate, c.channels, c.seconds, 0.5f);
        // An earlier output is replaced.
        QFile old(output);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write(QByteArray(300000, 'x')) == 300000);
        old.close();
        ASSERT_FALSE(exportError({ segment }, output));
        EXPECT_LT(QFileInfo(output).size(), 300000);

        const TrackInfo info = probe(output);
        ASSERT_TRUE(info.readable);
        EXPECT_EQ(info.codec, u"aac"_s);
        EXPECT_EQ(info.profile, u"LC"_s);
        EXPECT_EQ(info.sampleRate, c.rate);
        EXPECT_EQ(info.channels, c.channels);
        EXPECT_NEAR(info.durationSeconds, c.seconds, aacFrameSeconds(c.rate));

        // Read the boxes themselves: the movie header must precede the media data.
        const QStringList atoms = topLevelAtoms(output);
        ASSERT_TRUE(atoms.contains(u"moov"_s) && atoms.contains(u"mdat"_s)) << atoms.join(u' ').toStdString();
        EXPECT_LT(atoms.indexOf(u"moov"_s), atoms.indexOf(u"mdat"_s)) << atoms.join(u' ').toStdString();

        const std::vector<float> decoded = decodeMono(output);
        EXPECT_NEAR(rms(decoded, std::size_t(c.rate / 2), std::size_t(c.rate * 2)), 0.5 / std::sqrt(2.0), 0.03);
    }
}

TEST_F(AudioExportServiceTest, SegmentsFollowOneAnotherWithoutGapOrOverlap)
{
    // A quiet ten seconds, then five loud ones: the loud part must begin at ten seconds.
    const QString first = path(u"system_track_000.caf"_s);
    const QString second = path(u"system_track_001.caf"_s);
    writeToneSegment(first, 48000, 2, 10.0, 0.1f, 440.0);
    writeToneSegment(second, 48000, 2, 5.0, 0.8f, 1000.0);
    const QString output = path(u"system_upload.m4a"_s);
    ASSERT_FALSE(exportError({ first, second }, output));

    EXPECT_NEAR(probe(output).durationSeconds, 15.0, aacFrameSeconds(48000));
    const std::vector<float> decoded = decodeMono(output);
    ASSERT_GT(decoded.size(), std::size_t(14 * 48000));
    const auto loud = std::find_if(decoded.begin(), decoded.end(), [](float s) { return std::abs(s) > 0.4f; });
    ASSERT_NE(loud, decoded.end());
    EXPECT_NEAR(double(loud - decoded.begin()), 10.0 * 48000, 1024);
    EXPECT_NEAR(rms(decoded, 24000, 9 * 48000), 0.1 / std::sqrt(2.0), 0.01);
    // The fast coder renders a loud pure tone a little quieter; the tone is there all the same.
    EXPECT_NEAR(rms(decoded, 10 * 48000 + 4800, 14 * 48000), 0.8 / std::sqrt(2.0), 0.12);
}

TEST_F(AudioExportServiceTest, FormatChangesAreResampledIntoTheFirstSegmentsFormat)
{
    struct Case {
        int firstRate, firstChannels, secondRate, secondChannels;
    };
    for (const Case c : { Case { 48000, 2, 44100, 1 }, Case { 44100, 1, 48000, 2 } }) {
        SCOPED_TRACE(c.firstRate);
        const QString first = path(u"a_%1.caf"_s.arg(c.firstRate));
        const QString second = path(u"b_%1.caf"_s.arg(c.firstRate));
        writeToneSegment(first, c.firstRate, c.firstChannels, 2.0, 0.3f);
        writeToneSegment(second, c.secondRate, c.secondChannels, 3.0, 0.3f);
        const QString output = path(u"mixed_%1.m4a"_s.arg(c.firstRate));
        ASSERT_FALSE(exportError({ first, second }, output));

        const TrackInfo info = probe(output);
        EXPECT_EQ(info.sampleRate, c.firstRate);
        EXPECT_EQ(info.channels, c.firstChannels);
        EXPECT_NEAR(info.durationSeconds, 5.0, 2 * aacFrameSeconds(c.firstRate));
        // The tone carries on through the change at the same level: a mono voice is not 3 dB quieter in stereo.
        const std::vector<float> decoded = decodeMono(output);
        EXPECT_NEAR(rms(decoded, std::size_t(c.firstRate * 2.5), std::size_t(c.firstRate * 4.5)), 0.3 / std::sqrt(2.0), 0.03);
    }
}

TEST_F(AudioExportServiceTest, ASegmentThatIsNotAudioEndsTheExport)
{
    const QString good = path(u"mic_track_000.caf"_s);
    writeToneSegment(good, 48000, 1, 1.0, 0.5f);
    const QString text = path(u"mic_track_001.caf"_s);
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    for (int i = 0; i < 2000; ++i)
        file.write("These are meeting notes, not audio.\n");
    file.close();

    const QString output = path(u"upload_track.m4a"_s);
    const auto error = exportError({ good, text }, output);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), AudioExportError::noAudioTrack);
    EXPECT_EQ(error->description(), u"No audio track found in mic_track_001.caf"_s);
    EXPECT_FALSE(QFile::exists(output));
}

TEST_F(AudioExportServiceTest, FailuresCarryTheirReasons)
{
    // Nothing to export fails at once and creates nothing.
    const auto none = exportError({}, path(u"upload_track.m4a"_s));
    ASSERT_TRUE(none);
    EXPECT_EQ(none->kind(), AudioExportError::noSegments);
    EXPECT_EQ(none->description(), u"No audio segments to export"_s);
    EXPECT_TRUE(QDir(dir.path()).isEmpty());

    const QString segment = path(u"mic_track_000.caf"_s);
    writeToneSegment(segment, 48000, 1, 1.0, 0.5f);

    // The output cannot be created: the system's reason follows "Audio export failed: ".
    const auto unwritable = exportError({ segment }, path(u"missing/upload_track.m4a"_s));
    ASSERT_TRUE(unwritable);
    EXPECT_EQ(unwritable->description(), u"Audio export failed: No such file or directory"_s);

    // Cancelled before the first packet.
    const std::atomic<bool> cancel = true;
    const auto cancelled = exportError({ segment }, path(u"cancelled.m4a"_s), AudioExportOptions { AudioExportOptions::Coder::fast, &cancel });
    ASSERT_TRUE(cancelled);
    EXPECT_EQ(cancelled->description(), u"Audio export failed: cancelled"_s);

    // Segments without a single sample would give a file without a playable track.
    const QString empty = path(u"mic_track_001.caf"_s);
    TestAudio::writeEmptyCafSegment(empty);
    const auto silent = exportError({ empty }, path(u"empty.m4a"_s));
    ASSERT_TRUE(silent);
    EXPECT_EQ(silent->description(), u"Audio export failed: the segments hold no audio"_s);

    // A segment that is gone is the file system's error, not an export error.
    EXPECT_THROW(await(AudioExportService::exportUploadTrack({ path(u"gone.caf"_s) }, path(u"gone.m4a"_s))), FileError);
    EXPECT_FALSE(QFile::exists(path(u"gone.m4a"_s)));
}
