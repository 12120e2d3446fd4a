// Start-up recovery of a 60-minute two-source recording whose client was
// killed: a child process writes the session (48 kHz mono microphone, 48 kHz
// stereo system output) with both upload tracks encoded as it goes, and ends
// without closing a file; then the segments are repaired, the session finalized
// and both upload tracks made (what was encoded up to the last checkpoint, and
// the rest from the segments), as the client does at its next start. Figures
// go to standard error.
#include "AudioTrackWriter.h"
#include "BenchAudio.h"
#include "Log.h"
#include "RecordingRecovery.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// Writes `minutes` of both sources into a new session under `documents` and dies without closing anything.
[[noreturn]] void recordAndDie(const QString& documents, double minutes)
{
    std::freopen("/dev/null", "w", stdout);
    AudioTrackWriter::Options options;
    options.documentsDirectory = documents;
    auto* writer = new AudioTrackWriter(options);
    // The encoders' threads and files are left as the kill leaves them: the last checkpoint at most 10 s back.
    new LiveTracks(BenchAudio::writeLiveSession(*writer, minutes));
    ::_exit(0);
}

}

int main(int argc, char** argv)
{
    const double minutes = argc > 1 ? std::max(1.0, atof(argv[1])) : 60.0;
    QTemporaryDir documents;
    const pid_t child = ::fork();
    if (child == 0)
        recordAndDie(documents.path(), minutes);
    int status = 0;
    ::waitpid(child, &status, 0);

    QCoreApplication app(argc, argv);
    FILE* figure = BenchAudio::takeFigureOutput();
    const QDir recordings(QDir(documents.path()).filePath(QStringLiteral("Echoquill Recordings")));
    const QString session = recordings.filePath(recordings.entryList(QDir::Dirs | QDir::NoDotAndDotDot).value(0));
    std::fprintf(stderr, "load average before: %s\n", BenchAudio::loadAverage().constData());
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = BenchAudio::cpuSeconds();
    Log::Capture log;
    const std::optional<InterruptedSession> recovered = RecordingRecovery::recover(session);
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    const double cpu = BenchAudio::cpuSeconds() - cpuBefore;
    std::fprintf(stderr, "%-10s %11s %9s %12s\n", "recording", "recovery_s", "cpu_s", "recovered_s");
    std::fprintf(
        stderr, "%7.0fmin %11.2f %9.1f %12.1f\n", minutes, seconds, cpu, recovered ? recovered->durationSeconds : -1.0);
    std::fprintf(stderr, "load average after: %s\n", BenchAudio::loadAverage().constData());
    std::fprintf(figure,
        "[figure] recovery of a killed %g min two-source recording to both upload tracks ready: %.2f s (%.1f s CPU), "
        "%s\n",
        minutes, seconds, cpu,
        !recovered ? "FAILED"
            : log.containsPrefix(QStringLiteral("[RecordingRecovery] upload_track.m4a: took the"))
                && log.containsPrefix(QStringLiteral("[RecordingRecovery] system_upload.m4a: took the"))
            ? "both tracks taken from what was encoded while recording, the rest from the segments"
            : "encoded from the segments");
    return recovered ? 0 : 1;
}
