#include "TestAudio.h"

#include <QFile>

#include <sndfile.h>

namespace TestAudio {

AudioFormat format(double rate, std::uint32_t channels, bool interleaved, AudioFormat::CommonFormat common)
{
    return AudioFormat { rate, channels, common, interleaved };
}

float sampleAt(std::uint64_t frame, std::uint32_t channel)
{
    return float(std::int64_t((frame * 7919 + channel * 104729) % 65536) - 32768) / 32768.0f;
}

CapturedAudioBuffer buffer(AudioCaptureSource source, const AudioFormat &format, std::uint32_t frames, std::uint64_t first)
{
    auto pcm = PcmBuffer::create(format, frames);
    pcm->setFrameLength(frames);
    for (std::uint32_t f = 0; f < frames; ++f) {
        for (std::uint32_t c = 0; c < format.channelCount; ++c) {
            const float value = sampleAt(first + f, c);
            const std::size_t at = format.interleaved ? std::size_t(f) * format.channelCount + c : f;
            const std::uint32_t plane = format.interleaved ? 0 : c;
            switch (format.commonFormat) {
            case AudioFormat::CommonFormat::Float32:
                pcm->samples<float>(plane)[at] = value;
                break;
            case AudioFormat::CommonFormat::Float64:
                pcm->samples<double>(plane)[at] = value;
                break;
            case AudioFormat::CommonFormat::Int16:
                pcm->samples<std::int16_t>(plane)[at] = std::int16_t(value * 32768.0f);
                break;
            case AudioFormat::CommonFormat::Int32:
                pcm->samples<std::int32_t>(plane)[at] = std::int32_t(double(value) * 2147483648.0);
                break;
            }
        }
    }
    return CapturedAudioBuffer { source, hostTimeNow(), std::chrono::system_clock::now(), format, frames, std::move(pcm) };
}

SegmentContents readSegment(const QString &path)
{
    SegmentContents out;
    SF_INFO info {};
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file)
        return out;
    out.opened = true;
    out.sampleRate = info.samplerate;
    out.channels = info.channels;
    out.format = info.format;
    out.interleaved.resize(std::size_t(info.frames) * std::size_t(info.channels));
    const sf_count_t read = sf_readf_float(file, out.interleaved.data(), info.frames);
    out.interleaved.resize(std::size_t(read) * std::size_t(info.channels));
    sf_close(file);
    return out;
}

}
