#include "SessionAudio.h"

#include <QDir>
#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <cmath>

SourceOnDisk SourceOnDisk::read(const QString& sessionDirectory, const QString& prefix)
{
    SourceOnDisk out;
    const QDir dir(sessionDirectory);
    out.fileNames = dir.entryList({ prefix + QStringLiteral("*.caf") }, QDir::Files, QDir::Name);
    for (const QString& name : out.fileNames) {
        out.paths << dir.filePath(name);
        out.segments.push_back(TestAudio::readSegment(out.paths.last()));
    }
    return out;
}

bool SourceOnDisk::allOpened() const
{
    return !segments.empty()
        && std::all_of(segments.begin(), segments.end(), [](const TestAudio::SegmentContents& s) { return s.opened; });
}

double SourceOnDisk::seconds() const
{
    double total = 0;
    for (const auto& s : segments)
        if (s.sampleRate > 0)
            total += double(s.frames()) / s.sampleRate;
    return total;
}

namespace {

// Bytes of samples in a CAF file: everything after the "data" chunk's header and edit count.
qint64 cafSampleBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray bytes = file.readAll();
    qint64 at = 8; // "caff", version, flags
    while (at + 12 <= bytes.size()) {
        const QByteArray type = bytes.mid(at, 4);
        const qint64 size = qFromBigEndian<qint64>(bytes.constData() + at + 4);
        if (type == "data")
            return std::max<qint64>(0, bytes.size() - (at + 12 + 4));
        if (size < 0)
            return 0;
        at += 12 + size;
    }
    return 0;
}

}

double SourceOnDisk::writtenSeconds() const
{
    double total = 0;
    for (std::size_t i = 0; i < segments.size(); ++i)
        if (segments[i].sampleRate > 0 && segments[i].channels > 0)
            total
                += double(cafSampleBytes(paths[qsizetype(i)])) / (4.0 * segments[i].channels) / segments[i].sampleRate;
    return total;
}

double SourceOnDisk::rms(double from, double to) const
{
    if (segments.empty() || segments.front().sampleRate <= 0)
        return 0;
    const auto& s = segments.front();
    const auto first = std::uint64_t(std::max(0.0, from) * s.sampleRate);
    const auto last = std::min(s.frames(), std::uint64_t(std::max(0.0, to) * s.sampleRate));
    return last > first ? TestAudio::rms(s.interleaved, first * s.channels, last * s.channels) : 0;
}
