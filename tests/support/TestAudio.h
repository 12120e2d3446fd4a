#pragma once

#include "AudioFormat.h"
#include "CapturedAudioBuffer.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// Synthetic buffers, segments and their read-back; upload tracks read back with
// tools of their own (ffprobe, ffmpeg), so the export is judged by independent readers.
namespace TestAudio {

AudioFormat format(double rate, std::uint32_t channels, bool interleaved = true,
    AudioFormat::CommonFormat common = AudioFormat::CommonFormat::Float32);

// The sample every test buffer carries for a frame and channel: distinct, in [-1, 1).
float sampleAt(std::uint64_t frame, std::uint32_t channel);

// A buffer of `frames` frames starting at frame `first` of the test signal, in `format`'s layout.
CapturedAudioBuffer buffer(
    AudioCaptureSource source, const AudioFormat& format, std::uint32_t frames, std::uint64_t first = 0);

struct SegmentContents {
    bool opened = false;
    int sampleRate = 0;
    int channels = 0;
    int format = 0;
    std::vector<float> interleaved;

    [[nodiscard]] std::uint64_t frames() const { return channels ? interleaved.size() / std::uint64_t(channels) : 0; }
};

// The session's metadata.json; empty when it cannot be read.
QJsonObject metadata(const QString& sessionDirectory);

// Every frame of a segment file as libsndfile reads it.
SegmentContents readSegment(const QString& path);

// A CAF segment of a sine tone of `amplitude` at `frequency` Hz on every channel.
void writeToneSegment(
    const QString& path, int rate, int channels, double seconds, float amplitude, double frequency = 440.0);
// A CAF file of one float channel whose data chunk holds no frame, padded past 16 KiB.
void writeEmptyCafSegment(const QString& path);

struct TrackInfo {
    bool readable = false;
    QString codec; // "aac"
    QString profile; // "LC"
    int sampleRate = 0;
    int channels = 0;
    double durationSeconds = 0.0;
};
// What ffprobe says about the file's first audio stream.
TrackInfo probe(const QString& path);

// The first channel of the file at its own rate, as ffmpeg decodes it (edit list applied).
std::vector<float> decodeMono(const QString& path);
// What `ffmpeg -v error` reports decoding the whole file: nothing when it decodes cleanly end to end.
QString decodeErrors(const QString& path);
// Root mean square of samples [from, to).
double rms(const std::vector<float>& samples, std::size_t from, std::size_t to);
// Seconds of `samples` (at `rate`) in 10 ms blocks louder than `threshold` RMS: how much of a played tone arrived.
double loudSeconds(const std::vector<float>& samples, int rate, double threshold = 0.1);

// The four-letter types of the file's top-level boxes, in file order.
QStringList topLevelAtoms(const QString& path);

}
