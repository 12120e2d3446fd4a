#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// Writing test segments and reading upload tracks back with tools of their own
// (libsndfile's writer through SegmentFile, and the ffprobe/ffmpeg programs),
// so the export is judged by independent readers.
namespace UploadTrackCheck {

// A CAF segment of a sine tone of `amplitude` at `frequency` Hz on every channel.
void writeToneSegment(const QString &path, int rate, int channels, double seconds, float amplitude, double frequency = 440.0);
// A CAF file of one float channel whose data chunk holds no frame, padded past 16 KiB.
void writeEmptyCafSegment(const QString &path);

struct TrackInfo {
    bool readable = false;
    QString codec; // "aac"
    QString profile; // "LC"
    int sampleRate = 0;
    int channels = 0;
    double durationSeconds = 0.0;
};
// What ffprobe says about the file's first audio stream.
TrackInfo probe(const QString &path);

// The first channel of the file at its own rate, as ffmpeg decodes it (edit list applied).
std::vector<float> decodeMono(const QString &path);
// Root mean square of samples [from, to).
double rms(const std::vector<float> &samples, std::size_t from, std::size_t to);

// The four-letter types of the file's top-level boxes, in file order.
QStringList topLevelAtoms(const QString &path);

}
