#include "UploadPipelineReplies.h"

#include "Log.h"
#include "LogExcerpt.h"

using namespace Qt::StringLiterals;

UploadPipelineReplies::NotifyResponse UploadPipelineReplies::NotifyResponse::fromJson(const Json::ObjectReader& r)
{
    return { r.optional<bool>("success"_L1), r.optional<qint64>("noteId"_L1) };
}

QString UploadPipelineReplies::stringIn(
    const APIReply& reply, const QString& call, QLatin1StringView key, const QString& missing)
{
    if (const auto problem = reply.incomplete(); problem || !reply.status)
        throw TransportError(problem.value_or(QString()));
    const int status = *reply.status;
    Log::line(u"[Upload] %1 ← HTTP %2"_s.arg(call).arg(status));
    if (status < 200 || status > 299) {
        Log::line(u"[Upload] %1 error body: %2"_s.arg(call, Log::excerpt(reply.body)));
        throw EQAPIError::httpError(status);
    }
    const QJsonValue value = Json::parse(reply.body).toObject().value(key);
    if (!value.isString()) {
        Log::line(u"[Upload] %1 unexpected response: %2"_s.arg(call, Log::excerpt(reply.body)));
        throw EQAPIError::decodingError(missing);
    }
    return value.toString();
}

QString UploadPipelineReplies::clientToken(const APIReply& reply)
{
    return stringIn(reply, u"fetchUploadToken"_s, "clientToken"_L1, u"Missing clientToken in response"_s);
}

QString UploadPipelineReplies::blobUrl(const APIReply& reply)
{
    return stringIn(reply, u"uploadToVercelBlob"_s, "url"_L1, u"Missing url in Vercel Blob response"_s);
}

qint64 UploadPipelineReplies::noteId(const APIReply& reply, const QUrl& url)
{
    return APIReply::decode<NotifyResponse>(reply.acceptedBody(url), url).noteId.value_or(0);
}
