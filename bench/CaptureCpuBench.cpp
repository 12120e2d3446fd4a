// CPU cost of a recording: a capture manager records both sources of the
// sound server for a minute (a tone playing into the default sink, speech into
// the microphone's feed) and, where it does, encodes both upload tracks while
// it records; next to it, two parecord processes record the same two streams
// in the same format and then ffmpeg encodes their files to the same AAC
// tracks (64 kb/s for the mono microphone, 128 kb/s for stereo system output,
// the fast coder, MPEG-4 audio files with the header first). Run inside
// scripts/with-test-env. The table goes to standard error, one "[figure]" line
// to standard output; log lines are discarded, except the encoders' own count
// of what was left for the stop.
#include "AudioCaptureManager.h"
#include "BenchAudio.h"
#include "Log.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <sys/resource.h>

namespace {

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// CPU seconds of another process's threads, from the scheduler's nanosecond count: /proc's
// user and system times come in clock ticks, a tenth of what parecord spends in a minute.
double cpuSecondsOf(qint64 pid)
{
    double seconds = 0.0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(QStringLiteral("/proc/%1/task/%2/schedstat").arg(pid).arg(task));
        if (file.open(QIODevice::ReadOnly))
            seconds += double(file.readAll().split(' ').value(0).toLongLong()) / 1e9;
    }
    return seconds;
}

std::unique_ptr<QProcess> started(const QString& program, const QStringList& arguments)
{
    auto process = std::make_unique<QProcess>();
    process->start(program, arguments);
    process->waitForStarted();
    return process;
}

// User plus system CPU seconds of the ended children this process has waited for (QProcess waits for its own).
double endedChildrenCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// ffmpeg encodes a parecord file (or its first `limitSeconds`) to an upload track in the client's format:
// AAC-LC with the fast coder at `bitrate`, an MPEG-4 audio file with the header first.
bool ffmpegEncode(const QString& input, const QString& output, const QString& bitrate, double limitSeconds = 0.0)
{
    QStringList arguments { QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"),
        QStringLiteral("-y") };
    if (limitSeconds > 0.0)
        arguments << QStringLiteral("-t") << QString::number(limitSeconds);
    arguments << QStringLiteral("-i") << input << QStringLiteral("-c:a") << QStringLiteral("aac")
              << QStringLiteral("-aac_coder") << QStringLiteral("fast") << QStringLiteral("-b:a") << bitrate
              << QStringLiteral("-movflags") << QStringLiteral("+faststart") << output;
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ffmpeg.start(QStringLiteral("ffmpeg"), arguments);
    return ffmpeg.waitForFinished(-1) && ffmpeg.exitStatus() == QProcess::NormalExit && ffmpeg.exitCode() == 0;
}

// An upload track as ffprobe reads it: its length, and its codec, rate, channels and bit rate in words.
struct Probed {
    double seconds = 0.0;
    QString description;
};

Probed probed(const QString& file)
{
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
        { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
            QStringLiteral("stream=codec_name,profile,sample_rate,channels,bit_rate:format=duration"),
            QStringLiteral("-of"), QStringLiteral("default=nw=1"), file });
    probe.waitForFinished(-1);
    QMap<QString, QString> fields;
    for (const QByteArray& line : probe.readAllStandardOutput().split('\n'))
        if (const int equals = line.indexOf('='); equals > 0)
            fields.insert(QString::fromUtf8(line.left(equals)), QString::fromUtf8(line.mid(equals + 1)));
    Probed track { fields.value(QStringLiteral("duration")).toDouble(), QStringLiteral("unreadable") };
    if (track.seconds > 0.0)
        track.description
            = QStringLiteral("%1 %2, %3 Hz, %4 ch, %5 kb/s, %6 s")
                  .arg(fields.value(QStringLiteral("codec_name")), fields.value(QStringLiteral("profile")),
                      fields.value(QStringLiteral("sample_rate")), fields.value(QStringLiteral("channels")))
                  .arg(fields.value(QStringLiteral("bit_rate")).toDouble() / 1000.0, 0, 'f', 0)
                  .arg(track.seconds, 0, 'f', 1);
    return track;
}

// What the live encoders reported at stop: whether there were any, and how many captured buffers each still
// had queued (the rest of its lag). Empty when the client encodes nothing while it records.
struct EncodersAtStop {
    int tracks = 0;
    QStringList leftAtStop;
    QStringList otherLines; // a failure, say
};

EncodersAtStop encodersAtStop(const QStringList& lines)
{
    static const QRegularExpression finished(
        QStringLiteral("^\\[LiveTrackEncoder\\] Finished (\\S+): (\\d+) frames, (\\d+) buffers left at stop"));
    EncodersAtStop encoders;
    for (const QString& line : lines) {
        if (!line.startsWith(QStringLiteral("[LiveTrackEncoder] ")))
            continue;
        if (const QRegularExpressionMatch match = finished.match(line); match.hasMatch()) {
            ++encoders.tracks;
            encoders.leftAtStop << QStringLiteral("%1 %2 (a track of %3 frames)")
                                       .arg(match.captured(1), match.captured(3), match.captured(2));
        } else {
            encoders.otherLines << line;
        }
    }
    return encoders;
}

}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, atoi(argv[1])) : 60;
    // The capture services log every start; only the figure line goes to standard output.
    FILE* figure = BenchAudio::takeFigureOutput();
    QTemporaryDir scratch;
    const QDir files(scratch.path());
    const QString speech = files.filePath(QStringLiteral("speech.wav"));
    QProcess::execute(QStringLiteral("espeak-ng"),
        { QStringLiteral("-w"), speech,
            QStringLiteral("Let us go through the action items from last week, one by one.") });
    const QString span = QString::number(2 * seconds + 30);
    auto tone = started(QStringLiteral("sox"),
        { QStringLiteral("-q"), QStringLiteral("-n"), QStringLiteral("-t"), QStringLiteral("pulseaudio"),
            QStringLiteral("speakers"), QStringLiteral("synth"), span, QStringLiteral("sine"), QStringLiteral("440"),
            QStringLiteral("gain"), QStringLiteral("-6") });
    auto voice = started(QStringLiteral("sox"),
        { QStringLiteral("-q"), speech, QStringLiteral("-t"), QStringLiteral("pulseaudio"), QStringLiteral("micfeed"),
            QStringLiteral("repeat"), span });
    runFor(3000);
    std::fprintf(stderr, "load average before: %s\n", BenchAudio::loadAverage().constData());

    // The client: capture and, where it does, both tracks' encoding, all in this process (getrusage counts
    // every thread). The stop's CPU, the encoders' tails included, is counted apart.
    AudioTrackWriter::Options options;
    options.documentsDirectory = scratch.path();
    Log::Capture logged;
    AudioCaptureManager manager({}, options);
    manager.start();
    runFor(2000);
    const double ourBefore = BenchAudio::cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    runFor(seconds * 1000);
    const double ourCpu = BenchAudio::cpuSeconds() - ourBefore;
    const double ourWall = double(clock.nsecsElapsed()) / 1e9;
    const double exportBefore = BenchAudio::cpuSeconds();
    clock.restart();
    const CaptureSessionResult result = BenchAudio::await(manager.stopCapture());
    const double stopWall = double(clock.nsecsElapsed()) / 1e9;
    const double stopCpu = BenchAudio::cpuSeconds() - exportBefore;
    const EncodersAtStop encoders = encodersAtStop(logged.lines());

    // parecord x2 on the same streams in the client's capture format, then ffmpeg on its files.
    const QString micFile = files.filePath(QStringLiteral("parecord_mic.caf"));
    const QString systemFile = files.filePath(QStringLiteral("parecord_system.caf"));
    auto micRecorder = started(QStringLiteral("parecord"),
        { QStringLiteral("--device=virtual_mic"), QStringLiteral("--format=float32le"), QStringLiteral("--rate=48000"),
            QStringLiteral("--channels=1"), QStringLiteral("--file-format=caf"), micFile });
    auto systemRecorder = started(QStringLiteral("parecord"),
        { QStringLiteral("--device=speakers.monitor"), QStringLiteral("--format=float32le"),
            QStringLiteral("--rate=48000"), QStringLiteral("--channels=2"), QStringLiteral("--file-format=caf"),
            systemFile });
    runFor(2000);
    const double theirBefore = cpuSecondsOf(micRecorder->processId()) + cpuSecondsOf(systemRecorder->processId());
    clock.restart();
    runFor(seconds * 1000);
    const double theirCpu
        = cpuSecondsOf(micRecorder->processId()) + cpuSecondsOf(systemRecorder->processId()) - theirBefore;
    const double theirWall = double(clock.nsecsElapsed()) / 1e9;
    micRecorder->terminate();
    systemRecorder->terminate();
    micRecorder->waitForFinished();
    systemRecorder->waitForFinished();
    tone->kill();
    voice->kill();
    tone->waitForFinished();
    voice->waitForFinished();

    // Every other child has ended and been waited for, so the children's CPU grows by ffmpeg's alone. Its
    // start-up, the median of three runs on a tenth of a second of each file, is left out as the other two starts
    // are: over a meeting it is spread thin. A first unmeasured run loads the program and its libraries, so that
    // neither side pays for a cold start.
    const QString micTrack = files.filePath(QStringLiteral("ffmpeg_mic.m4a"));
    const QString systemTrack = files.filePath(QStringLiteral("ffmpeg_system.m4a"));
    const QString scrap = files.filePath(QStringLiteral("ffmpeg_start.m4a"));
    auto startBoth = [&] {
        return ffmpegEncode(micFile, scrap, QStringLiteral("64k"), 0.1)
            && ffmpegEncode(systemFile, scrap, QStringLiteral("128k"), 0.1);
    };
    bool startsOk = startBoth();
    const double ffmpegBefore = endedChildrenCpuSeconds();
    clock.restart();
    const bool ffmpegOk = ffmpegEncode(micFile, micTrack, QStringLiteral("64k"))
        && ffmpegEncode(systemFile, systemTrack, QStringLiteral("128k"));
    const double ffmpegWall = double(clock.nsecsElapsed()) / 1e9;
    const double ffmpegCpu = endedChildrenCpuSeconds() - ffmpegBefore;
    std::vector<double> starts;
    for (int run = 0; run < 3; ++run) {
        const double startBefore = endedChildrenCpuSeconds();
        startsOk = startBoth() && startsOk;
        starts.push_back(endedChildrenCpuSeconds() - startBefore);
    }
    std::sort(starts.begin(), starts.end());
    const double ffmpegStartCpu = starts[1];
    const Probed micTheirs = probed(micTrack);
    const Probed systemTheirs = probed(systemTrack);
    const Probed micOurs = probed(result.micURL.value_or(QString()));
    const Probed systemOurs = probed(result.systemURL.value_or(QString()));
    const double audioSeconds = micTheirs.seconds;

    const double ourPerMinute = ourCpu * 60.0 / ourWall;
    const double parecordPerMinute = theirCpu * 60.0 / theirWall;
    const double ffmpegPerMinute = audioSeconds > 0.0 ? (ffmpegCpu - ffmpegStartCpu) * 60.0 / audioSeconds : 0.0;
    const double theirPerMinute = parecordPerMinute + ffmpegPerMinute;
    const QString client = encoders.tracks > 0 ? QStringLiteral("capture and encoding")
                                               : QStringLiteral("capture alone, tracks made at stop");
    std::fprintf(
        stderr, "%-44s %8s %8s %14s %10s\n", "recording both sources", "wall_s", "cpu_s", "cpu_s_per_min", "%_of_core");
    std::fprintf(stderr, "%-44s %8.1f %8.2f %14.3f %10.2f\n", qPrintable(QStringLiteral("client: ") + client), ourWall,
        ourCpu, ourPerMinute, 100.0 * ourPerMinute / 60.0);
    std::fprintf(stderr, "%-44s %8.1f %8.2f %14.3f %10.2f\n", "2 x parecord", theirWall, theirCpu, parecordPerMinute,
        100.0 * parecordPerMinute / 60.0);
    std::fprintf(stderr, "%-44s %8.1f %8.2f %14.3f %10.2f\n",
        qPrintable(QStringLiteral("ffmpeg, both tracks of %1 s of audio").arg(audioSeconds, 0, 'f', 1)), ffmpegWall,
        ffmpegCpu, ffmpegPerMinute, 100.0 * ffmpegPerMinute / 60.0);
    std::fprintf(stderr, "%-44s %8s %8s %14.3f %10.2f\n", "2 x parecord + ffmpeg", "", "", theirPerMinute,
        100.0 * theirPerMinute / 60.0);
    std::fprintf(stderr,
        "ffmpeg: start-up %.3f s CPU for both (median of %.3f, %.3f, %.3f; left out of its per-minute figure), %s; "
        "fast coder, header first\n",
        ffmpegStartCpu, starts[0], starts[1], starts[2], startsOk && ffmpegOk ? "ok" : "FAILED");
    std::fprintf(stderr, "tracks: client's mic %s, system %s; ffmpeg's mic %s, system %s\n",
        qPrintable(micOurs.description), qPrintable(systemOurs.description), qPrintable(micTheirs.description),
        qPrintable(systemTheirs.description));
    if (encoders.tracks > 0)
        std::fprintf(stderr, "encoded while recording: %d tracks; captured buffers still queued at stop: %s\n",
            encoders.tracks, qPrintable(encoders.leftAtStop.join(QStringLiteral(", "))));
    else
        std::fprintf(stderr, "no track was encoded while recording\n");
    for (const QString& line : encoders.otherLines)
        std::fprintf(stderr, "%s\n", qPrintable(line));
    std::fprintf(stderr, "stopCapture (finalize and both tracks of %d s): %.2f s wall, %.2f s CPU, tracks %s/%s\n",
        seconds, stopWall, stopCpu, result.micURL ? "ok" : "missing", result.systemURL ? "ok" : "missing");
    std::fprintf(stderr, "ratios: %.2fx parecord x2 + ffmpeg, %.2fx parecord x2 alone\n", ourPerMinute / theirPerMinute,
        ourPerMinute / parecordPerMinute);
    std::fprintf(stderr, "load average after: %s\n", BenchAudio::loadAverage().constData());
    std::fprintf(figure,
        "[figure] CPU per minute of a two-source recording: %.2f s through the capture manager (%s, %.1f%% of a "
        "core), next to %.2f s for parecord of the same two streams plus ffmpeg encoding them to the same tracks "
        "(%.2f s + %.2f s, %.1f%%): %.2fx parecord + ffmpeg - target 1.2x or less; stopping it (finalize and both "
        "tracks of %d s): %.2f s CPU%s\n",
        ourPerMinute, qPrintable(client), 100.0 * ourPerMinute / 60.0, theirPerMinute, parecordPerMinute,
        ffmpegPerMinute, 100.0 * theirPerMinute / 60.0, ourPerMinute / theirPerMinute, seconds, stopCpu,
        result.micURL && result.systemURL && startsOk && ffmpegOk && audioSeconds > 0.0 ? "" : " - a track FAILED");
    std::fclose(figure);
}
