#pragma once

#include "APIReply.h"

#include <QString>

#include <optional>

// What the upload pipeline reads from its replies, without a network: the
// client token, the blob's address and the service's acknowledgement.
class UploadPipelineReplies {
public:
    // The service's answer to the notify call.
    struct NotifyResponse {
        std::optional<bool> success;
        std::optional<qint64> noteId;

        static NotifyResponse fromJson(const Json::ObjectReader& r);
    };

    // The client token of the token call's reply. A broken exchange throws TransportError, a refusal
    // EQAPIError::httpError, a body that is not JSON Json::DecodingError, one without the token a decoding error.
    static QString clientToken(const APIReply& reply);
    // The blob's public address in the blob store's reply; fails as clientToken does.
    static QString blobUrl(const APIReply& reply);
    // The note id of the notify call's reply (0 when it names none), read as the API client reads it.
    static qint64 noteId(const APIReply& reply, const QUrl& url);

private:
    static QString stringIn(const APIReply& reply, const QString& call, QLatin1StringView key, const QString& missing);
};
