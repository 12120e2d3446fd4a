#include "EQSymbol.h"

#include "SymbolCatalog.h"

#include <QPainter>
#include <QQmlEngine>
#include <QQmlInfo>
#include <QRegularExpression>
#include <QSvgRenderer>

EQSymbol::EQSymbol(QQuickItem *parent)
    : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
    setImplicitSize(m_size, m_size);
}

void EQSymbol::setName(const QString &name)
{
    if (name == m_name)
        return;
    m_name = name;
    if (!name.isEmpty() && !isKnown())
        qmlWarning(this) << "no drawing for the symbol" << name;
    emit nameChanged();
    update();
}

void EQSymbol::setColor(const QColor &color)
{
    if (color == m_color)
        return;
    m_color = color;
    emit colorChanged();
    update();
}

void EQSymbol::setKnockout(const QColor &color)
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

void EQSymbol::paint(QPainter *painter)
{
    QByteArray svg = SymbolCatalog::svg(m_name);
    if (svg.isEmpty())
        return;
    svg.replace("currentColor", m_color.name(QColor::HexRgb).toLatin1());
    svg.replace("knockoutColor", m_knockout.name(QColor::HexRgb).toLatin1());
    if (!qFuzzyCompare(m_weight, 1.0)) {
        // Scale every stroke-width="N" of the drawing.
        static const QRegularExpression strokeWidth(QStringLiteral("stroke-width=\"([0-9.]+)\""));
        QString text = QString::fromUtf8(svg);
        QString scaled;
        qsizetype last = 0;
        for (const QRegularExpressionMatch &m : strokeWidth.globalMatch(text)) {
            scaled += QStringView(text).sliced(last, m.capturedStart() - last);
            scaled += QStringLiteral("stroke-width=\"%1\"").arg(m.captured(1).toDouble() * m_weight);
            last = m.capturedEnd();
        }
        scaled += QStringView(text).sliced(last);
        svg = scaled.toUtf8();
    }
    QSvgRenderer renderer(svg);
    painter->setOpacity(m_color.alphaF());
    const qreal side = std::min(width(), height());
    renderer.render(painter, QRectF((width() - side) / 2, (height() - side) / 2, side, side));
}
