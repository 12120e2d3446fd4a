#include "APIClient.h"

#include "Log.h"

#include <QCoroNetworkReply>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QScopeGuard>
#include <QStringDecoder>

namespace {

QString pathOf(const QUrl &url)
{
    return url.isEmpty() ? QStringLiteral("?") : url.path();
}

std::optional<QString> utf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// The first `limit` characters, never cutting a surrogate pair in half.
QString firstCharacters(const QString &text, int limit)
{
    qsizetype units = 0;
    for (int count = 0; units < text.size() && count < limit; ++count)
        units += (text[units].isHighSurrogate() && units + 1 < text.size()) ? 2 : 1;
    return text.left(units);
}

QNetworkReply *send(QNetworkAccessManager &network, const QNetworkRequest &request, const QByteArray &method,
                    const QByteArray &body)
{
    if (method == "GET")
        return network.get(request);
    return network.sendCustomRequest(request, method, body);
}

}

APIClient &APIClient::shared()
{
    static APIClient *instance = new APIClient();
    return *instance;
}

APIClient::APIClient() = default;

QString APIClient::bodyExcerpt(const QByteArray &body, int limit)
{
    if (auto text = utf8(body))
        return firstCharacters(*text, limit);
    return QStringLiteral("<binary %1B>").arg(body.size());
}

QNetworkRequest APIClient::request(const QUrl &url, const std::optional<QString> &token) const
{
    QNetworkRequest r(url);
    r.setTransferTimeout(m_timeoutMs);
    r.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    if (token)
        r.setRawHeader("Authorization", "Bearer " + token->toUtf8());
    return r;
}

QCoro::Task<QByteArray> APIClient::perform(QNetworkRequest request, QByteArray method, QByteArray body)
{
    QNetworkReply *reply = send(m_network, request, method, body);
    co_await reply;
    const auto release = qScopeGuard([reply] { reply->deleteLater(); });

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        throw EQAPIError::networkError(reply->errorString());

    const QByteArray data = reply->readAll();
    const int code = status.toInt();
    if (code < 200 || code > 299) {
        Log::line(QStringLiteral("[APIClient] HTTP %1 from %2: %3").arg(code).arg(pathOf(request.url()), bodyExcerpt(data, 500)));
        if (code == 401)
            throw EQAPIError::unauthorized();
        throw EQAPIError::httpError(code);
    }
    co_return data;
}

QCoro::Task<> APIClient::performWithoutResponse(QNetworkRequest request, QByteArray body)
{
    QNetworkReply *reply = send(m_network, request, "POST", body);
    co_await reply;
    const auto release = qScopeGuard([reply] { reply->deleteLater(); });

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        throw TransportError(reply->errorString());
    const int code = status.toInt();
    if (code == 401)
        throw EQAPIError::unauthorized();
    if (code < 200 || code > 299)
        throw EQAPIError::httpError(code);
}

void APIClient::logDecodeError(const QUrl &url, const QByteArray &body)
{
    const auto text = utf8(body);
    Log::line(QStringLiteral("[APIClient] decode error for %1: %2")
                  .arg(pathOf(url), text ? firstCharacters(*text, 300) : QStringLiteral("<binary>")));
}
