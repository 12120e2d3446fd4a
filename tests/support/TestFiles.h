#pragma once

#include <QFile>

// Writes a file of `bytes` bytes at `path`: the path, or empty when it could not be written.
inline QString writeBytes(const QString& path, qint64 bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QByteArray(bytes, 'a')) == bytes ? path : QString();
}
