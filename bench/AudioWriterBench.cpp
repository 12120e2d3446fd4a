// The track writer with two sources of 48 kHz stereo float in 4096-frame
// buffers (a minute of recording per iteration), reported as seconds of
// recording per CPU-second; it should reach 500x real time. Next to it, the
// per-buffer cost of the capture threads' copy and of the copy plus its post.
// Figures go to standard error; the writer's log lines are discarded.
#include "AudioTrackWriter.h"
#include "CapturedAudioBuffer.h"
#include "SerialQueue.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <iostream>

namespace {

constexpr std::uint32_t bufferFrames = 4096;
constexpr double rate = 48000;
constexpr int recordingSeconds = 60;

CapturedAudioBuffer toneBuffer(AudioCaptureSource source, bool interleaved)
{
    const AudioFormat format { rate, 2, AudioFormat::CommonFormat::Float32, interleaved };
    auto pcm = PcmBuffer::create(format, bufferFrames);
    pcm->setFrameLength(bufferFrames);
    for (std::uint32_t b = 0; b < pcm->bufferCount(); ++b)
        for (std::uint32_t i = 0; i < pcm->byteSize(b) / sizeof(float); ++i)
            pcm->samples<float>(b)[i] = 0.3f * std::sin(float(i) * 0.05f);
    return CapturedAudioBuffer { source, 0, {}, format, bufferFrames, std::move(pcm) };
}

void WriterTwoSources(benchmark::State& state)
{
    const bool interleaved = state.range(0);
    const CapturedAudioBuffer mic = toneBuffer(AudioCaptureSource::mic, interleaved);
    const CapturedAudioBuffer system = toneBuffer(AudioCaptureSource::systemOutput, interleaved);
    const int buffers = int(recordingSeconds * rate / bufferFrames);
    QTemporaryDir documents;
    AudioTrackWriter::Options options;
    options.documentsDirectory = documents.path();
    for (auto _ : state) {
        AudioTrackWriter writer(options);
        for (int i = 0; i < buffers; ++i) {
            writer.writeMic(mic);
            writer.writeSystem(system);
        }
        benchmark::DoNotOptimize(writer.finalize());
        state.PauseTiming();
        QDir(writer.sessionDirectory()).removeRecursively();
        state.ResumeTiming();
    }
    const double seconds = buffers * bufferFrames / rate;
    state.counters["recording_s_per_cpu_s"]
        = benchmark::Counter(seconds, benchmark::Counter::kIsIterationInvariantRate);
}

// What a capture thread does with each fragment: one allocation, one copy, the record.
CapturedAudioBuffer copyFragment(const AudioFormat& format, const std::vector<float>& fragment)
{
    auto copy = PcmBuffer::create(format, bufferFrames);
    copy->copyIn(0, fragment.data(), fragment.size() * sizeof(float));
    copy->setFrameLength(bufferFrames);
    return CapturedAudioBuffer { AudioCaptureSource::systemOutput, hostTimeNow(), std::chrono::system_clock::now(),
        format, bufferFrames, std::move(copy) };
}

void ReadPathCopy(benchmark::State& state)
{
    const AudioFormat format { rate, 2, AudioFormat::CommonFormat::Float32, true };
    const std::vector<float> fragment(bufferFrames * 2, 0.25f);
    for (auto _ : state)
        benchmark::DoNotOptimize(copyFragment(format, fragment));
}

void ReadPathCopyAndPost(benchmark::State& state)
{
    const AudioFormat format { rate, 2, AudioFormat::CommonFormat::Float32, true };
    const std::vector<float> fragment(bufferFrames * 2, 0.25f);
    SerialQueue queue(QStringLiteral("bench.audiowrite"));
    for (auto _ : state)
        queue.post([buffer = copyFragment(format, fragment)] { benchmark::DoNotOptimize(buffer.frameCount); });
    queue.sync([] {});
}

}

BENCHMARK(WriterTwoSources)->ArgName("interleaved")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(ReadPathCopy)->Unit(benchmark::kNanosecond);
BENCHMARK(ReadPathCopyAndPost)->Unit(benchmark::kNanosecond);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    std::freopen("/dev/null", "w", stdout);
    benchmark::ConsoleReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
    reporter.SetOutputStream(&std::cerr);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
}
