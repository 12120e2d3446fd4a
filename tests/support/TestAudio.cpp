#include "TestAudio.h"

#include "SegmentFile.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtEndian>

#include <cmath>
#include <numbers>
#include <stdexcept>

#include <sndfile.h>

using namespace Qt::StringLiterals;

namespace TestAudio {

// What a tool run on its own prints, or nothing when it fails or outlasts `timeoutMs`.
static QByteArray run(const QString& program, const QStringList& arguments, int timeoutMs)
{
    QProcess process;
    process.start(program, arguments);
    const bool finished = process.waitForFinished(timeoutMs) && process.exitCode() == 0;
    return finished ? process.readAllStandardOutput() : QByteArray();
}

AudioFormat format(double rate, std::uint32_t channels, bool interleaved, AudioFormat::CommonFormat common)
{
    return AudioFormat { rate, channels, common, interleaved };
}

float sampleAt(std::uint64_t frame, std::uint32_t channel)
{
    return float(std::int64_t((frame * 7919 + channel * 104729) % 65536) - 32768) / 32768.0f;
}

CapturedAudioBuffer buffer(
    AudioCaptureSource source, const AudioFormat& format, std::uint32_t frames, std::uint64_t first)
{
    auto pcm = PcmBuffer::create(format, frames);
    pcm->setFrameLength(frames);
    const auto fill = [&]<class T>(T, double scale) {
        for (std::size_t i = 0; i < std::size_t(frames) * format.channelCount; ++i) {
            const std::size_t f = i / format.channelCount, c = i % format.channelCount;
            pcm->samples<T>(format.interleaved ? 0 : c)[format.interleaved ? i : f] = T(sampleAt(first + f, c) * scale);
        }
    };
    using enum AudioFormat::CommonFormat;
    format.commonFormat == Float32       ? fill(float(), 1.0)
        : format.commonFormat == Float64 ? fill(double(), 1.0)
        : format.commonFormat == Int16   ? fill(std::int16_t(), 32768.0)
                                         : fill(std::int32_t(), 2147483648.0);
    return { source, hostTimeNow(), std::chrono::system_clock::now(), format, frames, std::move(pcm) };
}

SegmentContents readSegment(const QString& path)
{
    SF_INFO info {};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file)
        return {};
    SegmentContents out { true, info.samplerate, info.channels, info.format,
        std::vector<float>(std::size_t(info.frames) * std::size_t(info.channels)) };
    out.interleaved.resize(std::size_t(sf_readf_float(file, out.interleaved.data(), info.frames)) * info.channels);
    sf_close(file);
    return out;
}

QJsonObject metadata(const QString& sessionDirectory)
{
    QFile file(QDir(sessionDirectory).filePath(u"metadata.json"_s));
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

void writeToneSegment(const QString& path, int rate, int channels, double seconds, float amplitude, double frequency)
{
    const AudioFormat format { double(rate), std::uint32_t(channels), AudioFormat::CommonFormat::Float32, true };
    const auto frames = std::uint32_t(std::llround(seconds * rate));
    auto buffer = PcmBuffer::create(format, frames);
    buffer->setFrameLength(frames);
    for (std::uint32_t f = 0; f < frames; ++f)
        std::fill_n(buffer->samples<float>(0) + std::size_t(f) * channels, channels,
            amplitude * float(std::sin(2.0 * std::numbers::pi * frequency * double(f) / rate)));
    QString error;
    auto file = SegmentFile::create(path, format, 1.0, error);
    if (!file || !file->write(*buffer, error))
        throw std::runtime_error(error.toStdString());
}

void writeEmptyCafSegment(const QString& path)
{
    // Header; desc: 48 kHz little-endian float, 4 bytes a frame, 1 channel; free: 20000 bytes; data: no frame.
    const QByteArray caf = QByteArray::fromHex("636166660001000064657363000000000000002040e77000000000006c70636d"
                                               "000000030000000400000001000000010000002066726565"
                                               "0000000000004e20")
        + QByteArray(20000, '\0') + QByteArray::fromHex("64617461000000000000000400000000");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(caf) != caf.size())
        throw std::runtime_error("could not write " + path.toStdString());
}

TrackInfo probe(const QString& path)
{
    const QStringList arguments = u"-v error -select_streams a:0 -of json -show_entries"_s.split(u' ')
        << u"stream=codec_name,profile,sample_rate,channels:format=duration"_s << path;
    const QJsonObject root = QJsonDocument::fromJson(run(u"ffprobe"_s, arguments, 30000)).object();
    const QJsonObject stream = root[u"streams"_s][0].toObject();
    return TrackInfo { !stream.isEmpty(), stream[u"codec_name"_s].toString(), stream[u"profile"_s].toString(),
        stream[u"sample_rate"_s].toString().toInt(), stream[u"channels"_s].toInt(),
        root[u"format"_s][u"duration"_s].toString().toDouble() };
}

std::vector<float> decodeMono(const QString& path)
{
    const QStringList arguments
        = QStringList { u"-v"_s, u"error"_s, u"-i"_s, path } + u"-af pan=mono|c0=c0 -f f32le -"_s.split(u' ');
    const QByteArray bytes = run(u"ffmpeg"_s, arguments, 60000);
    const auto* samples = reinterpret_cast<const float*>(bytes.constData());
    return { samples, samples + std::size_t(bytes.size()) / sizeof(float) };
}

QString decodeErrors(const QString& path)
{
    QProcess process;
    process.start(u"ffmpeg"_s, { u"-v"_s, u"error"_s, u"-i"_s, path, u"-f"_s, u"null"_s, u"-"_s });
    const bool decoded = process.waitForFinished(60000) && process.exitCode() == 0;
    return QString::fromLocal8Bit(process.readAllStandardError()) + (decoded ? QString() : u"(ffmpeg failed)"_s);
}

double rms(const std::vector<float>& samples, std::size_t from, std::size_t to)
{
    to = std::min(to, samples.size());
    double sum = 0.0;
    for (std::size_t i = from; i < to; ++i)
        sum += double(samples[i]) * samples[i];
    return from < to ? std::sqrt(sum / double(to - from)) : 0.0;
}

QStringList topLevelAtoms(const QString& path)
{
    QStringList atoms;
    QFile file(path);
    for (qint64 at = 0, size = 8; size >= 8 && at + 8 <= file.size() && file.open(QIODevice::ReadOnly); at += size) {
        file.seek(at);
        const QByteArray header = file.read(16).leftJustified(16, '\0');
        file.close();
        const qint64 word = qFromBigEndian<quint32>(header.constData()); // 1: a 64-bit size follows; 0: to the end
        size = word == 1 ? qFromBigEndian<qint64>(header.constData() + 8) : word == 0 ? file.size() - at : word;
        atoms << QString::fromLatin1(header.mid(4, 4));
    }
    return atoms;
}

double loudSeconds(const std::vector<float>& samples, int rate, double threshold)
{
    const std::size_t block = std::size_t(rate / 100);
    std::size_t loud = 0;
    for (std::size_t from = 0; block && from + block <= samples.size(); from += block)
        loud += rms(samples, from, from + block) > threshold ? 1 : 0;
    return double(loud) / 100.0;
}

}
