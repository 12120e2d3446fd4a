#include "SymbolImageCache.h"

#include "SymbolCatalog.h"

#include <QCache>
#include <QMutex>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>

using namespace Qt::StringLiterals;

namespace {

QMutex s_mutex;
// Cost in KiB: a few hundred small symbols fit in the 4 MiB.
QCache<QString, QImage> s_images(4096);
int s_prepared = 0;

}

QImage SymbolImageCache::image(
    const QString& symbolName, int side, const QColor& color, const QColor& knockout, qreal weight)
{
    if (side <= 0)
        return {};
    const QString key = u"%1|%2|%3|%4|%5"_s.arg(symbolName)
                            .arg(side)
                            .arg(color.name(QColor::HexRgb), knockout.name(QColor::HexRgb))
                            .arg(weight);
    QMutexLocker lock(&s_mutex);
    if (const QImage* cached = s_images.object(key))
        return *cached;
    const QImage prepared = prepare(symbolName, side, color, knockout, weight);
    s_images.insert(key, new QImage(prepared), std::max(1, int(prepared.sizeInBytes() / 1024)));
    return prepared;
}

int SymbolImageCache::preparedCount()
{
    QMutexLocker lock(&s_mutex);
    return s_prepared;
}

QImage SymbolImageCache::prepare(
    const QString& symbolName, int side, const QColor& color, const QColor& knockout, qreal weight)
{
    ++s_prepared;
    QByteArray svg = SymbolCatalog::svg(symbolName);
    if (svg.isEmpty())
        return {};
    svg.replace("currentColor", color.name(QColor::HexRgb).toLatin1());
    svg.replace("knockoutColor", knockout.name(QColor::HexRgb).toLatin1());
    if (!qFuzzyCompare(weight, 1.0)) {
        // Scale every stroke-width="N" of the drawing.
        static const QRegularExpression strokeWidth(u"stroke-width=\"([0-9.]+)\""_s);
        const QString text = QString::fromUtf8(svg);
        QString scaled;
        qsizetype last = 0;
        for (const QRegularExpressionMatch& m : strokeWidth.globalMatch(text)) {
            scaled += QStringView(text).sliced(last, m.capturedStart() - last);
            scaled += u"stroke-width=\"%1\""_s.arg(m.captured(1).toDouble() * weight);
            last = m.capturedEnd();
        }
        scaled += QStringView(text).sliced(last);
        svg = scaled.toUtf8();
    }
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QSvgRenderer(svg).render(&painter, QRectF(0, 0, side, side));
    return image;
}
