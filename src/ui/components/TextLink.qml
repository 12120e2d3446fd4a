import QtQuick
import Echoquill.Ui

// A plain text button.
Text {
    textFormat: Text.PlainText
    id: link
    property var action: null
    color: hover.hovered ? EQPalette.terracotta : EQPalette.inkSecondary
    EQTextStyle.role: "bodySm"
    Accessible.role: Accessible.Button
    Accessible.name: text
    Accessible.onPressAction: if (link.action) link.action()

    HoverHandler { id: hover; cursorShape: Qt.PointingHandCursor }
    TapHandler { onTapped: if (link.action) link.action() }
}
