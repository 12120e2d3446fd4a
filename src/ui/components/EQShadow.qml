import QtQuick

// A soft shadow under a rounded shape, painted on a canvas so it renders
// without shader effects. Place it before the shape, filling the same area.
Canvas {
    id: shadow
    property color color: "black"
    property real radius: 0          // corner radius of the shape
    property real blur: 7
    property real offsetY: 0

    anchors.margins: -(blur * 2 + Math.abs(offsetY))
    onColorChanged: requestPaint()
    onBlurChanged: requestPaint()
    onOffsetYChanged: requestPaint()
    onRadiusChanged: requestPaint()
    onWidthChanged: requestPaint()
    onHeightChanged: requestPaint()

    onPaint: {
        const ctx = getContext("2d")
        ctx.reset()
        const inset = -anchors.margins
        const w = width - 2 * inset
        const h = height - 2 * inset
        const r = Math.min(radius, w / 2, h / 2)
        ctx.shadowColor = color
        ctx.shadowBlur = blur
        ctx.shadowOffsetY = offsetY
        ctx.fillStyle = color
        ctx.beginPath()
        ctx.roundedRect(inset, inset, w, h, r, r)
        ctx.fill()
    }
}
