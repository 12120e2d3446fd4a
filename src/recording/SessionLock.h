#pragma once

#include <QString>

#include <optional>

// The advisory lock a running recording holds on its session folder, so that
// a folder whose journal says "recording" while nobody holds the lock belongs
// to a process that died. Released when the object goes (or the process ends).
class SessionLock {
public:
    // Takes the lock without waiting; nothing when another holder has it or the folder cannot be opened.
    static std::optional<SessionLock> acquire(const QString& folder);
    // True while any open file description holds the folder's lock, this process's own included.
    [[nodiscard]] static bool isHeld(const QString& folder);

    SessionLock(SessionLock&& other) noexcept;
    SessionLock& operator=(SessionLock&& other) noexcept;
    SessionLock(const SessionLock&) = delete;
    SessionLock& operator=(const SessionLock&) = delete;
    ~SessionLock();

    void release();

private:
    explicit SessionLock(int fd)
        : m_fd(fd)
    {
    }
    int m_fd = -1;
};
