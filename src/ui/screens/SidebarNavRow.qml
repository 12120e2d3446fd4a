import QtQuick
import QtQuick.Controls.Basic
import Echoquill.Ui

// One place in the sidebar: its symbol and title; selected in terracotta on
// a light shade, hovered on a fainter one.
Rectangle {
    id: row
    property var item
    property bool isSelected: false
    // The key sequence that selects this place, shown in the tooltip.
    property string shortcut
    signal activated()
    property sidebarLook look
    readonly property bool isHovered: hover.hovered

    Accessible.role: Accessible.PageTab
    Accessible.name: item.title
    Accessible.selected: isSelected
    Accessible.onPressAction: row.activated()
    KeyActivation.isListItem: true
    KeyActivation.onActivated: row.activated()

    implicitHeight: 32
    radius: 8
    color: isSelected ? look.selectedBackground : isHovered ? look.hoverBackground : EQPalette.clear

    Row {
        anchors.left: parent.left
        anchors.leftMargin: 10
        anchors.verticalCenter: parent.verticalCenter
        spacing: 10

        EQSymbol {
            anchors.verticalCenter: parent.verticalCenter
            name: row.item.symbol
            size: 14
            color: row.isSelected ? row.look.selectedSymbol : row.look.rowSymbol
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: row.item.title
            textFormat: Text.PlainText
            color: row.isSelected ? row.look.selectedTitle : row.look.rowTitle
            font: EQFonts.text(13, row.isSelected ? Font.Medium : Font.Normal)
        }
    }

    ToolTip {
        visible: row.isHovered && row.shortcut.length > 0
        delay: 600
        text: row.item.title + " (" + row.shortcut + ")"
    }

    HoverHandler { id: hover; cursorShape: Qt.PointingHandCursor }
    TapHandler { onTapped: row.activated() }
    FocusRing { controlRadius: row.radius }
}
