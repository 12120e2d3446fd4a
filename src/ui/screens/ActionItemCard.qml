import QtQuick
import Echoquill.Ui

// One action item across meetings: its check box, what is to be done, and
// who, by when and from which meeting.
HoverCard {
    id: card
    objectName: "ActionItemCard"
    property string what
    property string who
    property string due
    property string meetingTitle
    property bool done: false
    signal toggled()

    height: texts.height + 30

    CheckCircle {
        id: box
        objectName: "checkBox"
        x: 18
        y: 17
        size: 18
        markSize: 8
        checked: card.done
        Accessible.name: card.what
        onToggled: card.toggled()
    }
    Column {
        id: texts
        anchors.left: box.right
        anchors.leftMargin: 14
        anchors.right: parent.right
        anchors.rightMargin: 18
        y: 15
        spacing: 5
        Text {
            objectName: "what"
            width: parent.width
            wrapMode: Text.Wrap
            text: card.what
            textFormat: Text.PlainText
            color: card.done ? EQPalette.inkMuted : EQPalette.ink
            font: EQFonts.struck(EQFonts.text(15, Font.Medium), card.done)
        }
        Row {
            width: parent.width
            Text {
                id: whoText
                text: card.who
                textFormat: Text.PlainText
                color: EQPalette.terracottaText
                font: EQFonts.text(11)
            }
            Text {
                objectName: "detailLine"
                width: parent.width - whoText.width
                elide: Text.ElideRight
                text: (card.due.length > 0 ? " · " + card.due : "") + " · " + card.meetingTitle
                textFormat: Text.PlainText
                color: EQPalette.inkTertiary
                font: EQFonts.text(11)
            }
        }
    }
}
