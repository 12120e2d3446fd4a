#pragma once

#include <QProcess>
#include <QString>

// Plays into a sink of the sound server until it ends or is destroyed, with
// 50 ms of latency: a player with the server's default latency fills a null
// sink in bursts of a second or more, and what a recording has received then
// lags what was played by as much.
class SoundPlayer {
public:
    // A sine tone, at half scale unless `gainDb` says otherwise, for `seconds` exactly.
    static SoundPlayer tone(const QString& sink, double seconds, int frequency = 440, int gainDb = -6);
    // A half-scale tone for an hour.
    SoundPlayer(const QString& sink, int frequency);
    ~SoundPlayer();
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    [[nodiscard]] bool isPlaying() const;

private:
    SoundPlayer(const QString& sink, const QStringList& soxInput);

    QProcess m_synth;
    QProcess m_playback;
};
