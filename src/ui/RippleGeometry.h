#pragma once

#include <QList>
#include <QObject>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

class QJSEngine;
class QQmlEngine;

// The rings of the animated brand ripple at a moment: one cycle lasts three
// seconds and three rings run a third of a cycle apart, each growing from the
// centre outwards while it fades.
class RippleGeometry : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    struct Ring {
        qreal phase;
        qreal radius;
        qreal opacity;
    };

    static constexpr qreal cycleSeconds = 3.0;
    static constexpr int ringCount = 3;
    static constexpr qreal lineWidth = 1.2;
    static constexpr qreal dotSize = 8;

    // `seconds` is the wall-clock time; `width` the drawing's width.
    [[nodiscard]] static QList<Ring> ringsAt(double seconds, qreal width);

    static RippleGeometry* create(QQmlEngine*, QJSEngine*) { return new RippleGeometry; }

    // The rings now, as {radius, opacity} objects.
    Q_INVOKABLE QVariantList rings(qreal width) const;
};
