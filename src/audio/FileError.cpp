#include "FileError.h"

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
