import QtQuick
import Echoquill.Ui

// The round check box of an action item: an outline when open, a filled
// terracotta disc with a white check mark when done.
Item {
    id: box
    property bool checked: false
    property real size: 18
    property real markSize: 8
    signal toggled()

    Accessible.role: Accessible.CheckBox
    Accessible.checkable: true
    Accessible.checked: checked
    Accessible.onToggleAction: box.toggled()
    Accessible.onPressAction: box.toggled()
    KeyActivation.onActivated: box.toggled()

    width: size
    height: size

    Rectangle {
        anchors.fill: parent
        radius: width / 2
        color: box.checked ? EQPalette.terracotta : EQPalette.clear
        border.width: box.checked ? 0 : 1.5
        border.color: EQPalette.shade
    }
    EQSymbol {
        anchors.centerIn: parent
        visible: box.checked
        name: "checkmark"
        size: box.markSize
        weight: 1.4
        color: EQPalette.white
    }
    HoverHandler { cursorShape: Qt.PointingHandCursor }
    TapHandler {
        // A little larger than the disc, so a slightly missed click still counts.
        margin: 4
        onTapped: box.toggled()
    }
    FocusRing { controlRadius: box.width / 2 }
}
