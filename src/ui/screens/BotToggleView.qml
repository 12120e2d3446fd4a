import QtQuick
import Echoquill.Ui

// The meeting-bot switch: a small capsule, terracotta when on, with a white
// knob at its left or right end. A tap flips it unless it is disabled.
Item {
    id: toggle
    objectName: "BotToggleView"
    property bool isOn: false
    property bool disabled: false
    // The meeting the switch is for, in its accessible name.
    property string meetingTitle
    signal flipped(bool on)

    function flip() {
        if (!disabled)
            flipped(!isOn)
    }

    Accessible.role: Accessible.CheckBox
    Accessible.name: meetingTitle.length > 0 ? "Meeting bot for " + meetingTitle : "Meeting bot"
    Accessible.description: "Bot in room, " + (isOn ? "on" : "off")
    Accessible.checkable: true
    Accessible.checked: isOn
    Accessible.onToggleAction: flip()
    Accessible.onPressAction: flip()
    KeyActivation.onActivated: flip()

    width: 32
    height: 18
    opacity: disabled ? 0.5 : 1

    Rectangle {
        anchors.fill: parent
        radius: height / 2
        color: toggle.isOn ? EQPalette.terracotta : EQPalette.hairline
        Behavior on color { ColorAnimation { duration: 160 } }
    }
    Item {
        id: knob
        width: 14
        height: 14
        y: 2
        x: toggle.isOn ? toggle.width - width - 2 : 2
        Behavior on x { NumberAnimation { duration: 160; easing.type: Easing.OutCubic } }
        EQShadow {
            anchors.fill: parent
            radius: 7
            color: EQPalette.shade
            blur: 3
            offsetY: 1
        }
        Rectangle {
            anchors.fill: parent
            radius: 7
            color: EQPalette.white
        }
    }
    HoverHandler { cursorShape: toggle.disabled ? Qt.ArrowCursor : Qt.PointingHandCursor }
    TapHandler {
        enabled: !toggle.disabled
        onTapped: toggle.flip()
    }
    FocusRing { controlRadius: toggle.height / 2 }
}
