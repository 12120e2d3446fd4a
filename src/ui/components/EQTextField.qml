import QtQuick
import Echoquill.Ui

// A single-line text field in a rounded, outlined frame with a placeholder.
// Edits by the user are reported through `edited`, Return or Enter through `submitted`.
Rectangle {
    id: field
    property alias text: input.text
    property string placeholder
    property string role: "body"
    property real horizontalPadding: 14
    property alias input: input
    property Component leading: null
    signal edited(string text)
    signal submitted()

    implicitHeight: 42
    implicitWidth: 240
    radius: 10
    color: EQPalette.white
    border.width: 1
    border.color: input.activeFocus ? EQPalette.terracottaSoft : EQPalette.hairline

    Loader {
        id: leadingItem
        anchors.left: parent.left
        anchors.leftMargin: field.leading ? field.horizontalPadding - 4 : 0
        anchors.verticalCenter: parent.verticalCenter
        sourceComponent: field.leading
    }

    FocusRing {
        visible: input.activeFocus
        controlRadius: field.radius
    }

    TextInput {
        id: input
        anchors.left: leadingItem.right
        anchors.leftMargin: field.leading ? 6 : field.horizontalPadding
        anchors.right: parent.right
        anchors.rightMargin: field.horizontalPadding
        anchors.verticalCenter: parent.verticalCenter
        color: EQPalette.ink
        selectionColor: EQPalette.terracottaSoft
        selectedTextColor: EQPalette.ink
        clip: true
        selectByMouse: true
        activeFocusOnTab: true
        EQTextStyle.role: field.role
        Accessible.role: Accessible.EditableText
        Accessible.name: field.placeholder
        onTextEdited: field.edited(text)
        Keys.onReturnPressed: field.submitted()
        Keys.onEnterPressed: field.submitted()

        Text {
            anchors.fill: parent
            verticalAlignment: Text.AlignVCenter
            visible: input.text.length === 0
            text: field.placeholder
            textFormat: Text.PlainText
            color: EQPalette.inkMuted
            font: input.font
            elide: Text.ElideRight
        }
    }
}
