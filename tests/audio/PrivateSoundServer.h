#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A PulseAudio server of the test's own, with one null sink "only" (48 kHz
// stereo) that the test may remove without disturbing the shared server.
class PrivateSoundServer {
public:
    PrivateSoundServer();
    ~PrivateSoundServer();
    PrivateSoundServer(const PrivateSoundServer &) = delete;
    PrivateSoundServer &operator=(const PrivateSoundServer &) = delete;

    [[nodiscard]] bool isReady() const { return m_ready; }
    // "unix:/…/native", for libpulse and `pactl -s`.
    [[nodiscard]] QString address() const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    bool m_ready = false;
};
