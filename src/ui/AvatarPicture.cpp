#include "AvatarPicture.h"

#include "BoundedReply.h"
#include "Log.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPainter>
#include <QPainterPath>
#include <QQmlEngine>

AvatarPicture::AvatarPicture(QQuickItem* parent)
    : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
}

AvatarPicture::~AvatarPicture()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

void AvatarPicture::setSource(const QUrl& source)
{
    if (source == m_source)
        return;
    m_source = source;
    emit sourceChanged();
    if (isComponentComplete())
        load();
}

void AvatarPicture::componentComplete()
{
    QQuickPaintedItem::componentComplete();
    load();
}

void AvatarPicture::load()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
    m_image = QImage();
    update();
    if (m_source.isEmpty()) {
        setStatus(Null);
        return;
    }
    if (m_source.scheme() != QLatin1String("https") && m_source.scheme() != QLatin1String("http")) {
        Log::line(QStringLiteral("[AvatarPicture] not loading a picture from a %1 address").arg(m_source.scheme()));
        setStatus(Error);
        return;
    }
    QQmlEngine* engine = qmlEngine(this);
    QNetworkAccessManager* network = engine ? engine->networkAccessManager() : nullptr;
    if (!network) {
        setStatus(Error);
        return;
    }
    setStatus(Loading);
    QNetworkReply* reply = network->get(QNetworkRequest(m_source));
    new BoundedReply(reply, { maxImageBytes });
    m_reply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finish(reply); });
}

void AvatarPicture::finish(QNetworkReply* reply)
{
    reply->deleteLater();
    if (reply != m_reply)
        return;
    m_reply = nullptr;
    QImage image;
    if (reply->error() == QNetworkReply::NoError)
        image.loadFromData(reply->readAll());
    if (image.isNull()) {
        setStatus(Error);
        return;
    }
    m_image = image;
    update();
    setStatus(Ready);
}

void AvatarPicture::setStatus(Status status)
{
    if (status == m_status)
        return;
    m_status = status;
    emit statusChanged();
}

void AvatarPicture::paint(QPainter* painter)
{
    if (m_image.isNull())
        return;
    QPainterPath circle;
    circle.addEllipse(QRectF(0, 0, width(), height()));
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->setClipPath(circle);
    painter->drawImage(QRectF(0, 0, width(), height()), m_image);
}
