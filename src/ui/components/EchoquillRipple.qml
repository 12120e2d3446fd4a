import QtQuick
import Echoquill.Ui

// The brand ripple: rings that grow from the centre and fade, three at a
// time, redrawn every frame while its window is active and in use; otherwise
// it holds its last frame.
Canvas {
    id: ripple
    property real size: 420
    property color color: EQPalette.terracotta
    // Each frame repaints the canvas and redraws the whole window, most of a core where OpenGL runs on the CPU.
    readonly property bool animating: visible && Window.active && UserActivity.recent

    width: size
    height: size

    FrameAnimation {
        running: ripple.animating
        onTriggered: ripple.requestPaint()
    }

    onPaint: {
        const ctx = getContext("2d")
        ctx.reset()
        const cx = width / 2
        const cy = height / 2
        ctx.lineWidth = 1.2
        for (const ring of RippleGeometry.rings(width)) {
            ctx.strokeStyle = EQPalette.withOpacity(color, ring.opacity * color.a)
            ctx.beginPath()
            ctx.arc(cx, cy, ring.radius, 0, 2 * Math.PI)
            ctx.stroke()
        }
        ctx.fillStyle = color
        ctx.beginPath()
        ctx.arc(cx, cy, 4, 0, 2 * Math.PI)
        ctx.fill()
    }
}
