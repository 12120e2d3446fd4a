import QtQuick
import Echoquill.Ui

// One note in the list: who was there, the title with where it came from and
// when, and at the right its length and how long ago it was.
HoverCard {
    id: row
    objectName: "MeetingListRow"
    property string title
    property list<string> participants
    property string sourceLine
    property string duration
    property string relativeTime

    clickable: true
    Accessible.role: Accessible.Button
    Accessible.name: title
    Accessible.description: sourceLine + " · " + duration
    Accessible.onPressAction: clicked()
    height: 64

    // A column as wide as three avatars, so the titles line up.
    Item {
        id: avatarColumn
        x: 16
        width: 84
        height: parent.height
        OverlappingAvatars {
            anchors.verticalCenter: parent.verticalCenter
            names: row.participants
            size: 28
        }
    }
    Column {
        anchors.left: avatarColumn.right
        anchors.leftMargin: 8
        anchors.right: trailing.left
        anchors.rightMargin: 16
        anchors.verticalCenter: parent.verticalCenter
        spacing: 3
        Text {
            width: parent.width
            text: row.title
            textFormat: Text.PlainText
            elide: Text.ElideRight
            color: EQPalette.ink
            font: EQFonts.text(14, Font.Medium)
        }
        Text {
            width: parent.width
            text: row.sourceLine
            textFormat: Text.PlainText
            elide: Text.ElideRight
            color: EQPalette.inkTertiary
            font: EQFonts.text(12)
        }
    }
    Column {
        id: trailing
        anchors.right: parent.right
        anchors.rightMargin: 18
        anchors.verticalCenter: parent.verticalCenter
        spacing: 4
        Text {
            anchors.right: parent.right
            text: row.duration
            textFormat: Text.PlainText
            color: EQPalette.inkMuted
            font: EQFonts.text(10, Font.DemiBold, 1.4)
        }
        Text {
            anchors.right: parent.right
            text: row.relativeTime
            textFormat: Text.PlainText
            color: EQPalette.inkTertiary
            font: EQFonts.text(12)
        }
    }
}
