import QtQuick
import Echoquill.Ui

// A rounded card with the warm diagonal gradient (peach light at the top
// leading corner, apricot at 60 %, blush at the bottom trailing corner) and
// a thin outline. Children go inside like in any Item.
Item {
    id: card
    property real radius: 18
    property color outline: EQPalette.hairlineStrong
    default property alias content: inner.data

    Canvas {
        id: fill
        anchors.fill: parent
        onWidthChanged: requestPaint()
        onHeightChanged: requestPaint()
        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            const gradient = ctx.createLinearGradient(0, 0, width, height)
            gradient.addColorStop(0, EQPalette.peachLight)
            gradient.addColorStop(0.6, EQPalette.apricot)
            gradient.addColorStop(1, EQPalette.blush)
            ctx.fillStyle = gradient
            ctx.strokeStyle = card.outline
            ctx.lineWidth = 1
            ctx.beginPath()
            ctx.roundedRect(0.5, 0.5, width - 1, height - 1, card.radius, card.radius)
            ctx.fill()
            ctx.stroke()
        }
    }
    Item {
        id: inner
        anchors.fill: parent
    }
}
