#include "EQSymbol.h"

#include "SymbolCatalog.h"
#include "SymbolImageCache.h"

#include <QPainter>
#include <QQmlEngine>
#include <QQmlInfo>

#include <cmath>

EQSymbol::EQSymbol(QQuickItem* parent)
    : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
    setImplicitSize(m_size, m_size);
}

void EQSymbol::setName(const QString& name)
{
    if (name == m_name)
        return;
    m_name = name;
    if (!name.isEmpty() && !isKnown())
        qmlWarning(this) << "no drawing for the symbol" << name;
    emit nameChanged();
    update();
}

void EQSymbol::setColor(const QColor& color)
{
    if (color == m_color)
        return;
    m_color = color;
    emit colorChanged();
    update();
}

void EQSymbol::setKnockout(const QColor& color)
{
    if (color == m_knockout)
        return;
    m_knockout = color;
    emit knockoutChanged();
    update();
}

void EQSymbol::setSize(qreal size)
{
    if (qFuzzyCompare(size, m_size))
        return;
    m_size = size;
    setImplicitSize(size, size);
    emit sizeChanged();
}

void EQSymbol::setWeight(qreal weight)
{
    if (qFuzzyCompare(weight, m_weight))
        return;
    m_weight = weight;
    emit weightChanged();
    update();
}

bool EQSymbol::isKnown() const
{
    return !SymbolCatalog::resourcePath(m_name).isEmpty();
}

void EQSymbol::paint(QPainter* painter)
{
    const qreal side = std::min(width(), height());
    // Drawn at the device's pixel size, so the cached image maps one to one.
    const QTransform device = painter->deviceTransform();
    const qreal scale = std::hypot(device.m11(), device.m12());
    const QImage image = SymbolImageCache::image(m_name, qRound(side * scale), m_color, m_knockout, m_weight);
    if (image.isNull())
        return;
    painter->setOpacity(m_color.alphaF());
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->drawImage(QRectF((width() - side) / 2, (height() - side) / 2, side, side), image);
}
