#include "APIClient.h"

#include <QNetworkReply>

namespace {

QNetworkReply* send(
    QNetworkAccessManager& network, const QNetworkRequest& request, const QByteArray& method, const QByteArray& body)
{
    if (method == "GET")
        return network.get(request);
    return network.sendCustomRequest(request, method, body);
}

}

APIClient& APIClient::shared()
{
    static APIClient* instance = new APIClient();
    return *instance;
}

APIClient::APIClient() = default;

QNetworkRequest APIClient::request(const QUrl& url, const std::optional<QString>& token) const
{
    QNetworkRequest r(url);
    r.setTransferTimeout(m_timeoutMs);
    r.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    if (token)
        r.setRawHeader("Authorization", "Bearer " + token->toUtf8());
    return r;
}

QCoro::Task<APIReply> APIClient::exchange(QNetworkRequest request, QByteArray method, QByteArray body)
{
    co_return co_await BoundedReply::read(send(m_network, request, method, body), m_limits);
}

QCoro::Task<QByteArray> APIClient::perform(QNetworkRequest request, QByteArray method, QByteArray body)
{
    const APIReply reply = co_await exchange(request, method, body);
    co_return reply.acceptedBody(request.url());
}

QCoro::Task<> APIClient::performWithoutResponse(QNetworkRequest request, QByteArray body)
{
    const APIReply reply = co_await exchange(request, "POST", body);
    if (const auto problem = reply.incomplete(); problem || !reply.status)
        throw TransportError(problem.value_or(QString()));
    const int code = *reply.status;
    if (code == 401)
        throw EQAPIError::unauthorized();
    if (code < 200 || code > 299)
        throw EQAPIError::httpError(code);
}
