#pragma once

#include <QProcess>
#include <QString>

// A sine tone at half scale played into a sink of the sound server until the
// player is destroyed, with 50 ms of latency: a player with the server's
// default latency fills a null sink in bursts of a second or more, and the
// audio a recording has received then lags the clock by as much.
class TonePlayer {
public:
    TonePlayer(const QString &sink, int frequency);
    ~TonePlayer();
    TonePlayer(const TonePlayer &) = delete;
    TonePlayer &operator=(const TonePlayer &) = delete;

    [[nodiscard]] bool isPlaying() const;

private:
    QProcess m_synth;
    QProcess m_playback;
};
