import QtQuick
import Echoquill.Ui

// One recording being processed: its stage with a light band sweeping across
// the card, its length and a way to dismiss it; once its note is ready, the
// way to open it.
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
    property color accent: EQPalette.terracotta
    signal dismissed()
    signal viewTranscript()

    implicitHeight: isDone ? done.implicitHeight + 36 : 68

    // Read out as the recording's title and its stage.
    Accessible.role: Accessible.Grouping
    Accessible.name: isDone ? title : "New recording"
    Accessible.description: status

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
            NumberAnimation on x {
                from: -band.width
                to: frame.width
                duration: 1600
                loops: Animation.Infinite
                running: band.visible && card.visible
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
                text: "New recording"
                color: EQPalette.ink
                font: EQFonts.text(14, Font.Medium)
            }
            Text {
                width: parent.width
                elide: Text.ElideRight
                text: card.sourceLine
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
                spacing: 4
                Text {
                    anchors.right: parent.right
                    objectName: "lengthText"
                    text: card.length
                    color: EQPalette.withOpacity(EQPalette.inkSecondary, 0.7)
                    font: EQFonts.text(10, Font.DemiBold, 1.4)
                }
                Text {
                    anchors.right: parent.right
                    objectName: "statusText"
                    text: card.status
                    color: card.isFailed ? EQPalette.alert : card.accent
                    font: EQFonts.text(11, Font.Medium)
                }
            }
            Rectangle {
                objectName: "dismiss"
                Accessible.role: Accessible.Button
                Accessible.name: "Dismiss"
                Accessible.onPressAction: card.dismissed()
                anchors.verticalCenter: parent.verticalCenter
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
                TapHandler { onTapped: card.dismissed() }
            }
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
        }
    }
}
