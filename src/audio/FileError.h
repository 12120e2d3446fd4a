#pragma once

#include <QByteArray>
#include <QString>

#include <exception>
#include <system_error>

// A file-system failure while storing a recording, with the system's error code.
class FileError : public std::exception {
public:
    // `path` may be empty when there is nothing more to say (a name collision).
    FileError(std::error_code code, QString path = {});

    [[nodiscard]] std::error_code code() const { return m_code; }
    [[nodiscard]] QString path() const { return m_path; }
    // "File exists", or "No such file or directory: /path"
    [[nodiscard]] QString description() const;
    const char* what() const noexcept override { return m_what.constData(); }

private:
    std::error_code m_code;
    QString m_path;
    QByteArray m_what;
};

// Replaces `path` with `bytes` so that a crash leaves the old or the new contents, never a mix: a
// temporary file of its own (a fresh name beside `path`, never following a link; removed on failure), flushed, renamed
// over the old one, the folder flushed; private to the user (0600) whatever the umask. Throws FileError.
void writePrivateFileAtomically(const QString& path, const QByteArray& bytes);
