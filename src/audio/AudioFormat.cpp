#include "AudioFormat.h"

#include <charconv>

std::uint32_t AudioFormat::bytesPerSample() const
{
    switch (commonFormat) {
    case CommonFormat::Float32:
    case CommonFormat::Int32:
        return 4;
    case CommonFormat::Float64:
        return 8;
    case CommonFormat::Int16:
        return 2;
    }
    return 4;
}

std::uint32_t AudioFormat::formatFlags() const
{
    const bool isFloat = commonFormat == CommonFormat::Float32 || commonFormat == CommonFormat::Float64;
    return (isFloat ? 1u : 4u) | 8u | (interleaved ? 0u : 32u);
}

QString AudioFormat::description() const
{
    return rateAndChannels() + QStringLiteral("/interleaved=")
        + (interleaved ? QStringLiteral("true") : QStringLiteral("false"));
}

QString AudioFormat::rateAndChannels() const
{
    return sampleRateText(sampleRate) + QStringLiteral("Hz/") + QString::number(channelCount) + QStringLiteral("ch");
}

QString sampleRateText(double rate)
{
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, rate).ptr;
    QString out = QString::fromLatin1(text, end - text);
    const bool plainInteger = !out.contains(u'.') && !out.contains(u'e') && !out.contains(u'n') && !out.contains(u'i');
    if (plainInteger)
        out += QStringLiteral(".0");
    return out;
}
