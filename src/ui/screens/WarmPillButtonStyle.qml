import QtQuick
import Echoquill.Ui

// The home screen's warm capsule button ("Open meeting", "Connect Calendar",
// "Reconnect"): white text on terracotta, pressed a little smaller and darker.
Item {
    id: button
    property string label
    property string icon: ""
    property color fill: EQPalette.terracotta
    signal activated()
    readonly property bool isPressed: press.pressed

    Accessible.role: Accessible.Button
    Accessible.name: label
    Accessible.onPressAction: button.activated()
    KeyActivation.onActivated: button.activated()

    implicitWidth: content.implicitWidth + 32
    implicitHeight: content.implicitHeight + 16
    scale: isPressed ? 0.97 : 1.0
    Behavior on scale { NumberAnimation { duration: 140; easing.type: Easing.OutCubic } }

    Rectangle {
        anchors.fill: parent
        radius: height / 2
        color: button.isPressed ? Qt.darker(button.fill, 1.12) : button.fill
    }
    Row {
        id: content
        anchors.centerIn: parent
        spacing: 6
        EQSymbol {
            anchors.verticalCenter: parent.verticalCenter
            visible: button.icon !== ""
            name: button.icon
            size: 12
            color: EQPalette.white
            knockout: button.fill
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: button.label
            textFormat: Text.PlainText
            color: EQPalette.white
            font: EQFonts.text(12, Font.DemiBold)
        }
    }
    MouseArea {
        id: press
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: button.activated()
    }
    FocusRing { controlRadius: button.height / 2 }
}
