#include "UploadPipeline.h"

#include "APIClient.h"
#include "BuildConfig.h"
#include "Endpoints.h"
#include "JsonReader.h"
#include "Log.h"
#include "LogExcerpt.h"
#include "UploadPipelineReplies.h"

#include <QCoroTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QUuid>

#include <cmath>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

struct NotifyBody {
    QString blobUrl;
    std::optional<QString> blobUrlSystem;
    QString fileName;
    std::optional<QString> fileNameSystem;
    // Never sent by this client.
    std::optional<qint64> durationSeconds;

    QJsonObject toJson() const
    {
        Json::ObjectWriter w;
        w.set("blob_url"_L1, blobUrl).set("blob_url_system"_L1, blobUrlSystem);
        w.set("file_name"_L1, fileName).set("file_name_system"_L1, fileNameSystem);
        if (durationSeconds)
            w.set("duration_seconds"_L1, QJsonValue(*durationSeconds));
        return w.object();
    }
};

// The track, open for its upload; a track that does not open or is empty is never sent.
std::unique_ptr<QFile> openTrack(const QString& file)
{
    auto source = std::make_unique<QFile>(file);
    const bool opened = source->open(QIODevice::ReadOnly);
    if (opened && source->size() > 0)
        return source;
    const QString error = opened ? u"the file is empty"_s : source->errorString();
    Log::line(u"[Upload] cannot read track %1: %2"_s.arg(file, error));
    throw UnreadableTrack(file, error);
}

}

UploadPipeline::UploadPipeline(QString blobEndpoint, Timings timings, QObject* parent)
    : QObject(parent)
    , m_blobEndpoint(std::move(blobEndpoint))
    , m_timings(timings)
{
}

QString UploadPipeline::defaultBlobEndpoint()
{
    return QString::fromUtf8(BuildConfig::blobUploadEndpoint);
}

QString UploadPipeline::pathNameFor(const QString& file)
{
    const QString ext = QFileInfo(file).suffix().toLower();
    return u"recordings/"_s + QUuid::createUuid().toString(QUuid::WithoutBraces).toLower() + u'.'
        + (ext.isEmpty() ? u"m4a"_s : ext);
}

QString UploadPipeline::contentTypeFor(const QString& file)
{
    const QString ext = QFileInfo(file).suffix().toLower();
    if (ext == "m4a"_L1 || ext == "mp4"_L1)
        return u"audio/mp4"_s;
    if (ext == "wav"_L1)
        return u"audio/wav"_s;
    if (ext == "caf"_L1)
        return u"audio/x-caf"_s;
    return u"application/octet-stream"_s;
}

QString UploadPipeline::describe(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const EQAPIError& e) {
        return e.description();
    } catch (const TransportError& e) {
        return e.description();
    } catch (const Json::DecodingError& e) {
        return e.description();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
}

std::exception_ptr UploadPipeline::retryableError()
{
    std::exception_ptr error = std::current_exception();
    try {
        std::rethrow_exception(error);
    } catch (const EQAPIError& e) {
        if (e.is(EQAPIError::HttpError) && e.status() == 403)
            throw;
    } catch (...) {
    }
    return error;
}

QCoro::Task<> UploadPipeline::pauseBeforeRetry(int attempt, int attempts, std::exception_ptr error) const
{
    const std::chrono::milliseconds wait = retryWait(attempt);
    Log::line(u"[Upload] retry attempt %1/%2 after %3s — %4"_s.arg(attempt)
                  .arg(attempts)
                  .arg(wait.count() / 1000)
                  .arg(describe(error)));
    co_await QCoro::sleepFor(wait);
}

std::chrono::milliseconds UploadPipeline::retryWait(int attempt) const
{
    return std::chrono::milliseconds(qint64(m_timings.retryBaseDelaySeconds * std::pow(2.0, attempt - 1) * 1000));
}

UnreadableTrack::UnreadableTrack(const QString& file, const QString& error)
    : std::runtime_error(u"Cannot read %1: %2"_s.arg(QFileInfo(file).fileName(), error).toStdString())
{
}

void UploadPipeline::requireReadable(const QString& file)
{
    openTrack(file);
}

QCoro::Task<std::pair<QString, QString>> UploadPipeline::fetchUploadToken(QString file, QString token)
{
    const QString pathname = pathNameFor(file);
    const QUrl url = Endpoints::url(Endpoints::Path::uploadToken);
    Log::line(u"[Upload] fetchUploadToken → POST "_s + url.toString() + u" pathname="_s + pathname);

    QNetworkRequest request(url);
    request.setTransferTimeout(int(m_timings.requestTimeout.count()));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setRawHeader("x-auth-token", "Bearer " + token.toUtf8());
    const QJsonObject payload { { u"pathname"_s, pathname }, { u"callbackUrl"_s, u""_s }, { u"multipart"_s, false },
        { u"clientPayload"_s, QJsonValue::Null } };
    const QJsonObject body { { u"type"_s, u"blob.generate-client-token"_s }, { u"payload"_s, payload } };

    const APIReply reply
        = co_await APIClient::shared().exchange(request, "POST", QJsonDocument(body).toJson(QJsonDocument::Compact));
    co_return std::pair { UploadPipelineReplies::clientToken(reply), pathname };
}

QCoro::Task<QString> UploadPipeline::uploadToBlobStore(
    QString file, QString pathname, QString clientToken, std::function<void(qint64)> onSent)
{
    const QString urlText = m_blobEndpoint + pathname;
    const QUrl url(urlText, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        throw EQAPIError::httpError(0);

    const std::unique_ptr<QFile> source = openTrack(file);
    const qint64 size = source->size();
    Log::line(u"[Upload] uploadToVercelBlob → PUT …/"_s + Log::lastSegment(urlText) + u" size="_s
        + QString::number(size / 1024) + u"KB"_s);

    QNetworkRequest request(url);
    request.setTransferTimeout(int(m_timings.requestTimeout.count()));
    request.setRawHeader("Authorization", "Bearer " + clientToken.toUtf8());
    request.setHeader(QNetworkRequest::ContentTypeHeader, contentTypeFor(file).toUtf8());
    request.setRawHeader("x-content-length", QByteArray::number(size));

    // The body streams from the file; it is never read whole into memory.
    QNetworkReply* reply = APIClient::shared().network().put(request, source.get());
    if (onSent)
        connect(reply, &QNetworkReply::uploadProgress, reply, [onSent](qint64 sent, qint64) { onSent(sent); });
    const APIReply answer = co_await BoundedReply::read(reply, APIClient::shared().limits());
    co_return UploadPipelineReplies::blobUrl(answer);
}

QCoro::Task<qint64> UploadPipeline::notifyBackend(QString micBlob, std::optional<QString> systemBlob, QString micName,
    std::optional<QString> systemName, QString token)
{
    const QUrl notifyUrl = Endpoints::url(Endpoints::Path::recordedNotes);
    // Whoever has a blob's address can download it: only its name goes to the log.
    Log::line(u"[Upload] notifyBackend → POST "_s + notifyUrl.toString() + u" mic=…/"_s + Log::lastSegment(micBlob)
        + u" system="_s + (systemBlob ? u"…/"_s + Log::lastSegment(*systemBlob) : u"none"_s));
    // Named, not a temporary: GCC 12 destroys aggregate temporaries inside co_await twice.
    const NotifyBody body { micBlob, systemBlob, micName, systemName, std::nullopt };
    const QByteArray payload = QJsonDocument(body.toJson()).toJson(QJsonDocument::Compact);
    APIClient& client = APIClient::shared();
    const APIReply reply = co_await client.exchange(client.request(notifyUrl, token), "POST", payload);
    const qint64 noteId = UploadPipelineReplies::noteId(reply, notifyUrl);
    Log::line(u"[Upload] step 5: backend ack — note_id=%1"_s.arg(noteId));
    co_return noteId;
}
