#pragma once

#include <QImage>
#include <QPointer>
#include <QQuickPaintedItem>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

class QNetworkReply;

// A picture loaded asynchronously from an address and drawn stretched into a
// circle; `status` tells the avatar when to show its initials instead.
class AvatarPicture : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QUrl source READ source WRITE setSource NOTIFY sourceChanged)
    Q_PROPERTY(Status status READ status NOTIFY statusChanged)

public:
    enum Status { Null, Loading, Ready, Error };
    Q_ENUM(Status)

    // A larger picture is abandoned as soon as its size shows.
    static constexpr qint64 maxImageBytes = 5LL << 20;

    explicit AvatarPicture(QQuickItem* parent = nullptr);
    ~AvatarPicture() override;

    [[nodiscard]] QUrl source() const { return m_source; }
    void setSource(const QUrl& source);
    [[nodiscard]] Status status() const { return m_status; }

    void paint(QPainter* painter) override;

signals:
    void sourceChanged();
    void statusChanged();

protected:
    void componentComplete() override;

private:
    void load();
    void finish(QNetworkReply* reply);
    void setStatus(Status status);

    QUrl m_source;
    Status m_status = Null;
    QImage m_image;
    QPointer<QNetworkReply> m_reply;
};
