import QtQuick
import Echoquill.Ui

// A small glowing dot that fades in and out while it is shown.
Item {
    id: dot
    property color color

    implicitWidth: 7
    implicitHeight: 7

    EQShadow {
        anchors.fill: parent
        radius: width / 2
        color: EQPalette.withOpacity(dot.color, 0.6)
        blur: 4
    }
    Rectangle {
        anchors.fill: parent
        radius: width / 2
        color: dot.color
    }

    SequentialAnimation on opacity {
        running: dot.visible
        loops: Animation.Infinite
        NumberAnimation { from: 1.0; to: 0.25; duration: 700; easing.type: Easing.InOutQuad }
        NumberAnimation { from: 0.25; to: 1.0; duration: 700; easing.type: Easing.InOutQuad }
    }
}
