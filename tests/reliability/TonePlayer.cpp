#include "TonePlayer.h"

using namespace Qt::StringLiterals;

TonePlayer::TonePlayer(const QString &sink, int frequency)
{
    m_synth.setStandardOutputProcess(&m_playback);
    m_playback.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_playback.start(u"pacat"_s, {u"--playback"_s, u"--raw"_s, u"--latency-msec=50"_s, u"--device="_s + sink,
                                  u"--format=s16le"_s, u"--rate=48000"_s, u"--channels=1"_s});
    m_synth.start(u"sox"_s, {u"-q"_s, u"-n"_s, u"-t"_s, u"raw"_s, u"-r"_s, u"48000"_s, u"-c"_s, u"1"_s, u"-e"_s, u"signed"_s,
                             u"-b"_s, u"16"_s, u"-"_s, u"synth"_s, u"3600"_s, u"sine"_s, QString::number(frequency), u"gain"_s,
                             u"-6"_s});
    m_playback.waitForStarted();
    m_synth.waitForStarted();
}

TonePlayer::~TonePlayer()
{
    for (QProcess *process : {&m_synth, &m_playback}) {
        process->kill();
        process->waitForFinished();
    }
}

bool TonePlayer::isPlaying() const
{
    return m_playback.state() == QProcess::Running && m_synth.state() == QProcess::Running;
}
