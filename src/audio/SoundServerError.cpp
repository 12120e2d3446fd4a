#include "SoundServerError.h"

#include <pulse/error.h>

SoundServerError::SoundServerError(int code, QString operation)
    : m_code(code)
    , m_operation(std::move(operation))
    , m_what(description().toUtf8())
{
}

QString SoundServerError::description() const
{
    return m_operation + QStringLiteral(": ") + QString::fromUtf8(pa_strerror(m_code));
}
