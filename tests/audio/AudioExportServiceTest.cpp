#include "AudioExportService.h"
#include "AudioExportError.h"
#include "Await.h"
#include "FileError.h"
#include "MediaModule.h"
#include "Raised.h"
#include "TestAudio.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>

using namespace Qt::StringLiterals;
using namespace TestAudio;

// The export's error, or nothing when it succeeded.
static std::optional<AudioExportError> exportError(
    const QStringList& segments, const QString& output, const std::atomic<bool>* cancel = nullptr)
{
    return raised<AudioExportError>([&] {
        await(AudioExportService::exportUploadTrack(segments, output, { AudioExportOptions::Coder::fast, cancel }));
    });
}

TEST(AudioExportServiceTest, SegmentsBecomeOneAacTrackInTheFirstFormatWithoutGapAndWithTheHeaderFirst)
{
    QTemporaryDir dir;
    struct Tone {
        int rate, channels;
        double seconds;
        float amplitude;
        double frequency = 440.0;
    };
    struct Level {
        double from, to, amplitude, tolerance;
    }; // seconds into the track: the first channel's tone there
    struct Case {
        std::vector<Tone> tones;
        std::vector<Level> levels;
        int slackFrames = 1;
        double loudFrom = 0;
    };
    // A loud tone (over 0.4) sounds from `loudFrom` seconds on.
    const Case cases[] = {
        { { { 44100, 2, 2.5, 0.5f } }, { { 0.5, 2.0, 0.5, 0.03 } } },
        // Quiet, then loud from ten seconds on; the fast coder renders a loud pure tone a little quieter.
        { { { 48000, 2, 10, 0.1f }, { 48000, 2, 5, 0.8f, 1000 } }, { { 0.5, 9, 0.1, 0.01 }, { 10.1, 14, 0.8, 0.12 } },
            1, 10 },
        // A format change is resampled into the first format; a mono voice is not 3 dB quieter in stereo.
        { { { 48000, 2, 2.0, 0.45f }, { 44100, 1, 3.0, 0.45f } }, { { 2.5, 4.5, 0.45, 0.04 } }, 2 },
        { { { 44100, 1, 2.0, 0.45f }, { 48000, 2, 3.0, 0.45f } }, { { 2.5, 4.5, 0.45, 0.04 } }, 2 },
    };
    for (const Case& c : cases) {
        const QString output = dir.filePath(u"out_%1.m4a"_s.arg(&c - cases));
        SCOPED_TRACE(output.toStdString());
        QStringList segments;
        for (const Tone& t : c.tones)
            writeToneSegment(segments.emplace_back(output + u".%1.caf"_s.arg(segments.size())), t.rate, t.channels,
                t.seconds, t.amplitude, t.frequency);
        std::ofstream(output.toStdString()) << std::string(3 << 20, 'x'); // an earlier output is replaced
        ASSERT_FALSE(exportError(segments, output));
        EXPECT_LT(QFileInfo(output).size(), 3 << 20);

        const int rate = c.tones[0].rate;
        const TrackInfo info = probe(output);
        EXPECT_EQ(std::tuple(info.readable, info.codec, info.profile, info.sampleRate, info.channels),
            std::tuple(true, u"aac"_s, u"LC"_s, rate, c.tones[0].channels));
        const double seconds = c.tones[0].seconds + (c.tones.size() > 1 ? c.tones[1].seconds : 0.0);
        EXPECT_NEAR(info.durationSeconds, seconds, c.slackFrames * 1024.0 / rate);
        const QString boxes = topLevelAtoms(output).join(u' '); // the movie header precedes the media data
        EXPECT_TRUE(boxes.indexOf(u"moov"_s) >= 0 && boxes.indexOf(u"moov"_s) < boxes.indexOf(u"mdat"_s))
            << boxes.toStdString();
        const std::vector<float> mono = decodeMono(output);
        for (const Level& l : c.levels)
            EXPECT_NEAR(
                rms(mono, std::size_t(l.from * rate), std::size_t(l.to * rate)), l.amplitude * M_SQRT1_2, l.tolerance);
        const auto loud = std::find_if(mono.begin(), mono.end(), [](float s) { return std::abs(s) > 0.4f; });
        EXPECT_NEAR(double(loud - mono.begin()), c.loudFrom * rate, 1024);
    }
}

TEST(AudioExportServiceTest, FailuresCarryTheirReasons)
{
    QTemporaryDir dir;
    const auto path = [&](const QString& name) { return dir.filePath(name); };
    const QString tone = path(u"a.caf"_s), text = path(u"mic_track_001.caf"_s), empty = path(u"b.caf"_s);
    writeToneSegment(tone, 48000, 1, 1.0, 0.5f);
    writeEmptyCafSegment(empty); // not a single sample: a file without a playable track
    std::ofstream(text.toStdString()) << QByteArray("Meeting notes, not audio.\n").repeated(3000).toStdString();
    const std::atomic<bool> cancel = true; // cancelled before the first packet
    using enum AudioExportError::Kind;
    struct Case {
        QStringList segments;
        AudioExportError::Kind kind;
        QString why, output = u"out.m4a"_s;
        bool cancel = false;
    };
    const Case cases[] = {
        { {}, noSegments, u"No audio segments to export"_s },
        { { tone, text }, noAudioTrack, u"No audio track found in mic_track_001.caf"_s },
        { { tone }, exportFailed, u"Audio export failed: No such file or directory"_s, u"missing/out.m4a"_s },
        { { tone }, exportFailed, u"Audio export failed: cancelled"_s, u"out.m4a"_s, true },
        { { empty }, exportFailed, u"Audio export failed: the segments hold no audio"_s },
    };
    const auto listing = [&] { return QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot); };
    const QStringList files = listing();
    for (const Case& c : cases) {
        const auto error = exportError(c.segments, path(c.output), c.cancel ? &cancel : nullptr);
        ASSERT_TRUE(error) << c.why.toStdString();
        EXPECT_EQ(std::pair(error->kind(), error->description()), std::pair(c.kind, c.why));
        EXPECT_TRUE(c.kind == exportFailed || listing() == files) << "left behind: " << c.why.toStdString();
    }
    EXPECT_THROW(await(AudioExportService::exportUploadTrack({ path(u"gone.caf"_s) }, path(u"gone.m4a"_s))), FileError)
        << "a segment that is gone is the file system's error, not an export error";
    EXPECT_FALSE(QFile::exists(path(u"gone.m4a"_s)));
}

// An installed client loads the media module from beside itself only; the build tree's is for its own programs.
TEST(AudioExportServiceTest, TheMediaModuleIsLookedForBesideTheProgram)
{
    using Paths = std::vector<std::filesystem::path>;
    EXPECT_EQ(MediaModule::candidates("/usr/bin/echoquill"), Paths { "/usr/lib/echoquill/libechoquill-media.so" });
    EXPECT_EQ(MediaModule::candidates(std::filesystem::read_symlink("/proc/self/exe")).size(), 2u);
    EXPECT_EQ(MediaModule::candidates("bin/echoquill"), Paths {});
}
