import QtQuick
import Echoquill.Ui

// One upcoming meeting: its day and time at the left, what and where in the
// middle, who is invited, and the meeting-bot switch at the right.
HoverCard {
    id: row
    objectName: "MeetingTimeRowView"
    property var meeting
    property bool botOn: false
    signal botFlipped(bool on)

    height: 68

    Column {
        id: timeColumn
        x: 18
        width: 72
        anchors.verticalCenter: parent.verticalCenter
        spacing: 2
        Text {
            visible: row.meeting.weekday.length > 0
            text: row.meeting.weekday
            textFormat: Text.PlainText
            color: EQPalette.terracottaText
            font: EQFonts.text(9, Font.DemiBold, 1.4)
        }
        Text {
            text: row.meeting.clock
            textFormat: Text.PlainText
            color: EQPalette.ink
            font: EQFonts.display(14)
        }
        Text {
            visible: row.meeting.duration.length > 0
            text: row.meeting.duration
            textFormat: Text.PlainText
            color: EQPalette.inkMuted
            font: EQFonts.text(9, Font.Normal, 1.2)
        }
    }
    Rectangle {
        id: rule
        anchors.left: timeColumn.right
        anchors.leftMargin: 4
        anchors.verticalCenter: parent.verticalCenter
        width: 1
        height: parent.height - 28
        color: EQPalette.hairline
    }
    Column {
        anchors.left: rule.right
        anchors.leftMargin: 16
        anchors.right: avatars.left
        anchors.rightMargin: 12
        anchors.verticalCenter: parent.verticalCenter
        spacing: 3
        Row {
            width: parent.width
            spacing: 8
            Text {
                id: title
                width: Math.min(implicitWidth, parent.width - (declined.visible ? declined.width + 8 : 0))
                elide: Text.ElideRight
                text: row.meeting.title
                textFormat: Text.PlainText
                color: EQPalette.ink
                font: EQFonts.text(14, Font.Medium)
            }
            Rectangle {
                id: declined
                objectName: "declinedTag"
                visible: row.meeting.declined
                anchors.verticalCenter: title.verticalCenter
                width: declinedText.implicitWidth + 12
                height: declinedText.implicitHeight + 4
                radius: height / 2
                color: EQPalette.hairline
                Text {
                    id: declinedText
                    anchors.centerIn: parent
                    text: "Declined"
                    color: EQPalette.inkMuted
                    font: EQFonts.text(10, Font.DemiBold)
                }
            }
        }
        Text {
            width: parent.width
            elide: Text.ElideRight
            text: row.meeting.location
            textFormat: Text.PlainText
            color: EQPalette.inkTertiary
            font: EQFonts.text(12)
        }
    }
    OverlappingAvatars {
        id: avatars
        anchors.right: botColumn.left
        anchors.rightMargin: 18
        anchors.verticalCenter: parent.verticalCenter
        names: row.meeting.people.slice(0, 4)
        size: 22
    }
    Column {
        id: botColumn
        anchors.right: parent.right
        anchors.rightMargin: 18
        anchors.verticalCenter: parent.verticalCenter
        spacing: 4
        BotToggleView {
            anchors.horizontalCenter: parent.horizontalCenter
            isOn: row.botOn
            meetingTitle: row.meeting.title
            onFlipped: (on) => row.botFlipped(on)
        }
        Text {
            objectName: "botLabel"
            anchors.horizontalCenter: parent.horizontalCenter
            text: row.botOn ? "AUTO" : "OFF"
            textFormat: Text.PlainText
            color: row.botOn ? EQPalette.terracottaText : EQPalette.inkMuted
            font: EQFonts.text(8, Font.DemiBold, 1)
        }
    }
}
