import QtQuick
import Echoquill.Ui

// A thin terracotta ring that widens while it fades, over and over, `delay`
// seconds behind a ring without one.
Rectangle {
    id: ring
    property real delay: 0
    // Only while its window is active and in use: every frame redraws the whole
    // window, which costs most of a core where OpenGL runs on the CPU.
    property bool animating: visible && Window.active && UserActivity.recent

    // Through one widening, from 0 to 1; at rest the rings stand where they are
    // 1 s into their cycle, so they keep their spacing.
    property real phase: ((1.0 - delay) / 2.4 + 1) % 1
    readonly property real eased: 1 - Math.pow(1 - phase % 1, 3)
    // Grows by its size rather than by scaling, so the line stays one crisp point wide.
    readonly property real growth: 1 + 5 * eased
    width: 30 * growth
    height: width
    radius: width / 2
    color: EQPalette.clear
    border.width: 1
    border.color: EQPalette.withOpacity(EQPalette.terracotta, 0.35)
    opacity: 1 - eased

    RestingLoop on phase {
        moving: ring.animating
        from: ((1.0 - ring.delay) / 2.4 + 1) % 1
        to: from + 1
        duration: 2400
    }
}
