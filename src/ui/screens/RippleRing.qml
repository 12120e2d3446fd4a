import QtQuick
import Echoquill.Ui

// A thin terracotta ring that widens while it fades, starting after `delay`
// seconds and repeating forever.
Rectangle {
    id: ring
    property real delay: 0
    // Only while its window is the active one: every frame redraws the whole
    // window, which costs most of a core where OpenGL runs on the CPU.
    property bool animating: visible && Window.active

    // Grows by its size rather than by scaling, so the line stays one crisp point wide.
    property real growth: 1
    width: 30 * growth
    height: width
    radius: width / 2
    color: EQPalette.clear
    border.width: 1
    border.color: EQPalette.withOpacity(EQPalette.terracotta, 0.35)
    opacity: 0

    Timer {
        interval: Math.max(1, ring.delay * 1000)
        running: ring.animating
        onTriggered: pulse.start()
    }
    ParallelAnimation {
        id: pulse
        loops: Animation.Infinite
        NumberAnimation { target: ring; property: "growth"; from: 1; to: 6; duration: 2400; easing.type: Easing.OutCubic }
        NumberAnimation { target: ring; property: "opacity"; from: 1; to: 0; duration: 2400; easing.type: Easing.OutCubic }
    }
    onAnimatingChanged: if (!animating) { pulse.stop(); opacity = 0 }
}
