import QtQuick
import Echoquill.Ui

// A recording whose client stopped without finishing it, repaired from what
// reached the disk: its date and length, and the choice to upload it or to
// discard it (after a confirmation, to the desktop's trash).
Item {
    id: card
    objectName: "InterruptedRecordingCard"

    required property string date
    required property string length
    property color accent: EQPalette.terracotta
    // Set when discarding failed; the card stays.
    property string problem: ""
    property bool confirming: false
    signal upload()
    signal discard()

    implicitHeight: 68
    Accessible.role: Accessible.Grouping
    Accessible.name: "Interrupted recording"
    Accessible.description: date

    Rectangle {
        anchors.fill: parent
        radius: 14
        color: EQPalette.peachLight
        border.width: 1
        border.color: EQPalette.withOpacity(card.accent, 0.25)
    }

    Rectangle {
        id: badge
        x: 16
        anchors.verticalCenter: parent.verticalCenter
        width: 36
        height: 36
        radius: 18
        color: EQPalette.badge
        EQSymbol {
            anchors.centerIn: parent
            name: "arrow.clockwise"
            size: 14
            weight: 1.15
            color: EQPalette.inkSecondary
            knockout: EQPalette.peachLight
        }
    }
    Column {
        anchors.left: badge.right
        anchors.leftMargin: 14
        anchors.right: actions.left
        anchors.rightMargin: 14
        anchors.verticalCenter: parent.verticalCenter
        spacing: 3
        Text {
            text: card.confirming ? "Move this recording to the trash?" : "Interrupted recording"
            textFormat: Text.PlainText
            color: EQPalette.ink
            font: EQFonts.text(14, Font.Medium)
        }
        Text {
            objectName: "dateText"
            width: parent.width
            elide: Text.ElideRight
            text: card.problem.length > 0 ? card.problem : card.date
            textFormat: Text.PlainText
            color: card.problem.length > 0 ? EQPalette.alert : EQPalette.inkSecondary
            font: EQFonts.text(12)
        }
    }
    Row {
        id: actions
        anchors.right: parent.right
        anchors.rightMargin: 16
        anchors.verticalCenter: parent.verticalCenter
        spacing: 10
        Text {
            objectName: "lengthText"
            anchors.verticalCenter: parent.verticalCenter
            visible: !card.confirming
            text: card.length
            textFormat: Text.PlainText
            color: EQPalette.withOpacity(EQPalette.inkSecondary, 0.7)
            font: EQFonts.text(10, Font.DemiBold, 1.4)
        }
        OutlineButton {
            objectName: "upload"
            anchors.verticalCenter: parent.verticalCenter
            label: card.confirming ? "Keep" : "Upload"
            color: card.accent
            outline: EQPalette.withOpacity(card.accent, 0.4)
            onActivated: card.confirming ? card.confirming = false : card.upload()
        }
        OutlineButton {
            objectName: "discard"
            anchors.verticalCenter: parent.verticalCenter
            label: "Discard"
            color: EQPalette.alert
            outline: EQPalette.alertSoft
            onActivated: card.confirming ? (card.confirming = false, card.discard()) : card.confirming = true
        }
    }
}
