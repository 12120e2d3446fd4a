import QtQuick
import Echoquill.Ui

// The top of the home, meetings and actions screens: today's date, the
// screen's title with room for a control at its right end, and one line under it.
Item {
    id: header
    property string title
    property string line
    property bool showsLine: true
    // Placed at the right end of the title row.
    default property alias trailing: trailingSlot.data

    implicitHeight: column.height

    Column {
        id: column
        width: parent.width
        spacing: 0

        Text {
            objectName: "dateLine"
            text: ScreenText.dateLine
            textFormat: Text.PlainText
            color: EQPalette.inkMuted
            font: EQFonts.text(11, Font.DemiBold, 1.6)
        }
        Item {
            width: parent.width
            height: Math.max(titleText.implicitHeight, trailingSlot.childrenRect.height)
            Text {
                id: titleText
                anchors.verticalCenter: parent.verticalCenter
                topPadding: 4
                text: header.title
                textFormat: Text.PlainText
                Accessible.role: Accessible.Heading
                Accessible.name: text
                color: EQPalette.ink
                font: EQFonts.display(32, -0.8)
            }
            Item {
                id: trailingSlot
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                width: childrenRect.width
                height: childrenRect.height
            }
        }
        Text {
            objectName: "headerLine"
            visible: header.showsLine
            topPadding: 6
            text: header.line
            textFormat: Text.PlainText
            color: EQPalette.inkTertiary
            font: EQFonts.text(13)
        }
    }
}
