pragma ComponentBehavior: Bound
import QtQuick
import Echoquill.Ui

// Two parts, "Night" and "Golden"; the chosen one is raised.
Rectangle {
    id: switcher
    property sidebarLook look
    property var themes: []
    property string theme
    signal chosen(string key)

    implicitHeight: 30
    radius: height / 2
    color: look.switchTrack

    Row {
        anchors.fill: parent
        anchors.margins: 3
        Repeater {
            model: switcher.themes
            Rectangle {
                id: option
                required property var modelData
                readonly property bool isChosen: switcher.theme === modelData.key
                Accessible.role: Accessible.RadioButton
                Accessible.name: modelData.name + " theme"
                Accessible.checkable: true
                Accessible.checked: isChosen
                Accessible.onPressAction: switcher.chosen(modelData.key)
                KeyActivation.onActivated: switcher.chosen(modelData.key)
                width: parent.width / switcher.themes.length
                height: parent.height
                radius: height / 2
                color: isChosen ? switcher.look.switchThumb : EQPalette.clear
                Behavior on color { ColorAnimation { duration: 150 } }

                Text {
                    anchors.centerIn: parent
                    text: option.modelData.name
                    textFormat: Text.PlainText
                    color: parent.isChosen ? switcher.look.switchSelectedText : switcher.look.switchText
                    font: EQFonts.text(12, Font.Medium)
                }
                HoverHandler { cursorShape: Qt.PointingHandCursor }
                TapHandler { onTapped: switcher.chosen(option.modelData.key) }
                FocusRing { controlRadius: option.radius }
            }
        }
    }
}
