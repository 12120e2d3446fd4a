import QtQuick
import Echoquill.Ui

// A terracotta dot with a halo that grows and fades, over and over.
Item {
    id: dot
    property real size: 8
    property bool animating: visible

    width: size
    height: size

    Rectangle {
        id: halo
        anchors.centerIn: parent
        width: dot.size
        height: dot.size
        radius: width / 2
        color: EQPalette.terracotta
        opacity: 0.55
        SequentialAnimation on scale {
            running: dot.animating
            loops: Animation.Infinite
            NumberAnimation { from: 1; to: 2.2; duration: 800; easing.type: Easing.InOutQuad }
            NumberAnimation { from: 2.2; to: 1; duration: 800; easing.type: Easing.InOutQuad }
        }
        SequentialAnimation on opacity {
            running: dot.animating
            loops: Animation.Infinite
            NumberAnimation { from: 0.55; to: 0; duration: 800; easing.type: Easing.InOutQuad }
            NumberAnimation { from: 0; to: 0.55; duration: 800; easing.type: Easing.InOutQuad }
        }
    }
    Rectangle {
        anchors.fill: parent
        radius: width / 2
        color: EQPalette.terracotta
    }
}
