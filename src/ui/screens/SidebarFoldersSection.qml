pragma ComponentBehavior: Bound
import QtQuick
import Echoquill.Ui

// The folders: a header with a plus, then one coloured dot and name per folder.
Column {
    id: section
    property sidebarLook look
    property var folders: []
    property bool showsComingSoon: false

    spacing: 4

    Item {
        width: parent.width
        height: 22
        Text {
            x: 10
            anchors.verticalCenter: parent.verticalCenter
            text: "FOLDERS"
            color: section.look.sectionHeader
            font: EQFonts.text(10, Font.Medium, 1.4)
        }
        EQSymbol {
            objectName: "addFolder"
            Accessible.role: Accessible.Button
            Accessible.name: "New folder"
            Accessible.onPressAction: section.showsComingSoon = true
            KeyActivation.onActivated: section.showsComingSoon = true
            anchors.right: parent.right
            anchors.rightMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            name: "plus"
            size: 11
            color: section.look.sectionHeader
            HoverHandler { cursorShape: Qt.PointingHandCursor }
            TapHandler { onTapped: section.showsComingSoon = true }
            FocusRing { controlRadius: 4 }
        }
    }

    Text {
        x: 10
        width: parent.width - 20
        visible: section.showsComingSoon
        text: "Folders are coming soon."
        color: section.look.sectionHeader
        wrapMode: Text.Wrap
        EQTextStyle.role: "tiny"
    }

    Repeater {
        model: section.folders
        Item {
            id: folder
            required property var modelData
            width: parent.width
            height: 28
            Row {
                x: 10
                anchors.verticalCenter: parent.verticalCenter
                spacing: 10
                Rectangle {
                    anchors.verticalCenter: parent.verticalCenter
                    width: 8
                    height: 8
                    radius: 4
                    color: folder.modelData.color
                }
                Text {
                    anchors.verticalCenter: parent.verticalCenter
                    text: folder.modelData.name
                    textFormat: Text.PlainText
                    color: section.look.folderName
                    EQTextStyle.role: "bodySm"
                }
            }
        }
    }
}
