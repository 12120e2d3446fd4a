#include "SoundPlayer.h"

using namespace Qt::StringLiterals;

SoundPlayer::SoundPlayer(const QString& sink, const QStringList& soxInput)
{
    // Two identical channels: the server's mono and stereo sinks both get the tone at its level.
    m_synth.setStandardOutputProcess(&m_playback);
    m_playback.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_playback.start(u"pacat"_s,
        { u"--playback"_s, u"--raw"_s, u"--latency-msec=50"_s, u"--device="_s + sink, u"--format=s16le"_s,
            u"--rate=48000"_s, u"--channels=2"_s });
    m_synth.start(u"sox"_s,
        QStringList { u"-q"_s } + soxInput.mid(0, 1)
            + QStringList { u"-t"_s, u"raw"_s, u"-r"_s, u"48000"_s, u"-c"_s, u"2"_s, u"-e"_s, u"signed"_s, u"-b"_s,
                u"16"_s, u"-"_s }
            + soxInput.mid(1));
    m_playback.waitForStarted();
    m_synth.waitForStarted();
}

SoundPlayer::SoundPlayer(const QString& sink, int frequency)
    : SoundPlayer(sink, { u"-n"_s, u"synth"_s, u"3600"_s, u"sine"_s, QString::number(frequency), u"gain"_s, u"-6"_s })
{
}

SoundPlayer::~SoundPlayer()
{
    for (QProcess* process : { &m_synth, &m_playback }) {
        process->kill();
        process->waitForFinished();
    }
}

SoundPlayer SoundPlayer::tone(const QString& sink, double seconds, int frequency, int gainDb)
{
    return SoundPlayer(sink,
        { u"-n"_s, u"synth"_s, QString::number(seconds), u"sine"_s, QString::number(frequency), u"gain"_s,
            QString::number(gainDb) });
}

bool SoundPlayer::isPlaying() const
{
    return m_playback.state() == QProcess::Running;
}
