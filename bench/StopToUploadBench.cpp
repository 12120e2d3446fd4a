// Stop to both upload tracks ready for a 60-minute two-source recording (48 kHz
// mono microphone, 48 kHz stereo system output): the writer's finalize and
// the two exports as the capture manager runs them, at once on two threads.
// Figures go to standard error; log lines are discarded.
#include "AudioCaptureManager.h"
#include "AudioTrackWriter.h"
#include "BenchAudio.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const double minutes = argc > 1 ? std::max(1.0, atof(argv[1])) : 60.0;
    std::freopen("/dev/null", "w", stdout);
    QTemporaryDir documents;
    AudioTrackWriter::Options options;
    options.documentsDirectory = documents.path();
    AudioTrackWriter writer(options);

    BenchAudio::writeSession(writer, minutes);

    std::fprintf(stderr, "load average before: %s\n", BenchAudio::loadAverage().constData());
    QThreadPool pool;
    pool.setMaxThreadCount(2);
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = BenchAudio::cpuSeconds();
    const RecordingFinalizeResult finalized = writer.finalize();
    const double finalizeSeconds = double(clock.nsecsElapsed()) / 1e9;
    const CaptureSessionResult result = BenchAudio::await(AudioCaptureManager::exportUploadTracks(finalized, pool));
    const double totalSeconds = double(clock.nsecsElapsed()) / 1e9;
    const double cpu = BenchAudio::cpuSeconds() - cpuBefore;

    std::fprintf(stderr, "%-10s %11s %10s %9s %8s %8s\n", "recording", "finalize_s", "stop_to_ready_s", "cpu_s", "mic",
        "system");
    std::fprintf(stderr, "%7.0fmin %11.2f %15.2f %9.1f %8s %8s\n", minutes, finalizeSeconds, totalSeconds, cpu,
        result.micURL ? "ok" : "FAILED", result.systemURL ? "ok" : "FAILED");
    std::fprintf(stderr, "peak memory of this process: %.0f MiB\n", BenchAudio::peakMemoryMiB());
    std::fprintf(stderr, "load average after: %s\n", BenchAudio::loadAverage().constData());
}
