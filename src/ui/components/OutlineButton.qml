import QtQuick
import Echoquill.Ui

// A small capsule button drawn as an outline: the label in `color` on an
// outline in `outline`.
Item {
    id: button
    property string label
    property color color: EQPalette.ink
    property color outline: EQPalette.hairline
    signal activated()
    readonly property bool isHovered: hover.hovered

    Accessible.role: Accessible.Button
    Accessible.name: label
    Accessible.onPressAction: button.activated()
    KeyActivation.onActivated: button.activated()

    implicitWidth: text.implicitWidth + 28
    implicitHeight: text.implicitHeight + 14

    Rectangle {
        anchors.fill: parent
        radius: height / 2
        color: button.isHovered ? EQPalette.hairlineFaint : EQPalette.clear
        border.width: 1
        border.color: button.outline
        scale: press.pressed ? 0.98 : 1.0
        Behavior on scale { NumberAnimation { duration: 140; easing.type: Easing.OutCubic } }
    }
    Text {
        id: text
        anchors.centerIn: parent
        text: button.label
        textFormat: Text.PlainText
        color: button.color
        font: EQFonts.text(12, Font.Medium)
    }
    HoverHandler { id: hover; cursorShape: Qt.PointingHandCursor }
    MouseArea {
        id: press
        anchors.fill: parent
        onClicked: button.activated()
    }
    FocusRing { controlRadius: button.height / 2 }
}
