// CPU cost of a recording: a capture manager records both sources of the
// sound server for a minute (a tone playing into the default sink, speech into
// the microphone's feed), next to two parecord processes recording the same
// two streams in the same format. Run inside scripts/with-test-env. The table
// goes to standard error, one "[figure]" line to standard output; log lines
// are discarded.
#include "AudioCaptureManager.h"
#include "BenchAudio.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

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

}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, atoi(argv[1])) : 60;
    // The capture services log every start; only the figure line goes to standard output.
    FILE* figure = BenchAudio::takeFigureOutput();
    QTemporaryDir scratch;
    const QString speech = QDir(scratch.path()).filePath(QStringLiteral("speech.wav"));
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

    AudioTrackWriter::Options options;
    options.documentsDirectory = scratch.path();
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

    auto micRecorder = started(QStringLiteral("parecord"),
        { QStringLiteral("--device=virtual_mic"), QStringLiteral("--format=float32le"), QStringLiteral("--rate=48000"),
            QStringLiteral("--channels=1"), QStringLiteral("--file-format=caf"),
            QDir(scratch.path()).filePath(QStringLiteral("parecord_mic.caf")) });
    auto systemRecorder = started(QStringLiteral("parecord"),
        { QStringLiteral("--device=speakers.monitor"), QStringLiteral("--format=float32le"),
            QStringLiteral("--rate=48000"), QStringLiteral("--channels=2"), QStringLiteral("--file-format=caf"),
            QDir(scratch.path()).filePath(QStringLiteral("parecord_system.caf")) });
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

    std::fprintf(
        stderr, "%-28s %8s %8s %14s %10s\n", "recording both sources", "wall_s", "cpu_s", "cpu_s_per_min", "%_of_core");
    std::fprintf(stderr, "%-28s %8.1f %8.2f %14.3f %10.2f\n", "AudioCaptureManager", ourWall, ourCpu,
        ourCpu * 60.0 / ourWall, 100.0 * ourCpu / ourWall);
    std::fprintf(stderr, "%-28s %8.1f %8.2f %14.3f %10.2f\n", "2 x parecord", theirWall, theirCpu,
        theirCpu * 60.0 / theirWall, 100.0 * theirCpu / theirWall);
    std::fprintf(stderr, "stopCapture (finalize + both exports of %d s): %.2f s wall, %.2f s CPU, tracks %s/%s\n",
        seconds, stopWall, stopCpu, result.micURL ? "ok" : "missing", result.systemURL ? "ok" : "missing");
    std::fprintf(stderr, "load average after: %s\n", BenchAudio::loadAverage().constData());
    std::fprintf(figure,
        "[figure] CPU per minute of a two-source recording: %.2f s through the capture manager (%.1f%% of a "
        "core), next to %.2f s for parecord of the same two streams (%.1f%%), %.2fx parecord; stopping it "
        "(finalize and both exports of %d s): %.2f s CPU\n",
        ourCpu * 60.0 / ourWall, 100.0 * ourCpu / ourWall, theirCpu * 60.0 / theirWall, 100.0 * theirCpu / theirWall,
        (ourCpu / ourWall) / (theirCpu / theirWall), seconds, stopCpu);
    std::fclose(figure);
}
