#include "TestAudio.h"

#include "SegmentFile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <numbers>
#include <stdexcept>

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

CapturedAudioBuffer buffer(
    AudioCaptureSource source, const AudioFormat &format, std::uint32_t frames, std::uint64_t first)
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
    return CapturedAudioBuffer { source, hostTimeNow(), std::chrono::system_clock::now(), format, frames,
        std::move(pcm) };
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

void writeToneSegment(const QString &path, int rate, int channels, double seconds, float amplitude, double frequency)
{
    const AudioFormat format { double(rate), std::uint32_t(channels), AudioFormat::CommonFormat::Float32, true };
    QString error;
    auto file = SegmentFile::create(path, format, 1.0, error);
    if (!file)
        throw std::runtime_error(error.toStdString());
    constexpr std::uint32_t chunk = 4096;
    const auto total = std::uint64_t(std::llround(seconds * rate));
    auto buffer = PcmBuffer::create(format, chunk);
    for (std::uint64_t done = 0; done < total;) {
        const auto frames = std::uint32_t(std::min<std::uint64_t>(chunk, total - done));
        buffer->setFrameLength(frames);
        float *samples = buffer->samples<float>(0);
        for (std::uint32_t f = 0; f < frames; ++f) {
            const float value
                = amplitude * float(std::sin(2.0 * std::numbers::pi * frequency * double(done + f) / rate));
            for (int c = 0; c < channels; ++c)
                samples[std::size_t(f) * std::size_t(channels) + std::size_t(c)] = value;
        }
        if (!file->write(*buffer, error))
            throw std::runtime_error(error.toStdString());
        done += frames;
    }
}

void writeEmptyCafSegment(const QString &path)
{
    QByteArray caf("caff\x00\x01\x00\x00", 8);
    auto chunk = [&caf](const char *type, const QByteArray &body) {
        caf.append(type, 4);
        char size[8];
        qToBigEndian<qint64>(body.size(), size);
        caf.append(size, 8);
        caf.append(body);
    };
    QByteArray description(32, '\0');
    qToBigEndian<double>(48000.0, description.data());
    description.replace(8, 4, "lpcm");
    qToBigEndian<quint32>(1 | 2, description.data() + 12); // float, little-endian
    qToBigEndian<quint32>(4, description.data() + 16); // bytes per packet
    qToBigEndian<quint32>(1, description.data() + 20); // frames per packet
    qToBigEndian<quint32>(1, description.data() + 24); // channels
    qToBigEndian<quint32>(32, description.data() + 28); // bits per channel
    chunk("desc", description);
    chunk("free", QByteArray(20000, '\0'));
    chunk("data", QByteArray(4, '\0')); // the edit count, and no samples
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(caf) != caf.size())
        throw std::runtime_error("could not write " + path.toStdString());
}

TrackInfo probe(const QString &path)
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"),
        { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"), QStringLiteral("a:0"),
            QStringLiteral("-show_entries"),
            QStringLiteral("stream=codec_name,profile,sample_rate,channels:format=duration"), QStringLiteral("-of"),
            QStringLiteral("json"), path });
    TrackInfo info;
    if (!ffprobe.waitForFinished(30000) || ffprobe.exitCode() != 0)
        return info;
    const QJsonObject root = QJsonDocument::fromJson(ffprobe.readAllStandardOutput()).object();
    const QJsonObject stream = root.value(QStringLiteral("streams")).toArray().at(0).toObject();
    info.readable = !stream.isEmpty();
    info.codec = stream.value(QStringLiteral("codec_name")).toString();
    info.profile = stream.value(QStringLiteral("profile")).toString();
    info.sampleRate = stream.value(QStringLiteral("sample_rate")).toString().toInt();
    info.channels = stream.value(QStringLiteral("channels")).toInt();
    info.durationSeconds
        = root.value(QStringLiteral("format")).toObject().value(QStringLiteral("duration")).toString().toDouble();
    return info;
}

std::vector<float> decodeMono(const QString &path)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
        { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path, QStringLiteral("-af"),
            QStringLiteral("pan=mono|c0=c0"), QStringLiteral("-f"), QStringLiteral("f32le"), QStringLiteral("-") });
    std::vector<float> samples;
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0)
        return samples;
    const QByteArray bytes = ffmpeg.readAllStandardOutput();
    samples.resize(std::size_t(bytes.size()) / sizeof(float));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
    return samples;
}

double rms(const std::vector<float> &samples, std::size_t from, std::size_t to)
{
    to = std::min(to, samples.size());
    if (from >= to)
        return 0.0;
    double sum = 0.0;
    for (std::size_t i = from; i < to; ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(to - from));
}

QStringList topLevelAtoms(const QString &path)
{
    QStringList atoms;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return atoms;
    qint64 at = 0;
    while (at + 8 <= file.size()) {
        file.seek(at);
        const QByteArray header = file.read(16);
        if (header.size() < 8)
            break;
        quint64 size = qFromBigEndian<quint32>(header.constData());
        if (size == 1 && header.size() == 16)
            size = qFromBigEndian<quint64>(header.constData() + 8);
        else if (size == 0)
            size = quint64(file.size() - at);
        atoms << QString::fromLatin1(header.mid(4, 4));
        if (size < 8)
            break;
        at += qint64(size);
    }
    return atoms;
}

double loudSeconds(const std::vector<float> &samples, int rate, double threshold)
{
    const std::size_t block = std::size_t(rate / 100);
    std::size_t loud = 0;
    for (std::size_t from = 0; block && from + block <= samples.size(); from += block)
        loud += rms(samples, from, from + block) > threshold ? 1 : 0;
    return double(loud) / 100.0;
}

}
