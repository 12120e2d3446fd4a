import QtQuick
import Echoquill.Ui

// A terracotta dot with a halo that grows and fades, over and over.
Item {
    id: dot
    property real size: 8
    // Only while its window is the active one: every frame redraws the whole
    // window, which costs most of a core where OpenGL runs on the CPU.
    property bool animating: visible && Window.active

    width: size
    height: size
    onAnimatingChanged: if (!animating) { halo.scale = 1; halo.opacity = 0.55 }

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
