#include "FileError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FileError::FileError(std::error_code code, QString path)
    : m_code(code)
    , m_path(std::move(path))
    , m_what(description().toUtf8())
{
}

QString FileError::description() const
{
    const QString message = QString::fromStdString(m_code.message());
    return m_path.isEmpty() ? message : message + QStringLiteral(": ") + m_path;
}

namespace {

// A new file beside `path` with a name no one else uses ("<path>.<random>.tmp"), private to the user;
// never an existing file or whatever a link planted under that name points to. Throws FileError.
int createTemporaryBeside(const QString& path, QByteArray& name)
{
    for (int attempt = 0;; ++attempt) {
        const quint64 random = QRandomGenerator::system()->generate64();
        name = QFile::encodeName(path) + '.' + QByteArray::number(random, 36) + ".tmp";
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST || attempt == 99)
            throw FileError(std::error_code(errno, std::generic_category()), QFile::decodeName(name));
    }
}

}

void writePrivateFileAtomically(const QString& path, const QByteArray& bytes)
{
    QByteArray name;
    const int fd = createTemporaryBeside(path, name);
    int reason = ::fchmod(fd, 0600) < 0 ? errno : 0;
    for (qsizetype done = 0; reason == 0 && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno != EINTR)
            reason = errno;
        else if (n > 0)
            done += n;
    }
    if (reason == 0 && ::fsync(fd) < 0)
        reason = errno;
    if (::close(fd) < 0 && reason == 0)
        reason = errno;
    if (reason == 0 && ::rename(name.constData(), QFile::encodeName(path).constData()) < 0)
        reason = errno;
    if (reason != 0) {
        ::unlink(name.constData());
        throw FileError(std::error_code(reason, std::generic_category()), path);
    }
    // The rename itself reaches the disk only with the folder.
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    if (const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}
