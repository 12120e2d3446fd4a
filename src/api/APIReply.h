#pragma once

#include "EQAPIError.h"
#include "JsonReader.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <optional>

// One reply as the transport delivered it, judged the same way for every call
// and readable without a network.
struct APIReply {
    // The transport's own description when the exchange broke off: refused, dropped, timed out, cut short.
    std::optional<QString> transportError;
    std::optional<int> status;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    // Why the body cannot be trusted whole, if it cannot: the transport's error first, then a body shorter
    // than the length its headers announced (a connection dropped in the body is never a complete reply).
    [[nodiscard]] std::optional<QString> incomplete() const;

    // The body of a complete 2xx reply. Anything else is logged (a redacted excerpt of the body) and thrown:
    // a network error before any status, then unauthorized for 401, then the status.
    [[nodiscard]] QByteArray acceptedBody(const QUrl& url) const;

    // The body read as R, or a decoding error with a redacted excerpt in the log.
    template <class R> static R decode(const QByteArray& body, const QUrl& url)
    {
        try {
            return Json::decode<R>(body);
        } catch (const Json::DecodingError& e) {
            logDecodeError(url, body);
            throw EQAPIError::decodingError(e.description());
        }
    }

private:
    static void logDecodeError(const QUrl& url, const QByteArray& body);
};
