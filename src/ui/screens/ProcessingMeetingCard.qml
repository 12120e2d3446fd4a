import QtQuick
import Echoquill.Ui

// One recording being processed: its stage with a light band sweeping across
// the card, its length, the share of it sent while it uploads, and a way to
// dismiss it; a failed one can be tried again, and closing it asks whether to
// keep its files. Once its note is ready, the way to open it.
Item {
    id: card
    objectName: "ProcessingMeetingCard"

    required property string title
    required property string sourceLine
    required property string length
    required property string status
    required property string symbol
    required property bool isDone
    required property bool isFailed
    // 0…1 while the tracks upload; below 0 when there is nothing to show.
    required property real progress
    // The recording's files are on this computer, so closing a failed card asks about them.
    required property bool hasFiles
    property color accent: EQPalette.terracotta
    // The question "keep the files?" replaces the card's actions.
    property bool confirming: false
    signal dismissed()
    signal viewTranscript()
    signal retry()
    signal discard(bool keepFiles)

    implicitHeight: isDone ? done.implicitHeight + 36 : 68

    // Read out as the recording's title and its stage.
    Accessible.role: Accessible.Grouping
    Accessible.name: isDone ? title : "New recording"
    // Without a stage (another account's recording) the line that says whose it is.
    Accessible.description: status.length > 0 ? status : sourceLine

    Rectangle {
        id: frame
        anchors.fill: parent
        radius: 14
        color: EQPalette.peachLight
        border.width: 1
        border.color: EQPalette.withOpacity(card.accent, 0.25)
        clip: true

        // The sweeping band; it runs only while the card waits.
        Rectangle {
            id: band
            objectName: "shimmer"
            visible: !card.isDone
            width: 140
            height: parent.height
            gradient: Gradient {
                orientation: Gradient.Horizontal
                GradientStop { position: 0.0; color: EQPalette.clear }
                GradientStop { position: 0.5; color: EQPalette.withOpacity(EQPalette.white, 0.3) }
                GradientStop { position: 1.0; color: EQPalette.clear }
            }
            // Held still, like the other endless decorations, unless its window is active and in use.
            RestingLoop on x {
                moving: band.visible && card.visible && band.Window.active && UserActivity.recent
                from: -band.width
                to: frame.width
                duration: 1600
            }
        }
    }

    Item {
        anchors.fill: parent
        visible: !card.isDone

        Rectangle {
            id: badge
            x: 16
            anchors.verticalCenter: parent.verticalCenter
            width: 36
            height: 36
            radius: 18
            color: EQPalette.badge
            EQSymbol {
                objectName: "stageSymbol"
                anchors.centerIn: parent
                name: card.symbol
                size: 14
                weight: 1.15
                color: EQPalette.inkSecondary
                knockout: EQPalette.peachLight
            }
        }
        Column {
            anchors.left: badge.right
            anchors.leftMargin: 14
            anchors.right: trailing.left
            anchors.rightMargin: 14
            anchors.verticalCenter: parent.verticalCenter
            spacing: 3
            Text {
                text: card.confirming ? "Keep the recording's files?" : "New recording"
                textFormat: Text.PlainText
                color: EQPalette.ink
                font: EQFonts.text(14, Font.Medium)
            }
            Text {
                width: parent.width
                elide: Text.ElideRight
                text: card.sourceLine
                textFormat: Text.PlainText
                color: EQPalette.inkSecondary
                font: EQFonts.text(12)
            }
        }
        Row {
            id: trailing
            anchors.right: parent.right
            anchors.rightMargin: 16
            anchors.verticalCenter: parent.verticalCenter
            spacing: 14
            Column {
                anchors.verticalCenter: parent.verticalCenter
                visible: !card.confirming
                spacing: 4
                Text {
                    anchors.right: parent.right
                    objectName: "lengthText"
                    text: card.length
                    textFormat: Text.PlainText
                    color: EQPalette.withOpacity(EQPalette.inkSecondary, 0.7)
                    font: EQFonts.text(10, Font.DemiBold, 1.4)
                }
                Row {
                    anchors.right: parent.right
                    spacing: 6
                    Text {
                        objectName: "statusText"
                        text: card.status
                        textFormat: Text.PlainText
                        color: card.isFailed ? EQPalette.alert : card.accent
                        font: EQFonts.text(11, Font.Medium)
                    }
                    Text {
                        objectName: "progressText"
                        visible: card.progress >= 0
                        text: Math.floor(card.progress * 100) + "%"
                        textFormat: Text.PlainText
                        color: card.accent
                        font: EQFonts.text(11, Font.Medium)
                    }
                }
            }
            OutlineButton {
                objectName: "retry"
                anchors.verticalCenter: parent.verticalCenter
                visible: card.isFailed && card.hasFiles && !card.confirming
                label: "Retry"
                color: card.accent
                outline: EQPalette.withOpacity(card.accent, 0.4)
                onActivated: card.retry()
            }
            OutlineButton {
                id: keepFilesButton
                objectName: "keepFiles"
                anchors.verticalCenter: parent.verticalCenter
                visible: card.confirming
                label: "Keep"
                color: card.accent
                outline: EQPalette.withOpacity(card.accent, 0.4)
                onActivated: { card.confirming = false; card.discard(true) }
            }
            OutlineButton {
                objectName: "trashFiles"
                anchors.verticalCenter: parent.verticalCenter
                visible: card.confirming
                label: "Move to Trash"
                color: EQPalette.alert
                outline: EQPalette.alertSoft
                onActivated: { card.confirming = false; card.discard(false) }
            }
            Rectangle {
                id: dismissButton
                objectName: "dismiss"
                Accessible.role: Accessible.Button
                Accessible.name: "Dismiss"
                Accessible.onPressAction: card.close()
                KeyActivation.onActivated: card.close()
                anchors.verticalCenter: parent.verticalCenter
                visible: !card.confirming
                width: 26
                height: 26
                radius: 13
                color: EQPalette.badge
                Text {
                    anchors.centerIn: parent
                    text: "✕"
                    color: EQPalette.inkSecondary
                    font: EQFonts.text(11, Font.Medium)
                }
                HoverHandler { cursorShape: Qt.PointingHandCursor }
                TapHandler { onTapped: card.close() }
                FocusRing { controlRadius: 13 }
            }
        }

        // The share of both tracks sent, along the card's foot.
        Rectangle {
            objectName: "progressBar"
            visible: card.progress >= 0
            x: 14
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 6
            width: (parent.width - 28) * Math.max(0, Math.min(1, card.progress))
            height: 2
            radius: 1
            color: card.accent
        }
    }

    // "✕": a failed recording whose files are here asks first; every other card goes at once.
    function close() {
        if (card.isFailed && card.hasFiles)
            card.confirming = true
        else
            card.dismissed()
    }
    // The keyboard goes from ✕ to the question's first answer, and back with Escape, which keeps the card.
    onConfirmingChanged: if (confirming && dismissButton.activeFocus) keepFilesButton.forceActiveFocus()
    Keys.onEscapePressed: event => {
        event.accepted = confirming
        if (confirming) {
            confirming = false
            dismissButton.forceActiveFocus()
        }
    }

    Column {
        id: done
        x: 20
        y: 18
        width: parent.width - 40
        visible: card.isDone
        spacing: 6

        Rectangle {
            width: doneLabel.implicitWidth + 16
            height: doneLabel.implicitHeight + 6
            radius: height / 2
            color: card.accent
            Text {
                id: doneLabel
                anchors.centerIn: parent
                text: "DONE"
                color: EQPalette.white
                font: EQFonts.text(10, Font.DemiBold, 1.8)
            }
        }
        Text {
            width: parent.width
            elide: Text.ElideRight
            text: card.title
            textFormat: Text.PlainText
            color: EQPalette.ink
            font: EQFonts.display(18)
        }
        Text {
            text: "Your note is ready."
            color: EQPalette.inkSecondary
            font: EQFonts.text(12)
        }
        Item { width: 1; height: 4 }
        Rectangle {
            objectName: "viewTranscript"
            Accessible.role: Accessible.Button
            Accessible.name: viewLabel.text
            Accessible.onPressAction: card.viewTranscript()
            KeyActivation.onActivated: card.viewTranscript()
            width: viewLabel.implicitWidth + 28
            height: viewLabel.implicitHeight + 14
            radius: height / 2
            color: EQPalette.ink
            Text {
                id: viewLabel
                anchors.centerIn: parent
                text: "VIEW TRANSCRIPT →"
                color: EQPalette.cream
                font: EQFonts.text(11, Font.Bold, 0.8)
            }
            HoverHandler { cursorShape: Qt.PointingHandCursor }
            TapHandler { onTapped: card.viewTranscript() }
            FocusRing { controlRadius: parent.radius }
        }
    }
}
