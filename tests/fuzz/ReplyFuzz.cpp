// Arbitrary status, headers and body as the API client's reply, read as records (only EQAPIError comes out),
// or, built with UPLOAD_REPLIES, as the upload pipeline's token, blob store and notify replies (also
// TransportError and the parser's error). A broken transfer is a network error whatever its status; only a
// whole 2xx body is read; no logged body passes 500 characters or shows a value held under a secret key.
#include "EQUser.h"
#include "Log.h"
#include "LogExcerpt.h"
#include "MeetingNote.h"
#include "UploadPipelineReplies.h"

#include <QJsonDocument>
#include <QRegularExpression>

#include <functional>

namespace {

void require(bool condition, const char* what)
{
    if (!condition)
        qFatal("broken invariant: %s", what);
}

// Every string under a secret key (keys included), at any depth.
void collect(const QJsonValue& value, bool secret, QStringList& held)
{
    held << (value.isString() && secret ? QStringList { value.toString() } : QStringList {});
    for (const QJsonValue element : value.toArray())
        collect(element, secret, held);
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QString key = it.key().toLower();
        held << (secret ? QStringList { it.key() } : QStringList {});
        collect(it.value(), secret || key.endsWith(u"token") || key == u"authorization" || key == u"otpcode", held);
    }
}

// The words held under secret keys of JSON written without escapes that occur nowhere else in the body
// (not a number, not another string): no log line may show them.
QStringList secretsIn(const QByteArray& body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    QStringList held, secrets;
    if (!body.contains('\\'))
        collect(document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array()), false, held);
    static const QRegularExpression word(QStringLiteral("^(?=.*[A-DF-Za-df-z])[A-Za-z0-9]{6,}$"));
    for (const QString& candidate : held)
        if (word.match(candidate).hasMatch() && body.count(candidate.toUtf8()) == 1)
            secrets << candidate;
    return secrets;
}

// Runs one reader of `reply`; `upload` when it is one of the upload pipeline's.
void read(const APIReply& reply, bool upload, const std::function<void()>& call)
{
    const bool broken = reply.incomplete() || !reply.status;
    try {
        call();
        require(!broken && *reply.status >= 200 && *reply.status <= 299, "only a whole 2xx body is read");
    } catch (const EQAPIError& e) {
        require(!broken || e.is(EQAPIError::NetworkError), "a broken transfer is a network error");
    } catch (const TransportError&) {
        require(upload && broken, "a transport error is a broken transfer");
    } catch (const Json::DecodingError&) {
        require(upload && !broken, "only the upload replies pass on the parser's error");
    }
}

}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Every reply logs lines; the fuzzer's own report goes to stderr.
    require(std::freopen("/dev/null", "w", stdout) != nullptr, "stdout to /dev/null");
    return 0;
}

// Byte 0 picks the status (or none); byte 1 sets a transport error (bit 0), a Content-Length off from the
// body's size by (byte >> 3) - 8 (bit 1) and a Content-Encoding (bit 2); byte 2 where a cut copy ends.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const int statuses[] = { 0, 200, 201, 204, 304, 400, 401, 403, 404, 500, 502, 503 };
    const uint8_t head[3]
        = { size > 0 ? data[0] : uint8_t(0), size > 1 ? data[1] : uint8_t(0), size > 2 ? data[2] : uint8_t(0) };
    APIReply reply;
    reply.body = QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).mid(3);
    if (statuses[head[0] % 12])
        reply.status = statuses[head[0] % 12];
    if (head[1] & 1)
        reply.transportError = QStringLiteral("Connection closed");
    if (head[1] & 2)
        reply.headers << qMakePair(
            QByteArray("content-length"), QByteArray::number(reply.body.size() + (head[1] >> 3) - 8));
    if (head[1] & 4)
        reply.headers << qMakePair(QByteArray("Content-Encoding"), QByteArray("gzip"));
    const QUrl url(QStringLiteral("https://service.test/api/v2/meeting-notes"));
    Log::Capture log;
#ifdef UPLOAD_REPLIES
    read(reply, true, [&] { UploadPipelineReplies::clientToken(reply); });
    read(reply, true, [&] { UploadPipelineReplies::blobUrl(reply); });
    read(reply, true, [&] { UploadPipelineReplies::noteId(reply, url); });
#else
    read(reply, false, [&] { APIReply::decode<QList<MeetingNote>>(reply.acceptedBody(url), url); });
    read(reply, false, [&] { APIReply::decode<EQUser>(reply.acceptedBody(url), url); });
#endif
    const QByteArray cut = reply.body.left(reply.body.size() * head[2] / 255);
    const QStringList secrets = secretsIn(reply.body),
                      lines = log.lines() << Log::excerpt(reply.body) << Log::excerpt(cut);
    for (const QString& line : lines) {
        require(line.size() <= 1100, "a logged body is cut at 500 characters");
        for (const QString& secret : secrets)
            require(!line.contains(secret), "a secret value reached the log");
    }
    return 0;
}
