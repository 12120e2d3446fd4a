#include "AudioTrackWriter.h"
#include "BuildConfig.h"
#include "FileError.h"
#include "Raised.h"
#include "TestAudio.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
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

QJsonObject track(const QString& source, const QStringList& files, double rate, int channels, qint64 frames, double s)
{
    return { { u"source"_s, source }, { u"files"_s, QJsonArray::fromStringList(files) }, { u"sampleRate"_s, rate },
        { u"channels"_s, channels }, { u"totalFrameCount"_s, frames }, { u"durationSeconds"_s, s } };
}

class AudioTrackWriterTest : public ::testing::Test {
protected:
    AudioTrackWriter::Options options() const { return { documents.path(), {}, {} }; }

    static QJsonArray tracksOf(const RecordingFinalizeResult& r)
    {
        return TestAudio::metadata(r.sessionDirectory)[u"tracks"_s].toArray();
    }
    static QString in(const AudioTrackWriter& w, const QString& n) { return QDir(w.sessionDirectory()).filePath(n); }

    QTemporaryDir documents;
};

}

TEST_F(AudioTrackWriterTest, SessionsSegmentsFormatChangesAndFailures)
{
    auto o = options();
    const QDateTime start(QDate(2025, 3, 14), QTime(9, 5, 7, 42));
    QDateTime now = start;
    o.now = [&now] { return now; };
    AudioTrackWriter writer(o);
    const QString dir = QFileInfo(writer.sessionDirectory()).fileName();
    EXPECT_TRUE(QRegularExpression(u"^Session_2025-03-14_09-05-07-042_[0-9A-F]{6}$"_s).match(dir).hasMatch());

    for (int i = 0; i < 3; ++i)
        writer.writeMic(buffer(Source::mic, format(48000, 1), 4096, 4096u * i));
    now = start.addMSecs(2500);
    const RecordingFinalizeResult result = writer.finalize();
    EXPECT_EQ(std::tuple(result.sessionDirectory, result.micSegmentURLs, result.systemSegmentURLs, result.metadataURL),
        std::tuple(writer.sessionDirectory(), QStringList { in(writer, u"mic_track_000.caf"_s) }, QStringList(),
            in(writer, u"metadata.json"_s)));
    EXPECT_FALSE(QFile::exists(in(writer, u"system_track_000.caf"_s)));
    EXPECT_EQ(TestAudio::metadata(result.sessionDirectory),
        (QJsonObject { { u"recordingStarted"_s, start.toUTC().toString(Qt::ISODate) },
            { u"recordingEnded"_s, now.toUTC().toString(Qt::ISODate) }, { u"durationSeconds"_s, 2.5 },
            { u"appVersion"_s, QString::fromUtf8(BuildConfig::appVersion) },
            { u"tracks"_s, QJsonArray { track(u"mic"_s, { u"mic_track_000.caf"_s }, 48000, 1, 12288, 0.256) } } }));

    // Session names: a taken one is retried with a new suffix, five times at most.
    o.now = [] { return QDateTime(QDate(2025, 1, 2), QTime(3, 4, 5, 6)); };
    QStringList suffixes = QStringList(4, u"AAAAAA"_s) << u"BBBBBB"_s;
    o.nameSuffix = [&suffixes] { return suffixes.isEmpty() ? u"ZZZZZZ"_s : suffixes.takeFirst(); };
    ASSERT_TRUE(QDir(documents.path()).mkpath(u"Echoquill Recordings/Session_2025-01-02_03-04-05-006_AAAAAA"_s));
    EXPECT_EQ(
        QFileInfo(AudioTrackWriter(o).sessionDirectory()).fileName(), u"Session_2025-01-02_03-04-05-006_BBBBBB"_s);

    suffixes = QStringList(5, u"AAAAAA"_s) << u"CCCCCC"_s;
    EXPECT_EQ(raised<FileError>([&] { AudioTrackWriter sixth(o); }).value().description(), u"File exists"_s); // no path
    EXPECT_EQ(suffixes, QStringList { u"CCCCCC"_s });

    // Real suffixes part two writers of the same millisecond; without a folder, a writer records into Documents.
    o.nameSuffix = nullptr;
    EXPECT_NE(AudioTrackWriter(o).sessionDirectory(), AudioTrackWriter(o).sessionDirectory());
    AudioTrackWriter plain;
    EXPECT_EQ(QFileInfo(plain.sessionDirectory()).path(),
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + u"/Echoquill Recordings"_s);
    QDir(plain.sessionDirectory()).removeRecursively();

    // Format changes open new segments, counted together; segments hold exactly the samples written.
    AudioTrackWriter multi(options());
    multi.writeMic(buffer(Source::mic, format(48000, 1), 4800));
    multi.writeMic(buffer(Source::mic, format(48000, 1), 4800, 4800));
    multi.writeMic(buffer(Source::mic, format(44100, 1), 4410));
    multi.writeSystem(buffer(Source::systemOutput, format(48000, 2, true), 1000)); // interleaving alone changes it
    multi.writeSystem(buffer(Source::systemOutput, format(48000, 2, false), 1000));
    const RecordingFinalizeResult changed = multi.finalize();

    const QStringList mic { u"mic_track_000.caf"_s, u"mic_track_001.caf"_s };
    const QStringList system { u"system_track_000.caf"_s, u"system_track_001.caf"_s };
    EXPECT_EQ(changed.micSegmentURLs + changed.systemSegmentURLs,
        (QStringList { in(multi, mic[0]), in(multi, mic[1]), in(multi, system[0]), in(multi, system[1]) }));
    EXPECT_EQ(tracksOf(changed),
        (QJsonArray { track(u"mic"_s, mic, 44100, 1, 14010, 14010 / 44100.0),
            track(u"systemOutput"_s, system, 48000, 2, 2000, 2000 / 48000.0) }));
    const auto second = TestAudio::readSegment(in(multi, mic[1]));
    EXPECT_EQ(std::pair(second.sampleRate, second.frames()), std::pair(44100, std::uint64_t(4410)));
    // At rates below one the duration is the frame count.
    AudioTrackWriter low(options());
    low.writeMic(buffer(Source::mic, format(0.5, 1), 100));
    EXPECT_EQ(tracksOf(low.finalize()), QJsonArray { track(u"mic"_s, { u"mic_track_000.caf"_s }, 0.5, 1, 100, 100.0) });
    // Float buffers come back bit for bit whatever their layout; integer ones as their float value.
    for (const AudioFormat& f : { format(48000, 2, true), format(48000, 2, false), format(32000, 3, false),
             format(16000, 1, true, AudioFormat::CommonFormat::Int16),
             format(44100, 2, false, AudioFormat::CommonFormat::Float64) }) {
        SCOPED_TRACE(testing::PrintToString(std::tuple(f.sampleRate, f.channelCount, f.interleaved, f.commonFormat)));
        AudioTrackWriter samples(options());
        samples.writeMic(buffer(Source::mic, f, 3000, 0));
        samples.writeMic(buffer(Source::mic, f, 1234, 3000));
        const auto contents = TestAudio::readSegment(samples.finalize().micSegmentURLs.value(0));
        int mismatches = 0;
        for (std::size_t i = 0; i < contents.interleaved.size(); ++i)
            mismatches += contents.interleaved[i] != TestAudio::sampleAt(i / f.channelCount, i % f.channelCount);
        EXPECT_EQ(std::tuple(contents.opened, contents.format, contents.sampleRate, contents.channels,
                      contents.frames(), mismatches),
            std::tuple(true, SF_FORMAT_CAF | SF_FORMAT_FLOAT | SF_ENDIAN_LITTLE, int(f.sampleRate), int(f.channelCount),
                std::uint64_t(4234), 0));
    }

    // Empty buffers are errors; an unadopted system segment leaves disk and its name goes to the next buffer.
    AudioTrackWriter empty(options());
    empty.writeMic(buffer(Source::mic, format(48000, 2), 0));
    empty.writeSystem(buffer(Source::systemOutput, format(48000, 2), 0));
    EXPECT_EQ(empty.writeErrors(),
        (QStringList {
            u"Skipping mic_track_000.caf: frameLength=0"_s, u"Skipping system_track_000.caf: frameLength=0"_s }));
    EXPECT_EQ(std::tuple(empty.micSegmentURLs().size(), empty.systemSegmentURLs().size(), !!empty.systemFormat(),
                  QFile::exists(in(empty, u"system_track_000.caf"_s))),
        std::tuple(1, 0, false, false));

    empty.writeSystem(buffer(Source::systemOutput, format(48000, 2), 512));
    const auto emptied = empty.finalize();
    // A source that never wrote a frame has no track, though its (opened) segment is listed.
    EXPECT_EQ(std::pair(emptied.micSegmentURLs.size(), tracksOf(emptied)),
        std::pair(qsizetype(1),
            QJsonArray { track(u"systemOutput"_s, { u"system_track_000.caf"_s }, 48000, 2, 512, 512 / 48000.0) }));

    // A directory in a segment's place fails its open, even for root; it is retried under the same name.
    AudioTrackWriter retried(options());
    const QDir session(retried.sessionDirectory());
    ASSERT_TRUE(session.mkdir(u"mic_track_000.caf"_s) && session.mkdir(u"system_track_001.caf"_s));
    const AudioFormat mono = format(48000, 1);
    retried.writeMic(buffer(Source::mic, mono, 100));
    retried.writeMic(buffer(Source::mic, mono, 100));
    const QString errors = retried.writeErrors().join(u'\n'); // the same error twice
    EXPECT_TRUE(QRegularExpression(u"^(Could not open mic_track_000.caf: [^\n]+)\n\\1$"_s).match(errors).hasMatch());
    EXPECT_TRUE(retried.micSegmentURLs().isEmpty() && retried.micFormat() == mono);

    ASSERT_TRUE(session.rmdir(u"mic_track_000.caf"_s));
    retried.writeMic(buffer(Source::mic, mono, 100));
    EXPECT_EQ(std::pair(retried.micSegmentURLs(), retried.micFrameCount()),
        std::pair(QStringList { in(retried, u"mic_track_000.caf"_s) }, std::uint64_t(100)));

    // A system format change whose new segment cannot be opened leaves the format unknown.
    retried.writeSystem(buffer(Source::systemOutput, format(48000, 2), 100));
    retried.writeSystem(buffer(Source::systemOutput, format(44100, 2), 100));
    EXPECT_TRUE(
        retried.writeErrors().last().startsWith(u"Could not open system_track_001.caf: "_s) && !retried.systemFormat());
    EXPECT_EQ(tracksOf(retried.finalize())[1],
        (QJsonObject { { u"source"_s, u"systemOutput"_s }, { u"files"_s, QJsonArray { u"system_track_000.caf"_s } } }));

    // Files may not grow past 32 KiB for a moment: the next writes fail with the system's error.
    AudioTrackWriter failing(options());
    failing.writeMic(buffer(Source::mic, mono, 256));
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit original {};
    getrlimit(RLIMIT_FSIZE, &original);
    const rlimit tight { 32 * 1024, original.rlim_max };
    setrlimit(RLIMIT_FSIZE, &tight);
    failing.writeMic(buffer(Source::mic, mono, 48000));
    failing.writeSystem(buffer(Source::systemOutput, mono, 48000));
    setrlimit(RLIMIT_FSIZE, &original);
    std::signal(SIGXFSZ, previous);

    const QString formats = u" \\| processingFormat=48000.0Hz/1ch/interleaved=true "
                            u"buffer=48000.0Hz/1ch/interleaved=true"_s,
                  failures = failing.writeErrors().join(u'\n');
    EXPECT_TRUE(QRegularExpression(
        u"^Write error mic_track_000.caf: .+%1\nWrite error system_track_000.caf: .+%1$"_s.arg(formats))
                    .match(failures)
                    .hasMatch())
        << failures.toStdString();
    EXPECT_TRUE(!QFile::exists(in(failing, u"system_track_000.caf"_s)) && failing.systemSegmentURLs().isEmpty());
    failing.writeMic(buffer(Source::mic, mono, 256)); // the segment stays open; the failed write counted nothing
    EXPECT_EQ(std::pair(failing.micFrameCount(), failing.micSegmentURLs().size()), std::pair(512ul, qsizetype(1)));

    // Documents below a plain file; metadata that cannot be written fails finalize but the segments stay.
    ASSERT_TRUE(QFile(documents.filePath(u"plain"_s)).open(QIODevice::WriteOnly));
    EXPECT_THROW(AudioTrackWriter blocked({ documents.filePath(u"plain/Documents"_s), {}, {} }), FileError);

    AudioTrackWriter full(options());
    full.writeMic(buffer(Source::mic, mono, 100));
    ASSERT_TRUE(QDir(full.sessionDirectory()).mkdir(u"metadata.json"_s));
    EXPECT_TRUE(raised<FileError>([&] { full.finalize(); }).value().description().startsWith(u"Is a directory"_s));
    EXPECT_EQ(TestAudio::readSegment(in(full, u"mic_track_000.caf"_s)).frames(), 100u);
    // That failure left no temporary behind; a link planted at the old fixed temporary name is not followed.
    ASSERT_TRUE(QFile::link(documents.filePath(u"plain"_s), in(full, u"notes.json.tmp"_s)));
    writePrivateFileAtomically(in(full, u"notes.json"_s), "{}");
    EXPECT_EQ(std::tuple(QFileInfo(documents.filePath(u"plain"_s)).size(),
                  QDir(full.sessionDirectory()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                  QFileInfo(in(full, u"notes.json"_s)).size()),
        std::tuple(
            0, QStringList({ u"metadata.json"_s, u"mic_track_000.caf"_s, u"notes.json"_s, u"notes.json.tmp"_s }), 2));
}
