#pragma once

#include <QColor>
#include <QQuickPaintedItem>
#include <QString>
#include <QtQml/qqmlregistration.h>

// One symbol of the catalogue drawn in a colour, `size` points square:
// EQSymbol { name: "house"; size: 14; color: EQPalette.terracotta }.
class EQSymbol : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)
    Q_PROPERTY(qreal size READ size WRITE setSize NOTIFY sizeChanged)
    // What a filled symbol's inner mark is drawn in: the colour of the surface behind it.
    Q_PROPERTY(QColor knockout READ knockout WRITE setKnockout NOTIFY knockoutChanged)
    // Stroke weight of the drawing relative to its regular weight (medium ≈ 1.15, bold ≈ 1.4).
    Q_PROPERTY(qreal weight READ weight WRITE setWeight NOTIFY weightChanged)
    // False when the name is not in the catalogue.
    Q_PROPERTY(bool isKnown READ isKnown NOTIFY nameChanged)

public:
    explicit EQSymbol(QQuickItem* parent = nullptr);

    [[nodiscard]] QString name() const { return m_name; }
    void setName(const QString& name);
    [[nodiscard]] QColor color() const { return m_color; }
    void setColor(const QColor& color);
    [[nodiscard]] QColor knockout() const { return m_knockout; }
    void setKnockout(const QColor& color);
    [[nodiscard]] qreal size() const { return m_size; }
    void setSize(qreal size);
    [[nodiscard]] qreal weight() const { return m_weight; }
    void setWeight(qreal weight);
    [[nodiscard]] bool isKnown() const;

    void paint(QPainter* painter) override;

signals:
    void nameChanged();
    void colorChanged();
    void knockoutChanged();
    void sizeChanged();
    void weightChanged();

private:
    QString m_name;
    QColor m_color = Qt::black;
    QColor m_knockout = Qt::white;
    qreal m_size = 16;
    qreal m_weight = 1.0;
};
