#include "AudioTrackWriter.h"
#include "BuildConfig.h"
#include "FileError.h"
#include "Log.h"
#include "TestAudio.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sndfile.h>
#include <sys/resource.h>

using namespace Qt::StringLiterals;
using TestAudio::buffer;
using TestAudio::format;
using Source = AudioCaptureSource;

namespace {

class AudioTrackWriterTest : public ::testing::Test {
protected:
    AudioTrackWriter::Options options() const
    {
        AudioTrackWriter::Options o;
        o.documentsDirectory = documents.path();
        return o;
    }

    static QJsonObject readMetadata(const RecordingFinalizeResult &result)
    {
        QFile file(result.metadataURL);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return QJsonDocument::fromJson(file.readAll()).object();
    }

    static QString in(const AudioTrackWriter &writer, const QString &name) { return QDir(writer.sessionDirectory()).filePath(name); }

    QTemporaryDir documents;
    Log::Capture log;
};

}

TEST_F(AudioTrackWriterTest, MicOnlySessionHasOneTrackAndNoSystemFile)
{
    auto o = options();
    const QDateTime start(QDate(2025, 3, 14), QTime(9, 5, 7, 42));
    QDateTime now = start;
    o.now = [&now] { return now; };
    AudioTrackWriter writer(o);

    const QString dir = QFileInfo(writer.sessionDirectory()).fileName();
    EXPECT_TRUE(QRegularExpression(u"^Session_2025-03-14_09-05-07-042_[0-9A-F]{6}$"_s).match(dir).hasMatch()) << dir.toStdString();
    EXPECT_EQ(QFileInfo(writer.sessionDirectory()).dir().path(), QDir(documents.path()).filePath(u"Echoquill Recordings"_s));
    EXPECT_TRUE(log.contains(u"[AudioTrackWriter] Session directory: "_s + writer.sessionDirectory()));

    const AudioFormat mono = format(48000, 1);
    for (int i = 0; i < 3; ++i)
        writer.writeMic(buffer(Source::mic, mono, 4096, 4096u * i));
    now = start.addMSecs(2500);
    const RecordingFinalizeResult result = writer.finalize();

    EXPECT_TRUE(log.contains(
        u"[AudioTrackWriter] Opened mic_track_000.caf: processingFormat=48000.0Hz/1ch/interleaved=true inputFormat=48000.0Hz/1ch/interleaved=true"_s));
    EXPECT_TRUE(log.contains(u"[AudioTrackWriter] Finalized: micFrames=12288 systemFrames=0 micSegments=1 sysSegments=0"_s));
    EXPECT_FALSE(log.containsPrefix(u"[AudioTrackWriter] Write errors"_s));
    EXPECT_EQ(result.sessionDirectory, writer.sessionDirectory());
    EXPECT_EQ(result.micSegmentURLs, QStringList { in(writer, u"mic_track_000.caf"_s) });
    EXPECT_TRUE(result.systemSegmentURLs.isEmpty());
    EXPECT_EQ(result.metadataURL, in(writer, u"metadata.json"_s));
    EXPECT_FALSE(QFile::exists(in(writer, u"system_track_000.caf"_s)));

    const QJsonObject meta = readMetadata(result);
    EXPECT_EQ(meta.value("recordingStarted"_L1).toString(), start.toUTC().toString(u"yyyy-MM-ddTHH:mm:ss'Z'"_s));
    EXPECT_EQ(meta.value("recordingEnded"_L1).toString(), now.toUTC().toString(u"yyyy-MM-ddTHH:mm:ss'Z'"_s));
    EXPECT_DOUBLE_EQ(meta.value("durationSeconds"_L1).toDouble(), 2.5);
    EXPECT_EQ(meta.value("appVersion"_L1).toString(), QString::fromUtf8(BuildConfig::appVersion));
    const QJsonArray tracks = meta.value("tracks"_L1).toArray();
    ASSERT_EQ(tracks.size(), 1);
    const QJsonObject mic = tracks.at(0).toObject();
    EXPECT_EQ(mic.value("source"_L1).toString(), u"mic"_s);
    EXPECT_EQ(mic.value("files"_L1).toArray(), QJsonArray { u"mic_track_000.caf"_s });
    EXPECT_EQ(mic.value("sampleRate"_L1).toDouble(), 48000.0);
    EXPECT_EQ(mic.value("channels"_L1).toInt(), 1);
    EXPECT_EQ(mic.value("totalFrameCount"_L1).toInteger(), 12288);
    EXPECT_DOUBLE_EQ(mic.value("durationSeconds"_L1).toDouble(), 12288 / 48000.0);
}

TEST_F(AudioTrackWriterTest, FormatChangesOpenNewSegmentsCountedTogether)
{
    AudioTrackWriter writer(options());
    writer.writeMic(buffer(Source::mic, format(48000, 1), 4800));
    writer.writeMic(buffer(Source::mic, format(48000, 1), 4800, 4800));
    writer.writeMic(buffer(Source::mic, format(44100, 1), 4410));
    // Interleaving alone is a different format too.
    writer.writeSystem(buffer(Source::systemOutput, format(48000, 2, true), 1000));
    writer.writeSystem(buffer(Source::systemOutput, format(48000, 2, false), 1000));
    const RecordingFinalizeResult result = writer.finalize();

    EXPECT_TRUE(log.contains(u"[AudioTrackWriter] Mic format changed 48000.0Hz/1ch → 44100.0Hz/1ch — opening segment 1"_s));
    EXPECT_TRUE(log.contains(u"[AudioTrackWriter] System format changed — opening segment 1"_s));
    EXPECT_TRUE(log.contains(
        u"[AudioTrackWriter] Opened system_track_001.caf: processingFormat=48000.0Hz/2ch/interleaved=false inputFormat=48000.0Hz/2ch/interleaved=false"_s));
    EXPECT_EQ(result.micSegmentURLs, (QStringList { in(writer, u"mic_track_000.caf"_s), in(writer, u"mic_track_001.caf"_s) }));
    EXPECT_EQ(result.systemSegmentURLs, (QStringList { in(writer, u"system_track_000.caf"_s), in(writer, u"system_track_001.caf"_s) }));

    const QJsonArray tracks = readMetadata(result).value("tracks"_L1).toArray();
    ASSERT_EQ(tracks.size(), 2);
    const QJsonObject mic = tracks.at(0).toObject();
    EXPECT_EQ(mic.value("files"_L1).toArray(), (QJsonArray { u"mic_track_000.caf"_s, u"mic_track_001.caf"_s }));
    EXPECT_EQ(mic.value("totalFrameCount"_L1).toInteger(), 4800 + 4800 + 4410);
    EXPECT_EQ(mic.value("sampleRate"_L1).toDouble(), 44100.0);
    EXPECT_DOUBLE_EQ(mic.value("durationSeconds"_L1).toDouble(), 14010 / 44100.0);
    EXPECT_EQ(tracks.at(1).toObject().value("source"_L1).toString(), u"systemOutput"_s);
    EXPECT_EQ(tracks.at(1).toObject().value("totalFrameCount"_L1).toInteger(), 2000);

    EXPECT_EQ(TestAudio::readSegment(result.micSegmentURLs[0]).frames(), 9600u);
    const auto second = TestAudio::readSegment(result.micSegmentURLs[1]);
    EXPECT_EQ(second.sampleRate, 44100);
    EXPECT_EQ(second.frames(), 4410u);
}

TEST_F(AudioTrackWriterTest, SegmentsHoldExactlyTheSamplesWritten)
{
    // Float buffers come back bit for bit whatever their layout; integer ones as their float value.
    struct Case {
        const char *name;
        AudioFormat format;
    };
    const Case cases[] = {
        { "interleaved stereo", format(48000, 2, true) },
        { "non-interleaved stereo", format(48000, 2, false) },
        { "non-interleaved 3 channels", format(32000, 3, false) },
        { "interleaved int16", format(16000, 1, true, AudioFormat::CommonFormat::Int16) },
        { "non-interleaved float64", format(44100, 2, false, AudioFormat::CommonFormat::Float64) },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        AudioTrackWriter writer(options());
        writer.writeMic(buffer(Source::mic, c.format, 3000, 0));
        writer.writeMic(buffer(Source::mic, c.format, 1234, 3000));
        const auto result = writer.finalize();

        const auto contents = TestAudio::readSegment(result.micSegmentURLs.value(0));
        ASSERT_TRUE(contents.opened);
        EXPECT_EQ(contents.format, SF_FORMAT_CAF | SF_FORMAT_FLOAT | SF_ENDIAN_LITTLE);
        EXPECT_EQ(contents.sampleRate, int(c.format.sampleRate));
        ASSERT_EQ(contents.channels, int(c.format.channelCount));
        ASSERT_EQ(contents.frames(), 4234u);
        int mismatches = 0;
        for (std::uint64_t f = 0; f < contents.frames(); ++f)
            for (std::uint32_t ch = 0; ch < c.format.channelCount; ++ch)
                mismatches += contents.interleaved[f * c.format.channelCount + ch] != TestAudio::sampleAt(f, ch);
        EXPECT_EQ(mismatches, 0);
    }
}

TEST_F(AudioTrackWriterTest, EmptyBuffersAreCollectedAndLeaveNoSystemSegment)
{
    AudioTrackWriter writer(options());
    const AudioFormat stereo = format(48000, 2);
    writer.writeMic(buffer(Source::mic, stereo, 0));
    writer.writeSystem(buffer(Source::systemOutput, stereo, 0));

    EXPECT_EQ(writer.writeErrors(),
              (QStringList { u"Skipping mic_track_000.caf: frameLength=0"_s, u"Skipping system_track_000.caf: frameLength=0"_s }));
    EXPECT_TRUE(log.contains(u"[AudioTrackWriter] Skipping system_track_000.caf: frameLength=0"_s));
    // The opened microphone segment is kept; the system one was never adopted and is gone from disk.
    EXPECT_EQ(writer.micSegmentURLs().size(), 1);
    EXPECT_TRUE(writer.systemSegmentURLs().isEmpty());
    EXPECT_FALSE(writer.systemFormat().has_value());
    EXPECT_FALSE(QFile::exists(in(writer, u"system_track_000.caf"_s)));

    // The next system buffer takes the same name.
    writer.writeSystem(buffer(Source::systemOutput, stereo, 512));
    EXPECT_EQ(writer.systemSegmentURLs(), QStringList { in(writer, u"system_track_000.caf"_s) });
    EXPECT_EQ(writer.systemFrameCount(), 512u);
    EXPECT_EQ(writer.micFrameCount(), 0u);

    const auto result = writer.finalize();
    EXPECT_TRUE(log.contains(u"[AudioTrackWriter] Write errors (2):"_s));
    EXPECT_TRUE(log.contains(u"[AudioTrackWriter]   Skipping mic_track_000.caf: frameLength=0"_s));
    // A source that never wrote a frame has no track, though its segment is listed.
    const QJsonArray tracks = readMetadata(result).value("tracks"_L1).toArray();
    ASSERT_EQ(tracks.size(), 1);
    EXPECT_EQ(tracks.at(0).toObject().value("source"_L1).toString(), u"systemOutput"_s);
    EXPECT_EQ(result.micSegmentURLs.size(), 1);
}

TEST_F(AudioTrackWriterTest, SegmentThatCannotBeOpenedIsRetriedUnderTheSameName)
{
    AudioTrackWriter writer(options());
    // A directory where the segment file should go makes the open fail, even for root.
    ASSERT_TRUE(QDir(writer.sessionDirectory()).mkdir(u"mic_track_000.caf"_s));
    const AudioFormat mono = format(48000, 1);
    writer.writeMic(buffer(Source::mic, mono, 100));
    writer.writeMic(buffer(Source::mic, mono, 100));

    ASSERT_EQ(writer.writeErrors().size(), 2);
    EXPECT_TRUE(writer.writeErrors()[0].startsWith(u"Could not open mic_track_000.caf: "_s));
    EXPECT_EQ(writer.writeErrors()[1], writer.writeErrors()[0]);
    EXPECT_TRUE(log.contains(u"[AudioTrackWriter] "_s + writer.writeErrors()[0]));
    EXPECT_TRUE(writer.micSegmentURLs().isEmpty());
    EXPECT_EQ(writer.micFormat(), mono);

    ASSERT_TRUE(QDir(writer.sessionDirectory()).rmdir(u"mic_track_000.caf"_s));
    writer.writeMic(buffer(Source::mic, mono, 100));
    EXPECT_EQ(writer.micSegmentURLs(), QStringList { in(writer, u"mic_track_000.caf"_s) });
    EXPECT_EQ(writer.micFrameCount(), 100u);

    // A system format change whose new segment cannot be opened leaves the format unknown.
    writer.writeSystem(buffer(Source::systemOutput, format(48000, 2), 100));
    ASSERT_TRUE(QDir(writer.sessionDirectory()).mkdir(u"system_track_001.caf"_s));
    writer.writeSystem(buffer(Source::systemOutput, format(44100, 2), 100));
    EXPECT_TRUE(writer.writeErrors().last().startsWith(u"Could not open system_track_001.caf: "_s));
    EXPECT_FALSE(writer.systemFormat().has_value());

    const auto tracks = readMetadata(writer.finalize()).value("tracks"_L1).toArray();
    ASSERT_EQ(tracks.size(), 2);
    const QJsonObject system = tracks.at(1).toObject();
    EXPECT_EQ(system.keys(), (QStringList { u"files"_s, u"source"_s }));
    EXPECT_EQ(system.value("files"_L1).toArray(), QJsonArray { u"system_track_000.caf"_s });
}

TEST_F(AudioTrackWriterTest, WriteFailuresAreCollectedAndAFailedFirstSystemWriteRemovesTheFile)
{
    AudioTrackWriter writer(options());
    const AudioFormat mono = format(48000, 1);
    writer.writeMic(buffer(Source::mic, mono, 256));

    // Files may not grow past 32 KiB for a moment: the next writes fail with the system's error.
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previous);
    rlimit original {};
    getrlimit(RLIMIT_FSIZE, &original);
    rlimit tight = original;
    tight.rlim_cur = 32 * 1024;
    setrlimit(RLIMIT_FSIZE, &tight);
    writer.writeMic(buffer(Source::mic, mono, 48000));
    writer.writeSystem(buffer(Source::systemOutput, mono, 48000));
    setrlimit(RLIMIT_FSIZE, &original);
    sigaction(SIGXFSZ, &previous, nullptr);

    ASSERT_EQ(writer.writeErrors().size(), 2);
    for (const QString &error : writer.writeErrors())
        EXPECT_TRUE(error.endsWith(u" | processingFormat=48000.0Hz/1ch/interleaved=true buffer=48000.0Hz/1ch/interleaved=true"_s))
            << error.toStdString();
    EXPECT_TRUE(writer.writeErrors()[0].startsWith(u"Write error mic_track_000.caf: "_s));
    EXPECT_TRUE(writer.writeErrors()[1].startsWith(u"Write error system_track_000.caf: "_s));
    EXPECT_EQ(writer.micFrameCount(), 256u);
    EXPECT_FALSE(QFile::exists(in(writer, u"system_track_000.caf"_s)));
    EXPECT_TRUE(writer.systemSegmentURLs().isEmpty());

    // The microphone segment stays open and takes the next buffer.
    writer.writeMic(buffer(Source::mic, mono, 256));
    EXPECT_EQ(writer.micFrameCount(), 512u);
    EXPECT_EQ(writer.micSegmentURLs().size(), 1);
}

TEST_F(AudioTrackWriterTest, SessionNameCollisionsAreRetriedFiveTimes)
{
    auto o = options();
    const QDateTime start(QDate(2025, 1, 2), QTime(3, 4, 5, 6));
    o.now = [start] { return start; };
    QStringList suffixes;
    o.nameSuffix = [&suffixes] { return suffixes.isEmpty() ? u"ZZZZZZ"_s : suffixes.takeFirst(); };
    const QDir base(QDir(documents.path()).filePath(u"Echoquill Recordings"_s));
    ASSERT_TRUE(base.mkpath(u"Session_2025-01-02_03-04-05-006_AAAAAA"_s));

    suffixes = QStringList { u"AAAAAA"_s, u"AAAAAA"_s, u"AAAAAA"_s, u"AAAAAA"_s, u"BBBBBB"_s };
    AudioTrackWriter fifth(o);
    EXPECT_EQ(QFileInfo(fifth.sessionDirectory()).fileName(), u"Session_2025-01-02_03-04-05-006_BBBBBB"_s);

    suffixes = QStringList(5, u"AAAAAA"_s) << u"CCCCCC"_s;
    try {
        AudioTrackWriter writer(o);
        ADD_FAILURE() << "a sixth name was tried";
    } catch (const FileError &error) {
        EXPECT_EQ(error.code(), std::make_error_code(std::errc::file_exists));
        EXPECT_TRUE(error.path().isEmpty());
    }
    EXPECT_EQ(suffixes, QStringList { u"CCCCCC"_s });

    // With the real suffixes, two writers started in the same millisecond still get their own directories.
    o.nameSuffix = nullptr;
    AudioTrackWriter a(o), b(o);
    EXPECT_NE(a.sessionDirectory(), b.sessionDirectory());
    // Without a folder of its own, a writer records into the user's documents.
    AudioTrackWriter plain;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    EXPECT_EQ(QFileInfo(plain.sessionDirectory()).dir().path(), QDir(documents).filePath(u"Echoquill Recordings"_s));
    QDir(plain.sessionDirectory()).removeRecursively();
}

TEST_F(AudioTrackWriterTest, StorageFailuresAreThrown)
{
    // Documents below a plain file: the base folder cannot be made.
    QFile blocker(QDir(documents.path()).filePath(u"plain"_s));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    auto o = options();
    o.documentsDirectory = blocker.fileName() + u"/Documents"_s;
    EXPECT_THROW(AudioTrackWriter writer(o), FileError);

    // The metadata cannot be written: finalize fails and the segments stay.
    AudioTrackWriter writer(options());
    writer.writeMic(buffer(Source::mic, format(48000, 1), 100));
    ASSERT_TRUE(QDir(writer.sessionDirectory()).mkdir(u"metadata.json"_s));
    try {
        writer.finalize();
        ADD_FAILURE() << "finalize succeeded";
    } catch (const FileError &error) {
        EXPECT_EQ(error.code(), std::make_error_code(std::errc::is_a_directory));
    }
    EXPECT_EQ(TestAudio::readSegment(in(writer, u"mic_track_000.caf"_s)).frames(), 100u);
}

TEST_F(AudioTrackWriterTest, TrackDurationUsesTheFrameCountAtRatesUpToOne)
{
    for (double rate : { 1.0, 0.5 }) {
        SCOPED_TRACE(rate);
        AudioTrackWriter writer(options());
        writer.writeMic(buffer(Source::mic, format(rate, 1), 100));
        const auto tracks = readMetadata(writer.finalize()).value("tracks"_L1).toArray();
        ASSERT_EQ(tracks.size(), 1);
        EXPECT_EQ(tracks.at(0).toObject().value("sampleRate"_L1).toDouble(), rate);
        EXPECT_EQ(tracks.at(0).toObject().value("durationSeconds"_L1).toDouble(), 100.0);
    }
}
