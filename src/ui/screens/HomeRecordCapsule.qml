import QtQuick
import QtQuick.Controls.Basic
import Echoquill.Ui

// The record control on the home screen's title row: "Record" when idle,
// "Recording" while a recording runs, "Saved" for a moment after a stop.
Item {
    id: capsule
    objectName: "HomeRecordCapsule"
    // Shared with the main window's Ctrl+R, which starts and stops the same way.
    required property RecordingActions actions
    readonly property bool showSaved: actions.showSaved
    readonly property bool isRecording: !!actions.recorder && actions.recorder.isRecording
    readonly property string mode: showSaved ? "saved" : isRecording ? "recording" : "idle"

    Accessible.role: Accessible.Button
    Accessible.name: isRecording ? "Stop recording" : "Start recording"
    Accessible.onPressAction: actions.toggle()
    KeyActivation.onActivated: actions.toggle()

    readonly property color darkBg: EQPalette.ink
    readonly property color textPrimary: EQPalette.nightText
    readonly property color redDot: EQPalette.recordRed
    readonly property color amberAccent: EQPalette.peach

    implicitWidth: content.implicitWidth + 32
    implicitHeight: 36
    width: implicitWidth
    height: implicitHeight
    Behavior on width { SpringAnimation { spring: 3; damping: 0.3; epsilon: 0.25 } }

    Rectangle {
        anchors.fill: parent
        radius: height / 2
        color: capsule.darkBg
        border.width: capsule.mode === "recording" ? 1 : 0
        border.color: EQPalette.withOpacity(capsule.redDot, 0.6)
        scale: press.pressed ? 0.97 : 1
        Behavior on scale { SpringAnimation { spring: 4; damping: 0.35 } }
    }

    Row {
        id: content
        anchors.centerIn: parent
        spacing: 8

        Item {
            anchors.verticalCenter: parent.verticalCenter
            width: 14
            height: 14
            visible: capsule.mode !== "saved"
            Rectangle {
                id: dot
                objectName: "recordDot"
                anchors.centerIn: parent
                width: capsule.mode === "recording" ? 10 : 8
                height: width
                radius: capsule.mode === "recording" ? 2 : width / 2
                color: capsule.redDot
                Behavior on width { SpringAnimation { spring: 4; damping: 0.35 } }
                SequentialAnimation on opacity {
                    running: capsule.mode === "recording"
                    loops: Animation.Infinite
                    NumberAnimation { to: 0.35; duration: 700; easing.type: Easing.InOutQuad }
                    NumberAnimation { to: 1; duration: 700; easing.type: Easing.InOutQuad }
                    // Stopped halfway through a pulse, the dot is lit again.
                    onRunningChanged: if (!running) dot.opacity = 1
                }
            }
        }
        EQSymbol {
            anchors.verticalCenter: parent.verticalCenter
            visible: capsule.mode === "saved"
            name: "checkmark.circle.fill"
            size: 14
            color: capsule.amberAccent
            knockout: capsule.darkBg
        }
        Text {
            objectName: "capsuleLabel"
            anchors.verticalCenter: parent.verticalCenter
            text: capsule.mode === "saved" ? "Saved" : capsule.mode === "recording" ? "Recording" : "Record"
            textFormat: Text.PlainText
            color: capsule.mode === "saved" ? capsule.amberAccent : capsule.textPrimary
            font: EQFonts.text(13, capsule.mode === "idle" ? Font.DemiBold : Font.Medium)
        }
    }

    MouseArea {
        id: press
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: capsule.actions.toggle()
    }
    FocusRing { controlRadius: capsule.height / 2 }
    ToolTip {
        visible: press.containsMouse
        delay: 600
        text: (capsule.isRecording ? "Stop recording" : "Start recording") + " (Ctrl+R)"
    }
}
