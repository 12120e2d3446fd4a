#pragma once

#include <QColor>
#include <QImage>
#include <QString>

// Symbol drawings prepared once per symbol, pixel size, tint and stroke
// weight: the tints put into the SVG text, the strokes scaled, the text parsed
// and drawn into an image. Painting a symbol again is then one image copy.
// Safe from any thread (each window paints on its own render thread).
class SymbolImageCache {
public:
    // `side` pixels square; the colours' alpha is left to the painter. Null for an unknown symbol.
    [[nodiscard]] static QImage image(
        const QString& symbolName, int side, const QColor& color, const QColor& knockout, qreal weight = 1.0);
    // How many drawings have been prepared so far, cached or not.
    [[nodiscard]] static int preparedCount();

private:
    [[nodiscard]] static QImage prepare(
        const QString& symbolName, int side, const QColor& color, const QColor& knockout, qreal weight);
};
