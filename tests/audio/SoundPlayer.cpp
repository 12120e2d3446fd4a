#include "SoundPlayer.h"

SoundPlayer::SoundPlayer(const QStringList &soxArguments)
    : m_process(std::make_unique<QProcess>())
{
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->start(QStringLiteral("sox"), soxArguments);
    m_process->waitForStarted();
}

SoundPlayer::~SoundPlayer()
{
    m_process->kill();
    m_process->waitForFinished();
}

SoundPlayer SoundPlayer::tone(const QString &sink, int seconds, int frequency)
{
    return SoundPlayer({ QStringLiteral("-q"), QStringLiteral("-n"), QStringLiteral("-t"), QStringLiteral("pulseaudio"), sink,
                         QStringLiteral("synth"), QString::number(seconds), QStringLiteral("sine"), QString::number(frequency),
                         QStringLiteral("gain"), QStringLiteral("-6") });
}

SoundPlayer SoundPlayer::file(const QString &path, const QString &sink, int repeats)
{
    return SoundPlayer({ QStringLiteral("-q"), path, QStringLiteral("-t"), QStringLiteral("pulseaudio"), sink, QStringLiteral("repeat"),
                         QString::number(repeats) });
}
