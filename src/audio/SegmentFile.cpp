#include "SegmentFile.h"

#include "PcmBuffer.h"

#include <QFile>
#include <QFileInfo>

#include <sndfile.h>

#include <cerrno>
#include <cmath>
#include <cstring>

namespace {

// Full scale of each sample type maps to 1.0, as the file stores floats.
float toFloat(float sample)
{
    return sample;
}
float toFloat(double sample)
{
    return float(sample);
}
float toFloat(std::int16_t sample)
{
    return float(sample) * (1.0f / 32768.0f);
}
float toFloat(std::int32_t sample)
{
    return float(double(sample) * (1.0 / 2147483648.0));
}

}

std::unique_ptr<SegmentFile> SegmentFile::create(
    const QString& path, const AudioFormat& format, double headerUpdateSeconds, QString& error)
{
    SF_INFO info {};
    info.samplerate = int(std::lround(format.sampleRate));
    info.channels = int(format.channelCount);
    info.format = SF_FORMAT_CAF | SF_FORMAT_FLOAT | SF_ENDIAN_LITTLE;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file) {
        error = QString::fromUtf8(sf_strerror(nullptr));
        return nullptr;
    }
    // Only the owner reads a recording, whatever the umask.
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    // No PEAK chunk: it costs a pass over every sample and nobody reads it.
    sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    const AudioFormat processing { double(info.samplerate), format.channelCount, format.commonFormat,
        format.interleaved };
    return std::unique_ptr<SegmentFile>(new SegmentFile(file, path, processing, headerUpdateSeconds));
}

SegmentFile::SegmentFile(SNDFILE* file, QString path, const AudioFormat& processingFormat, double headerUpdateSeconds)
    : m_file(file)
    , m_path(std::move(path))
    , m_processingFormat(processingFormat)
    , m_headerInterval(std::uint64_t(std::max(1.0, headerUpdateSeconds * processingFormat.sampleRate)))
{
}

SegmentFile::~SegmentFile()
{
    sf_close(m_file);
}

QString SegmentFile::fileName() const
{
    return QFileInfo(m_path).fileName();
}

bool SegmentFile::write(const PcmBuffer& buffer, QString& error)
{
    const AudioFormat& in = buffer.format();
    if (in.channelCount != m_processingFormat.channelCount || in.commonFormat != m_processingFormat.commonFormat
        || in.interleaved != m_processingFormat.interleaved) {
        error = QStringLiteral("the buffer's layout differs from the file's processing format");
        return false;
    }
    const sf_count_t frames = buffer.frameLength();
    const float* samples = nullptr;
    if (in.commonFormat == AudioFormat::CommonFormat::Float32 && in.interleaved) {
        samples = buffer.samples<float>(0);
    } else {
        switch (in.commonFormat) {
        case AudioFormat::CommonFormat::Float32:
            samples = interleave<float>(buffer);
            break;
        case AudioFormat::CommonFormat::Float64:
            samples = interleave<double>(buffer);
            break;
        case AudioFormat::CommonFormat::Int16:
            samples = interleave<std::int16_t>(buffer);
            break;
        case AudioFormat::CommonFormat::Int32:
            samples = interleave<std::int32_t>(buffer);
            break;
        }
    }
    errno = 0;
    if (sf_writef_float(m_file, samples, frames) != frames) {
        m_lastSystemError = errno;
        error = QString::fromUtf8(sf_strerror(m_file));
        return false;
    }
    m_framesSinceHeader += buffer.frameLength();
    if (m_framesSinceHeader >= m_headerInterval) {
        sf_command(m_file, SFC_UPDATE_HEADER_NOW, nullptr, 0);
        m_framesSinceHeader = 0;
    }
    return true;
}

template <class Sample> const float* SegmentFile::interleave(const PcmBuffer& buffer)
{
    const std::size_t frames = buffer.frameLength();
    const std::uint32_t planes = buffer.bufferCount();
    const std::uint32_t channels = buffer.format().channelCount;
    m_scratch.resize(frames * channels);
    float* out = m_scratch.data();
    if (planes == 1) {
        const Sample* in = buffer.samples<Sample>(0);
        for (std::size_t i = 0; i < frames * channels; ++i)
            out[i] = toFloat(in[i]);
        return out;
    }
    for (std::uint32_t c = 0; c < channels; ++c) {
        const Sample* plane = buffer.samples<Sample>(c);
        for (std::size_t f = 0; f < frames; ++f)
            out[f * channels + c] = toFloat(plane[f]);
    }
    return out;
}
