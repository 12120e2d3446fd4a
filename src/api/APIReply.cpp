#include "APIReply.h"

#include "Log.h"
#include "LogExcerpt.h"

namespace {

QString pathOf(const QUrl& url)
{
    return url.isEmpty() ? QStringLiteral("?") : url.path();
}

std::optional<QByteArray> header(const QList<QPair<QByteArray, QByteArray>>& headers, QByteArrayView name)
{
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return std::nullopt;
}

}

std::optional<QString> APIReply::incomplete() const
{
    if (transportError)
        return transportError;
    // The announced length counts the bytes on the wire: a compressed body is checked by the transport.
    // A 204 or 304 has no body whatever its headers say.
    const auto length = header(headers, "Content-Length");
    if (!length || header(headers, "Content-Encoding") || status == 204 || status == 304)
        return std::nullopt;
    bool ok = false;
    const qint64 announced = length->trimmed().toLongLong(&ok);
    if (ok && body.size() < announced)
        return QStringLiteral("Connection closed");
    return std::nullopt;
}

QByteArray APIReply::acceptedBody(const QUrl& url) const
{
    if (const auto problem = incomplete(); problem || !status)
        throw EQAPIError::networkError(problem.value_or(QStringLiteral("No reply")));
    const int code = *status;
    if (code < 200 || code > 299) {
        Log::line(QStringLiteral("[APIClient] HTTP %1 from %2: %3").arg(code).arg(pathOf(url), Log::excerpt(body)));
        if (code == 401)
            throw EQAPIError::unauthorized();
        throw EQAPIError::httpError(code);
    }
    return body;
}

void APIReply::logDecodeError(const QUrl& url, const QByteArray& body)
{
    Log::line(QStringLiteral("[APIClient] decode error for %1: %2").arg(pathOf(url), Log::excerpt(body, 300)));
}
