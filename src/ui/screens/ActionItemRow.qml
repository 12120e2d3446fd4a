import QtQuick
import Echoquill.Ui

// One action item of a note: its check box, what is to be done, and who and when.
Row {
    id: row
    objectName: "ActionItemRow"
    required property string what
    required property string who
    required property string due
    required property bool done
    signal toggled()

    spacing: 10

    CheckCircle {
        objectName: "checkBox"
        y: 1
        size: 16
        markSize: 7
        checked: row.done
        Accessible.name: row.what
        onToggled: row.toggled()
    }
    Column {
        width: row.width - 26
        spacing: 3
        Text {
            width: parent.width
            wrapMode: Text.Wrap
            text: row.what
            textFormat: Text.PlainText
            color: row.done ? EQPalette.inkMuted : EQPalette.inkSecondary
            font: EQFonts.struck(EQFonts.text(13), row.done)
        }
        Row {
            spacing: 6
            Text {
                text: row.who
                textFormat: Text.PlainText
                color: EQPalette.terracottaText
                font: EQFonts.text(11, Font.Medium)
            }
            Text {
                visible: row.due.length > 0
                text: row.due
                textFormat: Text.PlainText
                color: EQPalette.inkMuted
                font: EQFonts.text(11, Font.Medium)
            }
        }
    }
}
