#pragma once

#include "EQAPIError.h"
#include "JsonReader.h"

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
    static APIClient &shared();

    template<class R>
    QCoro::Task<R> get(QUrl url, std::optional<QString> token)
    {
        const QByteArray body = co_await perform(request(url, token), "GET", {});
        co_return decodeBody<R>(body, url);
    }

    template<class R, class B>
    QCoro::Task<R> post(QUrl url, B body, std::optional<QString> token)
    {
        const QByteArray reply = co_await perform(request(url, token), "POST", encode(body));
        co_return decodeBody<R>(reply, url);
    }

    template<class R, class B>
    QCoro::Task<R> patch(QUrl url, B body, std::optional<QString> token)
    {
        const QByteArray reply = co_await perform(request(url, token), "PATCH", encode(body));
        co_return decodeBody<R>(reply, url);
    }

    // The reply body is ignored; a transport failure comes out as TransportError.
    template<class B>
    QCoro::Task<> postWithoutResponse(QUrl url, B body, std::optional<QString> token)
    {
        co_await performWithoutResponse(request(url, token), encode(body));
    }

    // The per-request time-out; 60 seconds unless a test shortens it.
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }
    QNetworkAccessManager &network() { return m_network; }

    // Log excerpt of a body: UTF-8 text cut to `limit` characters, or "<binary NB>".
    static QString bodyExcerpt(const QByteArray &body, int limit);

private:
    APIClient();

    template<class B>
    static QByteArray encode(const B &body)
    {
        if constexpr (std::is_same_v<B, QJsonObject>)
            return QJsonDocument(body).toJson(QJsonDocument::Compact);
        else
            return QJsonDocument(body.toJson()).toJson(QJsonDocument::Compact);
    }

    template<class R>
    static R decodeBody(const QByteArray &body, const QUrl &url)
    {
        try {
            return Json::decode<R>(body);
        } catch (const Json::DecodingError &e) {
            logDecodeError(url, body);
            throw EQAPIError::decodingError(e.description());
        }
    }

    QNetworkRequest request(const QUrl &url, const std::optional<QString> &token) const;
    QCoro::Task<QByteArray> perform(QNetworkRequest request, QByteArray method, QByteArray body);
    QCoro::Task<> performWithoutResponse(QNetworkRequest request, QByteArray body);
    static void logDecodeError(const QUrl &url, const QByteArray &body);

    QNetworkAccessManager m_network;
    int m_timeoutMs = 60000;
};
