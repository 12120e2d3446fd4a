pragma ComponentBehavior: Bound
import QtQuick
import Echoquill.Ui

// The meeting running now, large: what it is, where, who is in it, a way to
// join it and the meeting-bot switch, on the warm card with widening rings.
WarmCard {
    id: hero
    objectName: "LiveHeroView"
    property var meeting
    property bool botOn: false
    signal botFlipped(bool on)
    signal openMeeting()

    radius: 20
    implicitHeight: column.height + 48
    clip: true

    Item {
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.rightMargin: 70
        anchors.topMargin: 56
        Repeater {
            model: 3
            RippleRing {
                required property int index
                x: -width / 2
                y: -height / 2
                delay: index * 0.8
            }
        }
    }

    Column {
        id: column
        x: 28
        y: 24
        width: parent.width - 56
        spacing: 10

        Row {
            spacing: 8
            WarmLiveDot {
                anchors.verticalCenter: parent.verticalCenter
                size: 7
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: "LIVE · JOINING NOW"
                color: EQPalette.terracottaText
                font: EQFonts.text(10, Font.DemiBold, 1.8)
            }
        }
        Text {
            width: parent.width - 120
            wrapMode: Text.Wrap
            text: hero.meeting.title
            textFormat: Text.PlainText
            color: EQPalette.ink
            font: EQFonts.display(26, -0.4)
        }
        Text {
            objectName: "liveLine"
            width: parent.width
            elide: Text.ElideRight
            text: hero.meeting.liveLine
            textFormat: Text.PlainText
            color: EQPalette.inkSecondary
            font: EQFonts.text(13)
        }
        Text {
            visible: hero.meeting.snippet.length > 0
            width: parent.width
            wrapMode: Text.Wrap
            text: "\u201c" + hero.meeting.snippet + "\u201d"
            textFormat: Text.PlainText
            color: EQPalette.inkSecondary
            font.family: EQFonts.text(13).family
            font.pixelSize: 13
            font.italic: true
        }
        Item {
            width: parent.width
            height: Math.max(open.height, botColumn.height) + 6
            Row {
                anchors.left: parent.left
                anchors.verticalCenter: parent.verticalCenter
                spacing: 14
                WarmPillButtonStyle {
                    id: open
                    anchors.verticalCenter: parent.verticalCenter
                    label: "Open meeting"
                    fill: EQPalette.ink
                    onActivated: hero.openMeeting()
                }
                OverlappingAvatars {
                    anchors.verticalCenter: parent.verticalCenter
                    names: hero.meeting.people.slice(0, 4)
                    size: 26
                    borderColor: EQPalette.apricot
                }
            }
            Row {
                id: botColumn
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                spacing: 10
                Text {
                    anchors.verticalCenter: parent.verticalCenter
                    text: "BOT IN ROOM"
                    color: EQPalette.terracottaText
                    font: EQFonts.text(10, Font.DemiBold, 1.4)
                }
                BotToggleView {
                    anchors.verticalCenter: parent.verticalCenter
                    isOn: hero.botOn
                    meetingTitle: hero.meeting.title
                    onFlipped: (on) => hero.botFlipped(on)
                }
            }
        }
    }
}
