import QtQuick

// A small activity indicator in one colour.
Item {
    id: spinner
    property color color: "black"
    property real size: 16

    implicitWidth: size
    implicitHeight: size

    Canvas {
        id: arc
        anchors.fill: parent
        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            const line = Math.max(1.5, spinner.size / 9)
            ctx.lineWidth = line
            ctx.lineCap = "round"
            ctx.strokeStyle = spinner.color
            ctx.beginPath()
            ctx.arc(width / 2, height / 2, (Math.min(width, height) - line) / 2, 0, Math.PI * 1.5)
            ctx.stroke()
        }
        Connections {
            target: spinner
            function onColorChanged() { arc.requestPaint() }
        }
        RotationAnimation on rotation {
            from: 0
            to: 360
            duration: 900
            loops: Animation.Infinite
            running: spinner.visible
        }
    }
}
