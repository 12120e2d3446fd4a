#include "EQAPIError.h"

EQAPIError::EQAPIError(Kind kind, int status, QString underlying)
    : m_kind(kind)
    , m_status(status)
    , m_underlying(std::move(underlying))
    , m_what(description().toUtf8())
{
}

QString EQAPIError::description() const
{
    switch (m_kind) {
    case HttpError:
        return QStringLiteral("Server error (%1)").arg(m_status);
    case DecodingError:
        return QStringLiteral("Data error: ") + m_underlying;
    case NetworkError:
        return QStringLiteral("Network error: ") + m_underlying;
    case InvalidCallback:
        return QStringLiteral("Authentication failed");
    case Unauthorized:
        return QStringLiteral("Session expired, please sign in again");
    }
    return {};
}

QString EQAPIError::printed() const
{
    switch (m_kind) {
    case HttpError:
        return QStringLiteral("httpError(%1)").arg(m_status);
    case DecodingError:
        return QStringLiteral("decodingError(%1)").arg(m_underlying);
    case NetworkError:
        return QStringLiteral("networkError(%1)").arg(m_underlying);
    case InvalidCallback:
        return QStringLiteral("invalidCallback");
    case Unauthorized:
        return QStringLiteral("unauthorized");
    }
    return {};
}
