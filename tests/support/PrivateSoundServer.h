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
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    [[nodiscard]] bool isReady() const { return m_ready; }
    // "unix:/…/native", for libpulse and `pactl -s`.
    [[nodiscard]] QString address() const;
    // "tcp:127.0.0.1:…", where only a client with the server's own cookie gets in.
    [[nodiscard]] QString guardedAddress() const { return m_guardedAddress; }
    // The server's process, for tests that stop and continue it.
    [[nodiscard]] qint64 processId() const { return m_process.processId(); }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_guardedAddress;
    bool m_ready = false;
};
