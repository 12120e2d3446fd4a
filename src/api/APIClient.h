#pragma once

#include "APIReply.h"
#include "BoundedReply.h"
#include "EQAPIError.h"

#include <QCoroTask>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QObject>
#include <QString>
#include <QUrl>

#include <optional>

// The one HTTP/JSON client of the process. It holds no token: callers pass
// theirs with each request, and decide what a failure means for them.
class APIClient : public QObject {
    Q_OBJECT
public:
    static APIClient& shared();

    template <class R> QCoro::Task<R> get(QUrl url, std::optional<QString> token)
    {
        const QByteArray body = co_await perform(request(url, token), "GET", {});
        co_return APIReply::decode<R>(body, url);
    }

    template <class R, class B> QCoro::Task<R> post(QUrl url, B body, std::optional<QString> token)
    {
        const QByteArray reply = co_await perform(request(url, token), "POST", encode(body));
        co_return APIReply::decode<R>(reply, url);
    }

    template <class R, class B> QCoro::Task<R> patch(QUrl url, B body, std::optional<QString> token)
    {
        const QByteArray reply = co_await perform(request(url, token), "PATCH", encode(body));
        co_return APIReply::decode<R>(reply, url);
    }

    // The reply body is ignored; a transport failure comes out as TransportError.
    template <class B> QCoro::Task<> postWithoutResponse(QUrl url, B body, std::optional<QString> token)
    {
        co_await performWithoutResponse(request(url, token), encode(body));
    }

    // The reply to one request, held to the limits and not yet judged.
    QCoro::Task<APIReply> exchange(QNetworkRequest request, QByteArray method, QByteArray body);
    // A JSON request to `url` that carries `token`, if any, as its bearer.
    [[nodiscard]] QNetworkRequest request(const QUrl& url, const std::optional<QString>& token) const;

    // How long a request may go without any bytes moving; 60 seconds unless a test shortens it.
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }
    // The size and total time every reply is held to; the defaults unless a test shrinks them.
    void setLimits(ReplyLimits limits) { m_limits = limits; }
    [[nodiscard]] ReplyLimits limits() const { return m_limits; }
    QNetworkAccessManager& network() { return m_network; }

private:
    APIClient();

    template <class B> static QByteArray encode(const B& body)
    {
        if constexpr (std::is_same_v<B, QJsonObject>)
            return QJsonDocument(body).toJson(QJsonDocument::Compact);
        else
            return QJsonDocument(body.toJson()).toJson(QJsonDocument::Compact);
    }

    QCoro::Task<QByteArray> perform(QNetworkRequest request, QByteArray method, QByteArray body);
    QCoro::Task<> performWithoutResponse(QNetworkRequest request, QByteArray body);

    QNetworkAccessManager m_network;
    int m_timeoutMs = 60000;
    ReplyLimits m_limits;
};
