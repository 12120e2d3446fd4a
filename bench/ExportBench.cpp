// The upload-track export against the ffmpeg program encoding the same two
// segments (ten minutes of 48 kHz stereo unless told otherwise) to AAC in one run, with each AAC
// coder, as median wall seconds of alternating runs. A ratio of 1.0 or more
// means the export is at least as fast. The table goes to standard error, one
// "[figure]" line per coder to standard output.
#include "AudioExportService.h"
#include "BenchAudio.h"
#include "SegmentFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int rate = 48000;

void writeSegment(const QString& path, double seconds, std::uint64_t first)
{
    const AudioFormat format { double(rate), 2, AudioFormat::CommonFormat::Float32, true };
    QString error;
    auto file = SegmentFile::create(path, format, 1.0, error);
    const auto total = std::uint64_t(seconds * rate);
    for (std::uint64_t done = 0; done < total; done += 4096) {
        const auto frames = std::uint32_t(std::min<std::uint64_t>(4096, total - done));
        file->write(
            *BenchAudio::signalBuffer(AudioCaptureSource::systemOutput, format, frames, first + done).pcmBuffer, error);
    }
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double timed(const std::function<void()>& work)
{
    QElapsedTimer clock;
    clock.start();
    work();
    return double(clock.nsecsElapsed()) / 1e9;
}

}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    const double minutes = argc > 2 ? std::max(0.1, atof(argv[2])) : 10.0;
    QTemporaryDir dir;
    const QString first = QDir(dir.path()).filePath(QStringLiteral("system_track_000.caf"));
    const QString second = QDir(dir.path()).filePath(QStringLiteral("system_track_001.caf"));
    const double audioSeconds = minutes * 60.0;
    writeSegment(first, audioSeconds * 0.6, 0);
    writeSegment(second, audioSeconds * 0.4, std::uint64_t(audioSeconds * 0.6 * rate));
    const QString list = QDir(dir.path()).filePath(QStringLiteral("list.txt"));
    QFile listFile(list);
    listFile.open(QIODevice::WriteOnly);
    listFile.write(("file '" + first + "'\nfile '" + second + "'\n").toUtf8());
    listFile.close();

    std::fprintf(stderr, "load average before: %s\n", BenchAudio::loadAverage().constData());
    std::fprintf(stderr, "%-8s %10s %10s %7s %12s\n", "coder", "export_s", "ffmpeg_s", "ratio", "export_xRT");
    for (const auto coder : { AudioExportOptions::Coder::fast, AudioExportOptions::Coder::twoLoop }) {
        const char* name = coder == AudioExportOptions::Coder::fast ? "fast" : "twoloop";
        std::vector<double> ours, theirs;
        for (int run = 0; run < runs; ++run) {
            const QString output = QDir(dir.path()).filePath(QStringLiteral("ours.m4a"));
            ours.push_back(timed([&] {
                AudioExportService::encodeUploadTrack({ first, second }, output, { coder, nullptr });
            }));
            theirs.push_back(timed([&] {
                QProcess ffmpeg;
                ffmpeg.start(QStringLiteral("ffmpeg"),
                    { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
                        QStringLiteral("concat"), QStringLiteral("-safe"), QStringLiteral("0"), QStringLiteral("-i"),
                        list, QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("-aac_coder"),
                        QString::fromLatin1(name), QStringLiteral("-b:a"), QStringLiteral("128k"),
                        QStringLiteral("-movflags"), QStringLiteral("+faststart"),
                        QDir(dir.path()).filePath(QStringLiteral("theirs.m4a")) });
                ffmpeg.waitForFinished(-1);
            }));
        }
        const double a = median(ours), b = median(theirs);
        std::fprintf(stderr, "%-8s %10.2f %10.2f %7.2f %12.1f\n", name, a, b, b / a, audioSeconds / a);
        const bool clients = coder == AudioExportOptions {}.coder;
        std::printf(
            "[figure] export of %g min of audio in two segments to the upload track, AAC %s coder%s: %.2f s "
            "(%.0fx real time), next to %.2f s for the ffmpeg command line on the same segments (%.2fx ffmpeg's "
            "time; medians of %d)\n",
            minutes, name, clients ? " (the client's)" : "", a, audioSeconds / a, b, a / b, runs);
        std::fflush(stdout);
    }
    std::fprintf(stderr, "peak memory of this process: %.0f MiB\n", BenchAudio::peakMemoryMiB());
    std::fprintf(stderr, "load average after: %s\n", BenchAudio::loadAverage().constData());
}
