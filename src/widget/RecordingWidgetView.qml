import QtQuick
import Echoquill.Ui
import Echoquill.Widget

// The capsule of the recording widget. It shows, in this order of priority,
// "Saved" after a stop, the running recording, a detected meeting, or a plain
// record button, and turns presses into calls on the recorder, the detector
// and the controller.
Item {
    id: view

    required property RecordingPanelController controller
    readonly property string widgetState: controller.state
    readonly property var detection: controller.detector.currentDetection

    // Pulses while a meeting is offered; cleared at once when it goes.
    readonly property bool detectedGlow: widgetState === "detected"
    property real glowPhase
    readonly property bool isHovering: capsuleHover.hovered || closeHover.hovered

    // The widget's own colours.
    readonly property color darkBg: EQPalette.ink
    readonly property color textPrimary: EQPalette.nightText
    readonly property color textMuted: EQPalette.withOpacity(EQPalette.nightText, 0.55)
    readonly property color amberAccent: EQPalette.peach
    readonly property color redDot: "#ff6b62"
    readonly property color glowColor: "#ff8c3a"
    readonly property color recordFill: "#2a1a0c"
    readonly property color recordDot: "#c4321f"
    readonly property color closeFill: "#2a2a2a"

    // The system font at a size in points, a weight and a letter spacing.
    function systemFont(size, weight, tracking) {
        const font = EQFonts.system(size, weight)
        font.letterSpacing = tracking || 0
        return font
    }

    SequentialAnimation on glowPhase {
        running: view.detectedGlow
        loops: Animation.Infinite
        NumberAnimation { from: 0; to: 1; duration: 1200; easing.type: Easing.InOutQuad }
        NumberAnimation { from: 1; to: 0; duration: 1200; easing.type: Easing.InOutQuad }
    }
    onDetectedGlowChanged: if (!detectedGlow) glowPhase = 0

    Item {
        id: capsule
        objectName: "capsule"
        anchors.centerIn: parent
        width: view.controller.capsuleWidth
        height: RecordingWidgetLayout.capsuleHeight

        Behavior on width {
            NumberAnimation {
                duration: RecordingWidgetLayout.capsuleSpringMs
                easing: RecordingWidgetLayout.capsuleSpring
            }
        }

        HoverHandler {
            id: capsuleHover
        }

        Rectangle {
            anchors.fill: parent
            radius: height / 2
            color: view.darkBg
            border.width: 1
            border.color: Qt.rgba(1, 1, 1, 0.10)
        }

        // The detected state's glowing edge, drawn inside the capsule.
        Rectangle {
            objectName: "glowEdge"
            anchors.fill: parent
            visible: view.detectedGlow
            radius: height / 2
            color: "transparent"
            border.width: 1.5
            border.color: view.glowColor
            opacity: 0.35 + 0.65 * view.glowPhase
            Rectangle {
                anchors.fill: parent
                anchors.margins: 1.5
                radius: height / 2
                color: "transparent"
                border.width: 3
                border.color: EQPalette.withOpacity(view.glowColor, 0.25)
            }
        }

        WindowDragArea {
            anchors.fill: parent
        }

        Item {
            anchors.fill: parent
            clip: true

            // Idle: one big record button.
            Item {
                id: idleRow
                objectName: "recordButton"
                visible: view.widgetState === "idle"
                Accessible.role: Accessible.Button
                Accessible.name: "Record"
                Accessible.onPressAction: view.controller.recorder.start()
                KeyActivation.onActivated: view.controller.recorder.start()
                anchors.centerIn: parent
                width: idleContent.implicitWidth
                height: parent.height

                Row {
                    id: idleContent
                    anchors.verticalCenter: parent.verticalCenter
                    leftPadding: 22
                    rightPadding: 26
                    spacing: 14

                    Item {
                        anchors.verticalCenter: parent.verticalCenter
                        width: 22
                        height: 22
                        Rectangle {
                            anchors.fill: parent
                            radius: width / 2
                            color: "transparent"
                            border.width: 1.6
                            border.color: Qt.rgba(1, 1, 1, 0.6)
                        }
                        Rectangle {
                            anchors.centerIn: parent
                            width: 12
                            height: 12
                            radius: width / 2
                            color: "white"
                        }
                    }
                    Text {
                        anchors.verticalCenter: parent.verticalCenter
                        text: "RECORD"
                        color: view.textPrimary
                        font: view.systemFont(14, Font.Bold, 1.8)
                    }
                }
                // The button fills the capsule, so dragging from it moves the panel too.
                WindowDragArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onTapped: view.controller.recorder.start()
                }
            }

            // Detected: the meeting's name, a record button and a dismiss button.
            Row {
                id: detectionRow
                visible: view.widgetState === "detected"
                anchors.centerIn: parent
                leftPadding: 16
                rightPadding: 10
                spacing: 10

                RadarIcon {
                    anchors.verticalCenter: parent.verticalCenter
                    color: view.amberAccent
                }
                Column {
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 2
                    Text {
                        text: "MEETING DETECTED"
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                        color: view.amberAccent
                        font: view.systemFont(9.5, Font.Bold, 1.6)
                    }
                    Text {
                        objectName: "meetingName"
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                        text: view.detection ? view.detection.displayName : ""
                        textFormat: Text.PlainText
                        color: view.textPrimary
                        font: view.systemFont(13, Font.Medium)
                        elide: Text.ElideRight
                        maximumLineCount: 1
                        width: Math.min(implicitWidth, 150)
                    }
                }
                Item {
                    objectName: "detectionRecordButton"
                    Accessible.role: Accessible.Button
                    Accessible.name: "Record"
                    Accessible.onPressAction: view.controller.recorder.start()
                    KeyActivation.onActivated: view.controller.recorder.start()
                    anchors.verticalCenter: parent.verticalCenter
                    width: recordContent.implicitWidth + 28
                    height: 30
                    Rectangle {
                        anchors.fill: parent
                        radius: height / 2
                        color: view.recordFill
                    }
                    Row {
                        id: recordContent
                        anchors.centerIn: parent
                        spacing: 6
                        Item {
                            anchors.verticalCenter: parent.verticalCenter
                            width: 7
                            height: 7
                            EQShadow {
                                anchors.fill: parent
                                radius: width / 2
                                color: EQPalette.withOpacity(view.recordDot, 0.6)
                                blur: 4
                            }
                            Rectangle {
                                anchors.fill: parent
                                radius: width / 2
                                color: view.recordDot
                            }
                        }
                        Text {
                            anchors.verticalCenter: parent.verticalCenter
                            text: "Record"
                            color: view.textPrimary
                            font: view.systemFont(12, Font.DemiBold, 0.4)
                        }
                    }
                    MouseArea {
                        anchors.fill: parent
                        cursorShape: Qt.PointingHandCursor
                        onClicked: view.controller.recorder.start()
                    }
                }
                Item {
                    objectName: "dismissDetectionButton"
                    Accessible.role: Accessible.Button
                    Accessible.name: "Dismiss meeting"
                    Accessible.onPressAction: view.controller.detector.dismissCurrentDetection()
                    KeyActivation.onActivated: view.controller.detector.dismissCurrentDetection()
                    anchors.verticalCenter: parent.verticalCenter
                    width: 26
                    height: 26
                    Rectangle {
                        anchors.fill: parent
                        radius: width / 2
                        color: Qt.rgba(1, 1, 1, 0.08)
                    }
                    EQSymbol {
                        anchors.centerIn: parent
                        name: "xmark"
                        size: 10
                        weight: 1.15
                        color: view.textMuted
                    }
                    MouseArea {
                        anchors.fill: parent
                        cursorShape: Qt.PointingHandCursor
                        onClicked: view.controller.detector.dismissCurrentDetection()
                    }
                }
            }

            // Recording: the blinking dot, the time, the level and the stop button.
            Row {
                id: recordingRow
                visible: view.widgetState === "recording"
                anchors.centerIn: parent
                leftPadding: 18
                rightPadding: 10
                spacing: 14

                Row {
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 7
                    BlinkingDot {
                        anchors.verticalCenter: parent.verticalCenter
                        color: view.redDot
                    }
                    Text {
                        anchors.verticalCenter: parent.verticalCenter
                        text: "REC"
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                        color: view.textPrimary
                        font: view.systemFont(11, Font.Bold, 1.4)
                    }
                }
                Column {
                    anchors.verticalCenter: parent.verticalCenter
                    FixedDigitsText {
                        objectName: "duration"
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                        text: view.controller.recorder.formattedDuration
                        color: view.textPrimary
                        font: EQFonts.display(15)
                    }
                    // Only when the disk holds less than two hours more, or the computer slept meanwhile.
                    Text {
                        objectName: "timeLeft"
                        visible: text !== ""
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                        text: {
                            const left = view.controller.recorder.timeLeft, slept = view.controller.recorder.sleepNotice
                            return left !== "" && slept !== "" ? left + " · " + slept : left + slept
                        }
                        textFormat: Text.PlainText
                        color: view.amberAccent
                        font: view.systemFont(9, Font.DemiBold)
                        elide: Text.ElideRight
                        width: Math.min(implicitWidth, 170)
                    }
                }
                WaveformBars {
                    objectName: "waveform"
                    visible: !view.controller.recorder.isReconnectingAudio && view.controller.recorder.captureWarning === ""
                             && !view.controller.meetingEnded
                    anchors.verticalCenter: parent.verticalCenter
                    level: view.controller.recorder.audioLevel
                    barCount: 7
                    multipliers: RecordingWidgetLayout.recordingMultipliers
                    maxH: 22
                    minH: 4
                }
                // Capture waits for the sound server: no level to show, and the speaker says nothing either.
                Text {
                    objectName: "reconnectingAudio"
                    visible: view.controller.recorder.isReconnectingAudio
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                    anchors.verticalCenter: parent.verticalCenter
                    text: "Reconnecting audio…"
                    color: view.amberAccent
                    font: view.systemFont(11, Font.DemiBold)
                }
                // A silent source, and for the computer's sound the device it plays on, with one tap to record that.
                Column {
                    objectName: "captureWarning"
                    visible: !view.controller.recorder.isReconnectingAudio && view.controller.recorder.captureWarning !== ""
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 2
                    Text {
                        text: view.controller.recorder.captureWarning
                        textFormat: Text.PlainText
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                        color: view.amberAccent
                        font: view.systemFont(10, Font.DemiBold)
                        // The device's name matters most: two lines before anything is cut.
                        wrapMode: Text.WordWrap
                        maximumLineCount: 2
                        elide: Text.ElideRight
                        width: Math.min(implicitWidth, 170)
                    }
                    Text {
                        objectName: "captureElsewhere"
                        visible: view.controller.recorder.canCaptureElsewhere
                        text: "Record it"
                        Accessible.role: Accessible.Button
                        Accessible.name: "Record the computer sound from there"
                        Accessible.onPressAction: view.controller.recorder.captureElsewhere()
                        KeyActivation.onActivated: view.controller.recorder.captureElsewhere()
                        color: view.textPrimary
                        font.underline: true
                        font.pointSize: 9
                        MouseArea {
                            anchors.fill: parent
                            cursorShape: Qt.PointingHandCursor
                            onClicked: view.controller.recorder.captureElsewhere()
                        }
                    }
                }
                // The meeting has gone: one tap stops, as the stop button does; the recording never stops by itself.
                Text {
                    objectName: "meetingEndedStop"
                    visible: !view.controller.recorder.isReconnectingAudio && view.controller.recorder.captureWarning === ""
                             && view.controller.meetingEnded
                    anchors.verticalCenter: parent.verticalCenter
                    text: "Meeting ended · Stop"
                    Accessible.role: Accessible.Button
                    Accessible.name: text
                    Accessible.onPressAction: view.controller.stop()
                    KeyActivation.onActivated: view.controller.stop()
                    color: view.amberAccent
                    font: view.systemFont(11, Font.DemiBold)
                    MouseArea {
                        anchors.fill: parent
                        cursorShape: Qt.PointingHandCursor
                        onClicked: view.controller.stop()
                    }
                }
                Item {
                    objectName: "systemAudio"
                    visible: !view.controller.recorder.isReconnectingAudio && view.controller.recorder.captureWarning === ""
                    readonly property bool available: view.controller.recorder.systemAudioAvailable
                    anchors.verticalCenter: parent.verticalCenter
                    width: 14
                    height: 14
                    EQSymbol {
                        anchors.centerIn: parent
                        name: "speaker.wave.2.fill"
                        size: 14
                        color: view.textPrimary
                        knockout: view.darkBg
                        opacity: parent.available ? 0.8 : 0
                        Behavior on opacity { NumberAnimation { duration: 300; easing.type: Easing.InQuad } }
                    }
                    EQSymbol {
                        anchors.centerIn: parent
                        name: "speaker.slash"
                        size: 14
                        color: view.textPrimary
                        opacity: parent.available ? 0 : 0.25
                        Behavior on opacity { NumberAnimation { duration: 300; easing.type: Easing.InQuad } }
                    }
                }
                Item {
                    objectName: "stopButton"
                    Accessible.role: Accessible.Button
                    Accessible.name: "Stop recording"
                    Accessible.onPressAction: view.controller.stop()
                    KeyActivation.onActivated: view.controller.stop()
                    anchors.verticalCenter: parent.verticalCenter
                    width: 32
                    height: 32
                    Rectangle {
                        anchors.fill: parent
                        radius: width / 2
                        color: Qt.rgba(1, 1, 1, 0.10)
                    }
                    Rectangle {
                        anchors.centerIn: parent
                        width: 11
                        height: 11
                        radius: 2.5
                        color: "white"
                    }
                    MouseArea {
                        anchors.fill: parent
                        cursorShape: Qt.PointingHandCursor
                        onClicked: view.controller.stop()
                    }
                }
            }

            // Notice: why the last recording did not start or had to stop; a tap puts it away.
            Row {
                objectName: "notice"
                visible: view.widgetState === "notice"
                anchors.centerIn: parent
                spacing: 10
                Rectangle {
                    anchors.verticalCenter: parent.verticalCenter
                    width: 18
                    height: 18
                    radius: width / 2
                    color: view.amberAccent
                    Text {
                        anchors.centerIn: parent
                        text: "!"
                        color: view.darkBg
                        font: view.systemFont(12, Font.Bold)
                    }
                }
                Text {
                    anchors.verticalCenter: parent.verticalCenter
                    text: view.controller.recorder.notice
                    textFormat: Text.PlainText
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                    color: view.textPrimary
                    font: view.systemFont(13, Font.Medium)
                    elide: Text.ElideRight
                    width: Math.min(implicitWidth, 290)
                }
                TapHandler {
                    onTapped: view.controller.recorder.clearNotice()
                }
            }

            // Saved: a short confirmation after a stop.
            Row {
                visible: view.widgetState === "saved"
                anchors.centerIn: parent
                spacing: 8
                EQSymbol {
                    anchors.verticalCenter: parent.verticalCenter
                    name: "checkmark.circle.fill"
                    size: 17
                    color: view.amberAccent
                    knockout: view.darkBg
                }
                Text {
                    anchors.verticalCenter: parent.verticalCenter
                    text: "Saved"
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                    color: view.textPrimary
                    font: view.systemFont(14, Font.Medium)
                }
            }
        }

        // Closes the widget; offered on hover, never during a recording or "Saved".
        Item {
            id: closeButton
            objectName: "closeButton"
            Accessible.role: Accessible.Button
            Accessible.name: "Close"
            Accessible.onPressAction: if (shown) view.controller.dismiss()
            KeyActivation.onActivated: if (shown) view.controller.dismiss()
            readonly property bool shown: view.isHovering && view.widgetState !== "recording"
                                          && view.widgetState !== "saved"
            x: parent.width - width + 6
            y: -6
            width: 20
            height: 20
            visible: opacity > 0
            opacity: shown ? 1 : 0
            scale: shown ? 1 : 0.7
            Behavior on opacity { NumberAnimation { duration: 150; easing.type: Easing.OutQuad } }
            Behavior on scale { NumberAnimation { duration: 150; easing.type: Easing.OutQuad } }

            HoverHandler {
                id: closeHover
            }
            Rectangle {
                anchors.fill: parent
                radius: width / 2
                color: view.closeFill
                border.width: 1
                border.color: Qt.rgba(1, 1, 1, 0.18)
            }
            EQSymbol {
                anchors.centerIn: parent
                name: "xmark"
                size: 8
                weight: 1.4
                color: Qt.rgba(1, 1, 1, 0.85)
            }
            MouseArea {
                anchors.fill: parent
                enabled: closeButton.shown
                onClicked: view.controller.dismiss()
            }
        }
    }
}
