#include "SessionLock.h"

#include <QFile>

#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

int openFolder(const QString& folder)
{
    return ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

}

std::optional<SessionLock> SessionLock::acquire(const QString& folder)
{
    const int fd = openFolder(folder);
    if (fd < 0)
        return std::nullopt;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    return SessionLock(fd);
}

bool SessionLock::isHeld(const QString& folder)
{
    // flock belongs to the open file description, so a fresh descriptor tells even this process's own lock.
    std::optional<SessionLock> probe = acquire(folder);
    return !probe && QFile::exists(folder);
}

SessionLock::SessionLock(SessionLock&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
{
}

SessionLock& SessionLock::operator=(SessionLock&& other) noexcept
{
    if (this != &other) {
        release();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

SessionLock::~SessionLock()
{
    release();
}

void SessionLock::release()
{
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
}
