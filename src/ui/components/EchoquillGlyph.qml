import QtQuick
import Echoquill.Ui

// The brand glyph: a dot in three concentric rings that fade outwards.
Canvas {
    id: glyph
    property real size: 48
    property color color: EQPalette.peach
    property bool glow: false

    width: size
    height: size
    onColorChanged: requestPaint()
    onGlowChanged: requestPaint()
    onSizeChanged: requestPaint()

    onPaint: {
        const ctx = getContext("2d")
        ctx.reset()
        const u = width / 60
        const cx = width / 2
        const cy = height / 2
        if (glow) {
            ctx.shadowColor = EQPalette.withOpacity(color, 0.55)
            ctx.shadowBlur = 6 * u
        }
        ctx.fillStyle = color
        ctx.beginPath()
        ctx.arc(cx, cy, 3 * u, 0, 2 * Math.PI)
        ctx.fill()
        const rings = [[9, 1.2, 0.85], [16, 1.1, 0.55], [23, 1.0, 0.30]]
        for (const [radius, line, opacity] of rings) {
            ctx.strokeStyle = EQPalette.withOpacity(color, opacity)
            ctx.lineWidth = line * u
            ctx.beginPath()
            ctx.arc(cx, cy, radius * u, 0, 2 * Math.PI)
            ctx.stroke()
        }
    }
}
