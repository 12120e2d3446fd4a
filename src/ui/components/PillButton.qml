import QtQuick
import Echoquill.Ui

// The capsule button of every screen, in three variants: "primary" (white,
// with a shadow), "ghost" (outlined) and "dark" (night surface). While
// loading it shows a spinner instead of its icon and label, and still reacts
// to clicks.
Item {
    id: pill

    property string label
    property string icon: ""
    property string variant: "primary"
    property bool isLoading: false
    signal activated()
    readonly property bool isPressed: press.pressed

    Accessible.role: Accessible.Button
    Accessible.name: label
    Accessible.onPressAction: pill.activated()
    KeyActivation.onActivated: pill.activated()

    readonly property color contentColor: variant === "primary" ? EQPalette.pillInk : EQPalette.nightText

    implicitWidth: Math.max(content.implicitWidth, spinner.implicitWidth) + 48
    implicitHeight: Math.max(content.implicitHeight, spinner.implicitHeight) + 24

    scale: isPressed ? 0.98 : 1.0
    Behavior on scale {
        NumberAnimation { duration: 160; easing.type: Easing.OutCubic }
    }

    EQShadow {
        anchors.fill: parent
        visible: pill.variant === "primary"
        radius: height / 2
        color: EQPalette.pillShadow
        blur: 7
        offsetY: 3
    }

    Rectangle {
        anchors.fill: parent
        radius: height / 2
        color: pill.variant === "primary" ? EQPalette.white
             : pill.variant === "dark" ? EQPalette.nightSurface : EQPalette.clear
        border.width: pill.variant === "primary" ? 0 : 1
        border.color: EQPalette.nightHairline
    }

    Row {
        id: content
        anchors.centerIn: parent
        spacing: 8
        visible: !pill.isLoading

        EQSymbol {
            anchors.verticalCenter: parent.verticalCenter
            visible: pill.icon !== ""
            name: pill.icon
            size: 14
            weight: 1.15
            color: pill.contentColor
            knockout: pill.variant === "primary" ? EQPalette.white : EQPalette.nightSurface
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: pill.label
            textFormat: Text.PlainText
            color: pill.contentColor
            EQTextStyle.role: "button"
        }
    }

    EQSpinner {
        id: spinner
        anchors.centerIn: parent
        visible: pill.isLoading
        size: 15
        color: pill.contentColor
    }

    MouseArea {
        id: press
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: pill.activated()
    }
    FocusRing { controlRadius: pill.height / 2 }
}
