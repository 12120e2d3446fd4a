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

// A track's entry in the metadata.
QJsonObject track(const QString &source, const QStringList &files, double rate, int channels, qint64 frames,
                  double seconds)
{
    return {{u"source"_s, source}, {u"files"_s, QJsonArray::fromStringList(files)}, {u"sampleRate"_s, rate},
            {u"channels"_s, channels}, {u"totalFrameCount"_s, frames}, {u"durationSeconds"_s, seconds}};
}

class AudioTrackWriterTest : public ::testing::Test {
protected:
    AudioTrackWriter::Options options() const { return {documents.path(), {}, {}}; }

    static QJsonObject readMetadata(const RecordingFinalizeResult &result)
    {
        QFile file(result.metadataURL);
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
    }
    static QJsonArray tracksOf(const RecordingFinalizeResult &r) { return readMetadata(r)[u"tracks"_s].toArray(); }
    static QString in(const AudioTrackWriter &writer, const QString &name)
    {
        return QDir(writer.sessionDirectory()).filePath(name);
    }

    QTemporaryDir documents;
    Log::Capture log;
};

}

TEST_F(AudioTrackWriterTest, MicOnlySessionHasOneTrackAndNoSystemFileAndNamesAreRetriedFiveTimes)
{
    auto o = options();
    const QDateTime start(QDate(2025, 3, 14), QTime(9, 5, 7, 42));
    QDateTime now = start;
    o.now = [&now] { return now; };
    AudioTrackWriter writer(o);
    const QString dir = QFileInfo(writer.sessionDirectory()).fileName();
    EXPECT_TRUE(QRegularExpression(u"^Session_2025-03-14_09-05-07-042_[0-9A-F]{6}$"_s).match(dir).hasMatch());
    EXPECT_EQ(QFileInfo(writer.sessionDirectory()).path(), QDir(documents.path()).filePath(u"Echoquill Recordings"_s));
    EXPECT_TRUE(log.contains(u"[AudioTrackWriter] Session directory: "_s + writer.sessionDirectory()));

    for (int i = 0; i < 3; ++i)
        writer.writeMic(buffer(Source::mic, format(48000, 1), 4096, 4096u * i));
    now = start.addMSecs(2500);
    const RecordingFinalizeResult result = writer.finalize();
    EXPECT_TRUE(
        log.contains(u"[AudioTrackWriter] Finalized: micFrames=12288 systemFrames=0 micSegments=1 sysSegments=0"_s));
    EXPECT_FALSE(log.containsPrefix(u"[AudioTrackWriter] Write errors"_s));
    EXPECT_EQ(std::tuple(result.sessionDirectory, result.micSegmentURLs, result.systemSegmentURLs, result.metadataURL),
              std::tuple(writer.sessionDirectory(), QStringList{in(writer, u"mic_track_000.caf"_s)}, QStringList(),
                         in(writer, u"metadata.json"_s)));
    EXPECT_FALSE(QFile::exists(in(writer, u"system_track_000.caf"_s)));
    const QString iso = u"yyyy-MM-ddTHH:mm:ss'Z'"_s;
    EXPECT_EQ(readMetadata(result),
              (QJsonObject{{u"recordingStarted"_s, start.toUTC().toString(iso)},
                           {u"recordingEnded"_s, now.toUTC().toString(iso)}, {u"durationSeconds"_s, 2.5},
                           {u"appVersion"_s, QString::fromUtf8(BuildConfig::appVersion)},
                           {u"tracks"_s, QJsonArray{track(u"mic"_s, {u"mic_track_000.caf"_s}, 48000, 1, 12288,
                                                          0.256)}}}));

    // Session names: a taken one is retried with a new suffix, five times at most.
    o = options();
    const QDateTime second(QDate(2025, 1, 2), QTime(3, 4, 5, 6));
    o.now = [second] { return second; };
    QStringList suffixes = QStringList(4, u"AAAAAA"_s) << u"BBBBBB"_s;
    o.nameSuffix = [&suffixes] { return suffixes.isEmpty() ? u"ZZZZZZ"_s : suffixes.takeFirst(); };
    ASSERT_TRUE(QDir(documents.path()).mkpath(u"Echoquill Recordings/Session_2025-01-02_03-04-05-006_AAAAAA"_s));
    AudioTrackWriter fifth(o);
    EXPECT_EQ(QFileInfo(fifth.sessionDirectory()).fileName(), u"Session_2025-01-02_03-04-05-006_BBBBBB"_s);

    suffixes = QStringList(5, u"AAAAAA"_s) << u"CCCCCC"_s;
    try {
        AudioTrackWriter sixth(o);
        ADD_FAILURE() << "a sixth name was tried";
    } catch (const FileError &error) {
        EXPECT_EQ(error.code(), std::make_error_code(std::errc::file_exists));
        EXPECT_TRUE(error.path().isEmpty());
    }
    EXPECT_EQ(suffixes, QStringList{u"CCCCCC"_s});

    // With the real suffixes, two writers started in the same millisecond still get their own directories.
    o.nameSuffix = nullptr;
    AudioTrackWriter a(o), b(o);
    EXPECT_NE(a.sessionDirectory(), b.sessionDirectory());
    // Without a folder of its own, a writer records into the user's documents.
    AudioTrackWriter plain;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    EXPECT_EQ(QFileInfo(plain.sessionDirectory()).path(), QDir(documents).filePath(u"Echoquill Recordings"_s));
    QDir(plain.sessionDirectory()).removeRecursively();
}

TEST_F(AudioTrackWriterTest, FormatChangesOpenNewSegmentsCountedTogetherAndDurationsFollowTheRate)
{
    AudioTrackWriter writer(options());
    writer.writeMic(buffer(Source::mic, format(48000, 1), 4800));
    writer.writeMic(buffer(Source::mic, format(48000, 1), 4800, 4800));
    writer.writeMic(buffer(Source::mic, format(44100, 1), 4410));
    // Interleaving alone is a different format too.
    writer.writeSystem(buffer(Source::systemOutput, format(48000, 2, true), 1000));
    writer.writeSystem(buffer(Source::systemOutput, format(48000, 2, false), 1000));
    const RecordingFinalizeResult result = writer.finalize();

    EXPECT_TRUE(log.contains(u"[AudioTrackWriter] Mic format changed 48000.0Hz/1ch → 44100.0Hz/1ch — "
                             u"opening segment 1"_s));
    EXPECT_TRUE(log.contains(u"[AudioTrackWriter] System format changed — opening segment 1"_s));
    EXPECT_TRUE(log.contains(u"[AudioTrackWriter] Opened system_track_001.caf: "
                             u"processingFormat=48000.0Hz/2ch/interleaved=false "
                             u"inputFormat=48000.0Hz/2ch/interleaved=false"_s));
    const QStringList mic{u"mic_track_000.caf"_s, u"mic_track_001.caf"_s};
    const QStringList system{u"system_track_000.caf"_s, u"system_track_001.caf"_s};
    EXPECT_EQ(result.micSegmentURLs, (QStringList{in(writer, mic[0]), in(writer, mic[1])}));
    EXPECT_EQ(result.systemSegmentURLs, (QStringList{in(writer, system[0]), in(writer, system[1])}));
    EXPECT_EQ(tracksOf(result), (QJsonArray{track(u"mic"_s, mic, 44100, 1, 14010, 14010 / 44100.0),
                                            track(u"systemOutput"_s, system, 48000, 2, 2000, 2000 / 48000.0)}));
    const auto first = TestAudio::readSegment(in(writer, mic[0])), second = TestAudio::readSegment(in(writer, mic[1]));
    EXPECT_EQ(std::tuple(first.frames(), second.sampleRate, second.frames()),
              std::tuple(std::uint64_t(9600), 44100, std::uint64_t(4410)));
    // At rates up to one the duration is the frame count.
    for (double rate : {1.0, 0.5}) {
        AudioTrackWriter writer(options());
        writer.writeMic(buffer(Source::mic, format(rate, 1), 100));
        const QJsonObject mic = track(u"mic"_s, {u"mic_track_000.caf"_s}, rate, 1, 100, 100.0);
        EXPECT_EQ(tracksOf(writer.finalize()), QJsonArray{mic});
    }
}

TEST_F(AudioTrackWriterTest, SegmentsHoldExactlyTheSamplesWritten)
{
    // Float buffers come back bit for bit whatever their layout; integer ones as their float value.
    for (const AudioFormat &f : {format(48000, 2, true), format(48000, 2, false), format(32000, 3, false),
                                 format(16000, 1, true, AudioFormat::CommonFormat::Int16),
                                 format(44100, 2, false, AudioFormat::CommonFormat::Float64)}) {
        SCOPED_TRACE(testing::PrintToString(std::tuple(f.sampleRate, f.channelCount, f.interleaved, f.commonFormat)));
        AudioTrackWriter writer(options());
        writer.writeMic(buffer(Source::mic, f, 3000, 0));
        writer.writeMic(buffer(Source::mic, f, 1234, 3000));
        const auto contents = TestAudio::readSegment(writer.finalize().micSegmentURLs.value(0));
        ASSERT_EQ(std::tuple(contents.opened, contents.format, contents.sampleRate, contents.channels,
                             contents.frames()),
                  std::tuple(true, SF_FORMAT_CAF | SF_FORMAT_FLOAT | SF_ENDIAN_LITTLE, int(f.sampleRate),
                             int(f.channelCount), std::uint64_t(4234)));
        int mismatches = 0;
        for (std::size_t i = 0; i < contents.interleaved.size(); ++i)
            mismatches += contents.interleaved[i] != TestAudio::sampleAt(i / f.channelCount, i % f.channelCount);
        EXPECT_EQ(mismatches, 0);
    }
}

TEST_F(AudioTrackWriterTest, EmptyOrUnopenableSegmentsAreCollectedAndRetriedUnderTheSameName)
{
    AudioTrackWriter writer(options());
    writer.writeMic(buffer(Source::mic, format(48000, 2), 0));
    writer.writeSystem(buffer(Source::systemOutput, format(48000, 2), 0));
    EXPECT_EQ(writer.writeErrors(),
              (QStringList{u"Skipping mic_track_000.caf: frameLength=0"_s,
                           u"Skipping system_track_000.caf: frameLength=0"_s}));
    EXPECT_TRUE(log.contains(u"[AudioTrackWriter] Skipping system_track_000.caf: frameLength=0"_s));
    // The opened microphone segment is kept; the system one was never adopted and is gone from disk.
    EXPECT_EQ(std::tuple(writer.micSegmentURLs().size(), writer.systemSegmentURLs().size(), !!writer.systemFormat(),
                         QFile::exists(in(writer, u"system_track_000.caf"_s))),
              std::tuple(1, 0, false, false));

    // The next system buffer takes the same name.
    writer.writeSystem(buffer(Source::systemOutput, format(48000, 2), 512));
    EXPECT_EQ(std::tuple(writer.systemSegmentURLs(), writer.systemFrameCount(), writer.micFrameCount()),
              std::tuple(QStringList{in(writer, u"system_track_000.caf"_s)}, std::uint64_t(512), std::uint64_t(0)));
    const auto result = writer.finalize();
    EXPECT_TRUE(log.contains(u"[AudioTrackWriter] Write errors (2):"_s));
    EXPECT_TRUE(log.contains(u"[AudioTrackWriter]   Skipping mic_track_000.caf: frameLength=0"_s));
    // A source that never wrote a frame has no track, though its segment is listed.
    EXPECT_EQ(result.micSegmentURLs.size(), 1);
    EXPECT_EQ(tracksOf(result),
              QJsonArray{track(u"systemOutput"_s, {u"system_track_000.caf"_s}, 48000, 2, 512, 512 / 48000.0)});

    // A segment that cannot be opened is retried under the same name.
    AudioTrackWriter retried(options());
    const QDir session(retried.sessionDirectory());
    // A directory where the segment file should go makes the open fail, even for root.
    ASSERT_TRUE(session.mkdir(u"mic_track_000.caf"_s));
    const AudioFormat mono = format(48000, 1);
    retried.writeMic(buffer(Source::mic, mono, 100));
    retried.writeMic(buffer(Source::mic, mono, 100));
    const QString errors = retried.writeErrors().join(u'\n'); // the same error twice
    EXPECT_TRUE(QRegularExpression(u"^(Could not open mic_track_000.caf: [^\n]+)\n\\1$"_s).match(errors).hasMatch());
    EXPECT_TRUE(log.contains(u"[AudioTrackWriter] "_s + retried.writeErrors().value(0)));
    EXPECT_TRUE(retried.micSegmentURLs().isEmpty() && retried.micFormat() == mono);

    ASSERT_TRUE(session.rmdir(u"mic_track_000.caf"_s));
    retried.writeMic(buffer(Source::mic, mono, 100));
    EXPECT_EQ(std::pair(retried.micSegmentURLs(), retried.micFrameCount()),
              std::pair(QStringList{in(retried, u"mic_track_000.caf"_s)}, std::uint64_t(100)));

    // A system format change whose new segment cannot be opened leaves the format unknown.
    retried.writeSystem(buffer(Source::systemOutput, format(48000, 2), 100));
    ASSERT_TRUE(session.mkdir(u"system_track_001.caf"_s));
    retried.writeSystem(buffer(Source::systemOutput, format(44100, 2), 100));
    EXPECT_TRUE(retried.writeErrors().last().startsWith(u"Could not open system_track_001.caf: "_s));
    EXPECT_FALSE(retried.systemFormat());
    EXPECT_EQ(tracksOf(retried.finalize())[1],
              (QJsonObject{{u"source"_s, u"systemOutput"_s}, {u"files"_s, QJsonArray{u"system_track_000.caf"_s}}}));
}


TEST_F(AudioTrackWriterTest, WriteAndStorageFailures)
{
    AudioTrackWriter writer(options());
    const AudioFormat mono = format(48000, 1);
    writer.writeMic(buffer(Source::mic, mono, 256));
    // Files may not grow past 32 KiB for a moment: the next writes fail with the system's error.
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit original {};
    getrlimit(RLIMIT_FSIZE, &original);
    const rlimit tight{32 * 1024, original.rlim_max};
    setrlimit(RLIMIT_FSIZE, &tight);
    writer.writeMic(buffer(Source::mic, mono, 48000));
    writer.writeSystem(buffer(Source::systemOutput, mono, 48000));
    setrlimit(RLIMIT_FSIZE, &original);
    std::signal(SIGXFSZ, previous);

    const QRegularExpression failed(u"^Write error (mic|system)_track_000.caf: .+ \\| processingFormat=48000.0Hz/1ch/"
                                    u"interleaved=true buffer=48000.0Hz/1ch/interleaved=true$"_s);
    ASSERT_EQ(writer.writeErrors().size(), 2);
    const auto source = [&](int i) { return failed.match(writer.writeErrors()[i]).captured(1); };
    EXPECT_EQ(source(0) + source(1), u"micsystem"_s) << writer.writeErrors().join(u'\n').toStdString();
    EXPECT_EQ(writer.micFrameCount(), 256u);
    EXPECT_TRUE(!QFile::exists(in(writer, u"system_track_000.caf"_s)) && writer.systemSegmentURLs().isEmpty());
    // The microphone segment stays open and takes the next buffer.
    writer.writeMic(buffer(Source::mic, mono, 256));
    EXPECT_EQ(writer.micFrameCount(), 512u);
    EXPECT_EQ(writer.micSegmentURLs().size(), 1);

    // Documents below a plain file: the base folder cannot be made.
    ASSERT_TRUE(QFile(documents.filePath(u"plain"_s)).open(QIODevice::WriteOnly));
    EXPECT_THROW(AudioTrackWriter blocked({documents.filePath(u"plain/Documents"_s), {}, {}}), FileError);

    // The metadata cannot be written: finalize fails and the segments stay.
    AudioTrackWriter full(options());
    full.writeMic(buffer(Source::mic, mono, 100));
    ASSERT_TRUE(QDir(full.sessionDirectory()).mkdir(u"metadata.json"_s));
    try {
        full.finalize();
        ADD_FAILURE() << "finalize succeeded";
    } catch (const FileError &error) {
        EXPECT_EQ(error.code(), std::make_error_code(std::errc::is_a_directory));
    }
    EXPECT_EQ(TestAudio::readSegment(in(full, u"mic_track_000.caf"_s)).frames(), 100u);
}


