#pragma once

#include "AudioCaptureManager.h"
#include "AudioFormat.h"
#include "AudioTrackWriter.h"
#include "CapturedAudioBuffer.h"
#include "LiveTrackEncoder.h"
#include "PcmBuffer.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QDir>
#include <QFile>
#include <QThread>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <numbers>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

// Shared by the audio benchmarks: a speech-like test signal, and the odd figure from the process.
namespace BenchAudio {

// A buzz of harmonics whose loudness rises and falls like syllables, over a little noise:
// the encoder works on it about as hard as on a voice.
inline float speechLike(std::uint64_t frame, double rate, std::uint32_t channel)
{
    const double t = double(frame) / rate;
    const double pitch = 140.0 + 30.0 * std::sin(2.0 * std::numbers::pi * 0.7 * t);
    const double syllables = 0.5 + 0.5 * std::sin(2.0 * std::numbers::pi * 3.1 * t + channel);
    double voice = 0.0;
    for (int h = 1; h <= 12; ++h)
        voice += std::sin(2.0 * std::numbers::pi * pitch * h * t) / h;
    std::uint32_t x = std::uint32_t(frame * 2654435761u + channel * 40503u);
    x ^= x >> 13;
    x *= 0x5bd1e995u;
    x ^= x >> 15;
    const double noise = (double(x & 0xffff) / 32768.0 - 1.0) * 0.01;
    return float(0.15 * syllables * voice + noise);
}

// A buffer of `frames` interleaved frames of the signal starting at `first`.
inline CapturedAudioBuffer signalBuffer(
    AudioCaptureSource source, const AudioFormat& format, std::uint32_t frames, std::uint64_t first)
{
    auto pcm = PcmBuffer::create(format, frames);
    pcm->setFrameLength(frames);
    float* samples = pcm->samples<float>(0);
    for (std::uint32_t f = 0; f < frames; ++f)
        for (std::uint32_t c = 0; c < format.channelCount; ++c)
            samples[std::size_t(f) * format.channelCount + c] = speechLike(first + f, format.sampleRate, c);
    return CapturedAudioBuffer { source, 0, {}, format, frames, std::move(pcm) };
}

// Writes `minutes` of both sources to `writer` (an AudioTrackWriter): a minute of buffers, over and over.
template <class Writer> void writeSession(Writer& writer, double minutes)
{
    constexpr std::uint32_t frames = 4096;
    const AudioFormat mono { 48000, 1, AudioFormat::CommonFormat::Float32, true };
    const AudioFormat stereo { 48000, 2, AudioFormat::CommonFormat::Float32, true };
    std::vector<CapturedAudioBuffer> mic, system;
    for (std::uint64_t at = 0; at < 60 * 48000; at += frames) {
        mic.push_back(signalBuffer(AudioCaptureSource::mic, mono, frames, at));
        system.push_back(signalBuffer(AudioCaptureSource::systemOutput, stereo, frames, at + 12345));
    }
    const auto buffers = std::size_t(minutes * 60 * 48000 / frames);
    for (std::size_t i = 0; i < buffers; ++i) {
        writer.writeMic(mic[i % mic.size()]);
        writer.writeSystem(system[i % system.size()]);
    }
}

// The writer and both encoders fed as the capture manager feeds them.
struct LiveFeed {
    AudioTrackWriter& writer;
    LiveTracks tracks;
    void writeMic(const CapturedAudioBuffer& buffer) { writer.writeMic(buffer), tracks.mic->append(buffer); }
    void writeSystem(const CapturedAudioBuffer& buffer) { writer.writeSystem(buffer), tracks.system->append(buffer); }
};

// writeSession() with both upload tracks encoded while it is written, as the capture manager does; returns when
// the encoders have caught up, as they do over a real recording. The writing runs faster than real time, so the
// encoders' queues have no bound here.
inline LiveTracks writeLiveSession(AudioTrackWriter& writer, double minutes)
{
    const QDir session(writer.sessionDirectory());
    constexpr double unbounded = std::numeric_limits<double>::infinity();
    const double checkpointSeconds = std::chrono::duration<double>(CaptureTimings().encoderCheckpointEvery).count();
    LiveTracks tracks;
    for (auto [encoder, name] :
        { std::pair { &tracks.mic, "upload_track.m4a" }, std::pair { &tracks.system, "system_upload.m4a" } })
        *encoder = std::make_shared<LiveTrackEncoder>(
            session.filePath(QString::fromLatin1(name)), unbounded, checkpointSeconds);
    LiveFeed feed { writer, tracks };
    writeSession(feed, minutes);
    while (tracks.mic->lagSeconds() > 0.0 || tracks.system->lagSeconds() > 0.0)
        QThread::msleep(20);
    return tracks;
}

// Standard output for the "[figure]" line alone; whatever else the program prints there goes to /dev/null.
inline FILE* takeFigureOutput()
{
    FILE* figure = fdopen(dup(STDOUT_FILENO), "w");
    std::freopen("/dev/null", "w", stdout);
    return figure;
}

// User plus system CPU seconds of this process so far.
inline double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Peak resident memory of this process in MiB.
inline double peakMemoryMiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

// The 1-, 5- and 15-minute load averages.
inline QByteArray loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    file.open(QIODevice::ReadOnly);
    return file.readAll().split(' ').mid(0, 3).join(' ');
}

// Runs the event loop until the task ends. The task ends in an event, so each turn sleeps until one
// comes: with a time limit processEvents() would not wait, and the spin would count as the task's CPU.
template <class T> T await(QCoro::Task<T> task)
{
    std::optional<T> value;
    auto runner = [](QCoro::Task<T> task, std::optional<T>& value) -> QCoro::Task<> {
        value.emplace(co_await std::move(task));
    };
    auto running = runner(std::move(task), value);
    while (!value)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return std::move(*value);
}

}
