#pragma once

#include <QProcess>
#include <QString>

#include <memory>

// Plays into a sink of the sound server until it is destroyed. Tests keep
// audio playing while they wait: idle null sinks deliver in bursts.
class SoundPlayer {
public:
    // A sine tone at half scale.
    static SoundPlayer tone(const QString &sink, int seconds, int frequency = 440);
    // A sound file, repeated.
    static SoundPlayer file(const QString &path, const QString &sink, int repeats);

    SoundPlayer(SoundPlayer &&) = delete;
    ~SoundPlayer();

    [[nodiscard]] bool isPlaying() const { return m_process->state() == QProcess::Running; }

private:
    explicit SoundPlayer(const QStringList &soxArguments);

    std::unique_ptr<QProcess> m_process;
};
