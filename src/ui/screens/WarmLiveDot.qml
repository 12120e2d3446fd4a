import QtQuick
import Echoquill.Ui

// A terracotta dot with a halo that grows and fades, over and over.
Item {
    id: dot
    property real size: 8
    // Only while its window is active and in use: every frame redraws the whole
    // window, which costs most of a core where OpenGL runs on the CPU.
    property bool animating: visible && Window.active && UserActivity.recent

    // Through one breath, from 0 to 1; at rest the halo stands half grown.
    property real phase: 0.25
    readonly property real swell: {
        const t = phase % 1 < 0.5 ? 2 * (phase % 1) : 2 - 2 * (phase % 1)
        return t < 0.5 ? 2 * t * t : 1 - Math.pow(2 - 2 * t, 2) / 2
    }

    width: size
    height: size

    Rectangle {
        id: halo
        anchors.centerIn: parent
        width: dot.size
        height: dot.size
        radius: width / 2
        color: EQPalette.terracotta
        scale: 1 + 1.2 * dot.swell
        opacity: 0.55 * (1 - dot.swell)
    }
    Rectangle {
        anchors.fill: parent
        radius: width / 2
        color: EQPalette.terracotta
    }
    RestingLoop {
        target: dot
        property: "phase"
        moving: dot.animating
        from: 0.25
        to: 1.25
        duration: 1600
    }
}
