#pragma once

#include "AudioFormat.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class PcmBuffer;
struct sf_private_tag;

// One CAF segment being written: linear PCM, 32-bit float, little-endian, in
// the rate and channel count of its input. Buffers are taken in their own
// sample type and layout; anything but interleaved float is converted on the way.
// The header is brought up to date after about every `headerUpdateSeconds` of
// audio, so a file left by a killed process still plays up to that point.
class SegmentFile {
public:
    // Null, with `error` set to the library's description, when the file cannot be created.
    static std::unique_ptr<SegmentFile> create(
        const QString& path, const AudioFormat& format, double headerUpdateSeconds, QString& error);
    // Closes the file, leaving a complete header.
    ~SegmentFile();
    SegmentFile(const SegmentFile&) = delete;
    SegmentFile& operator=(const SegmentFile&) = delete;

    [[nodiscard]] QString path() const { return m_path; }
    [[nodiscard]] QString fileName() const;
    // The layout buffers are written in: the file's rate and channels, the input's sample type and interleaving.
    [[nodiscard]] const AudioFormat& processingFormat() const { return m_processingFormat; }

    // False, with `error` set, when the samples could not be written.
    bool write(const PcmBuffer& buffer, QString& error);
    // The system's errno of the last failed write, 0 when none failed.
    [[nodiscard]] int lastSystemError() const { return m_lastSystemError; }

private:
    SegmentFile(sf_private_tag* file, QString path, const AudioFormat& processingFormat, double headerUpdateSeconds);
    // The buffer's samples as interleaved floats, in the scratch buffer.
    template <class Sample> const float* interleave(const PcmBuffer& buffer);

    sf_private_tag* m_file;
    QString m_path;
    AudioFormat m_processingFormat;
    std::vector<float> m_scratch;
    std::uint64_t m_headerInterval;
    std::uint64_t m_framesSinceHeader = 0;
    int m_lastSystemError = 0;
};
