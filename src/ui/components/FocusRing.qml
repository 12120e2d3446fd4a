import QtQuick
import Echoquill.Ui

// Where the keyboard is: a ring just outside the control that has the active
// focus. Every control that takes focus holds one.
Rectangle {
    // The control's own corner radius; the ring follows it at its distance.
    property real controlRadius: 8
    readonly property real gap: 3

    anchors.fill: parent
    anchors.margins: -gap
    radius: controlRadius + gap
    z: 100
    visible: parent.activeFocus
    color: EQPalette.clear
    border.width: 2
    border.color: EQPalette.focusRing
}
