#include "BoundedReply.h"

#include <QCoroNetworkReply>
#include <QLocale>
#include <QNetworkReply>

BoundedReply::BoundedReply(QNetworkReply* reply, ReplyLimits limits)
    : QObject(reply)
    , m_reply(reply)
    , m_limits(limits)
{
    connect(reply, &QNetworkReply::metaDataChanged, this, [this] {
        const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid())
            checkSize(length.toLongLong());
    });
    connect(reply, &QNetworkReply::readyRead, this, [this] { checkSize(m_reply->bytesAvailable()); });
    connect(reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64) { checkSize(received); });
    // The clock starts again while the request body is still going out: a long upload is not a slow reply.
    connect(reply, &QNetworkReply::uploadProgress, this, [this](qint64, qint64) { m_deadline.start(); });
    m_deadline.setSingleShot(true);
    m_deadline.setInterval(limits.total);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        abort(QStringLiteral("No complete reply within %1 s").arg(double(m_limits.total.count()) / 1000.0));
    });
    m_deadline.start();
}

void BoundedReply::checkSize(qint64 bytes)
{
    if (bytes > m_limits.maxBytes)
        abort(QStringLiteral("The reply is larger than %1")
                  .arg(QLocale::c().formattedDataSize(m_limits.maxBytes, 0, QLocale::DataSizeTraditionalFormat)));
}

void BoundedReply::abort(const QString& why)
{
    if (m_failure || !m_reply || m_reply->isFinished())
        return;
    m_failure = why;
    m_deadline.stop();
    m_reply->abort();
}

QCoro::Task<APIReply> BoundedReply::read(QNetworkReply* reply, ReplyLimits limits)
{
    const BoundedReply* watch = new BoundedReply(reply, limits);
    if (!reply->isFinished())
        co_await reply;
    reply->deleteLater();
    APIReply out;
    out.transportError = watch->failure();
    const QNetworkReply::NetworkError error = reply->error();
    // Errors below 100 are the connection's own (refused, closed, timed out); the higher ones mirror an
    // HTTP status, except a broken encoding of the body.
    const bool broken = (error > QNetworkReply::NoError && error < 100) || error == QNetworkReply::ProtocolFailure;
    if (!out.transportError && broken)
        out.transportError = reply->errorString();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid())
        out.status = status.toInt();
    else if (!out.transportError)
        out.transportError = reply->errorString();
    out.headers = reply->rawHeaderPairs();
    if (reply->isOpen())
        out.body = reply->readAll();
    co_return out;
}
