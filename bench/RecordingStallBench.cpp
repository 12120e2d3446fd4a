// The longest main-thread stall while a recording starts and while it stops:
// the recorder the interface drives (AudioRecorder with its capture manager)
// records both sources of the test desktop's sound server, started and stopped
// RUNS times, while a 1 ms timer on the main thread notes the longest gap
// between two of its turns. Run inside scripts/with-test-env. The table goes to
// standard error, one "[figure]" line to standard output; log lines are discarded.
#include "AudioCaptureManager.h"
#include "AudioRecorder.h"
#include "BenchAudio.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// The longest gap between two turns of the main thread's event loop since the last reset.
class StallProbe {
public:
    StallProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_longest = std::max(m_longest, m_clock.nsecsElapsed());
            m_clock.restart();
        });
        m_timer.start();
    }
    void reset() { m_longest = 0, m_clock.restart(); }
    [[nodiscard]] double longestMs() const { return double(std::max(m_longest, m_clock.nsecsElapsed())) / 1e6; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};

// The probe's timer brings an event every millisecond, so each turn may sleep until the next one.
void spinUntil(const std::function<bool()>& done, int limitMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    FILE* figure = BenchAudio::takeFigureOutput();
    QTemporaryDir scratch;
    // A tone into the default sink and into the microphone's feed, for as long as the runs last.
    const auto tone = [span = QString::number(runs * 10 + 30)](const QString& sink) {
        const QString pulse = QStringLiteral("pulseaudio");
        return QStringList { QStringLiteral("-q"), QStringLiteral("-n"), QStringLiteral("-t"), pulse, sink,
            QStringLiteral("synth"), span, QStringLiteral("sine"), QStringLiteral("440") };
    };
    QProcess output, voice;
    output.start(QStringLiteral("sox"), tone(QStringLiteral("speakers")));
    voice.start(QStringLiteral("sox"), tone(QStringLiteral("micfeed")));
    std::fprintf(stderr, "load average before: %s\n", BenchAudio::loadAverage().constData());

    AudioRecorder recorder(
        [documents = scratch.path()] {
            AudioTrackWriter::Options options;
            options.documentsDirectory = documents;
            return std::make_unique<AudioCaptureManager>(CaptureTimings {}, options);
        },
        nullptr);
    StallProbe probe;
    spinUntil([] { return false; }, 1000);
    std::vector<double> starts, stops;
    std::fprintf(stderr, "%-6s %16s %16s %10s\n", "run", "start_stall_ms", "stop_stall_ms", "stop_s");
    for (int run = 0; run < runs; ++run) {
        probe.reset();
        recorder.start();
        spinUntil([&] { return recorder.isRecording() || !recorder.isStartingRecording(); }, 30000);
        starts.push_back(probe.longestMs());
        spinUntil([&] { return recorder.audioLevel() > 0; }, 10000);
        spinUntil([] { return false; }, 2000);
        probe.reset();
        QElapsedTimer stopping;
        stopping.start();
        const std::optional<QString> folder = recorder.stopRecording();
        spinUntil([&] { return recorder.lastSavedURL() != folder; }, 60000);
        stops.push_back(probe.longestMs());
        std::fprintf(stderr, "%-6d %16.1f %16.1f %10.2f\n", run, starts.back(), stops.back(),
            double(stopping.elapsed()) / 1000.0);
    }
    output.kill(), voice.kill();
    output.waitForFinished(), voice.waitForFinished();
    std::fprintf(stderr, "load average after: %s\n", BenchAudio::loadAverage().constData());
    std::fprintf(figure,
        "[figure] longest main-thread stall while starting a recording: %.1f ms (median %.1f), while "
        "stopping it: %.1f ms (median %.1f; %d starts and stops of both sources) - target under 50 ms\n",
        *std::max_element(starts.begin(), starts.end()), median(starts), *std::max_element(stops.begin(), stops.end()),
        median(stops), runs);
    std::fclose(figure);
}
