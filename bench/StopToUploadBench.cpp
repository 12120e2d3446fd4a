// Stop to both upload tracks ready for a 60-minute two-source recording (48 kHz
// mono microphone, 48 kHz stereo system output), side by side in one run: with
// the tracks encoded while recording (the capture manager's way: only the
// encoders' tails and the header moves are left at stop), and exported from the
// segments at stop, both at once on two threads. The live run's recording is
// written faster than real time; the stop waits until the encoders have caught
// up, as they do over a real hour. Tables go to standard error, one "[figure]"
// line to standard output; log lines are discarded.
#include "AudioCaptureManager.h"
#include "AudioTrackWriter.h"
#include "BenchAudio.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

namespace {

struct Stop {
    double recordingCpu = 0.0;
    double finalizeSeconds = 0.0;
    double readySeconds = 0.0;
    double cpu = 0.0;
    bool mic = false;
    bool system = false;
};

Stop record(double minutes, bool live)
{
    QTemporaryDir documents;
    AudioTrackWriter::Options options;
    options.documentsDirectory = documents.path();
    AudioTrackWriter writer(options);
    Stop stop;
    LiveTracks tracks;
    const double recordingCpuBefore = BenchAudio::cpuSeconds();
    if (live) {
        tracks = BenchAudio::writeLiveSession(writer, minutes);
    } else {
        BenchAudio::writeSession(writer, minutes);
    }
    stop.recordingCpu = BenchAudio::cpuSeconds() - recordingCpuBefore;

    QThreadPool pool;
    pool.setMaxThreadCount(2);
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = BenchAudio::cpuSeconds();
    const RecordingFinalizeResult finalized = writer.finalize();
    stop.finalizeSeconds = double(clock.nsecsElapsed()) / 1e9;
    const CaptureSessionResult result
        = BenchAudio::await(AudioCaptureManager::exportUploadTracks(finalized, pool, {}, std::move(tracks)));
    stop.readySeconds = double(clock.nsecsElapsed()) / 1e9;
    stop.cpu = BenchAudio::cpuSeconds() - cpuBefore;
    stop.mic = result.micURL.has_value();
    stop.system = result.systemURL.has_value();
    return stop;
}

}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const double minutes = argc > 1 ? std::max(1.0, atof(argv[1])) : 60.0;
    FILE* figure = BenchAudio::takeFigureOutput();

    std::fprintf(stderr, "load average before: %s\n", BenchAudio::loadAverage().constData());
    std::fprintf(stderr, "%-10s %-8s %15s %11s %15s %9s %8s %8s\n", "recording", "tracks", "recording_cpu_s",
        "finalize_s", "stop_to_ready_s", "cpu_s", "mic", "system");
    Stop stops[2];
    for (const bool live : { true, false }) {
        const Stop stop = stops[live ? 0 : 1] = record(minutes, live);
        std::fprintf(stderr, "%7.0fmin %-8s %15.1f %11.2f %15.2f %9.1f %8s %8s\n", minutes, live ? "live" : "export",
            stop.recordingCpu, stop.finalizeSeconds, stop.readySeconds, stop.cpu, stop.mic ? "ok" : "FAILED",
            stop.system ? "ok" : "FAILED");
    }
    std::fprintf(stderr, "peak memory of this process: %.0f MiB\n", BenchAudio::peakMemoryMiB());
    std::fprintf(stderr, "load average after: %s\n", BenchAudio::loadAverage().constData());
    std::fprintf(figure,
        "[figure] stop to both upload tracks ready after %g min of two-source recording: %.2f s with the tracks "
        "encoded while recording (%.1f s CPU at stop), %.2f s exporting from the segments (%.1f s CPU)%s\n",
        minutes, stops[0].readySeconds, stops[0].cpu, stops[1].readySeconds, stops[1].cpu,
        stops[0].mic && stops[0].system && stops[1].mic && stops[1].system ? "" : " — a track FAILED");
}
