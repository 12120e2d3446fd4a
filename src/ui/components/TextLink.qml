import QtQuick
import Echoquill.Ui

// A plain text button.
Text {
    textFormat: Text.PlainText
    id: link
    signal activated()
    color: hover.hovered ? EQPalette.terracottaText : EQPalette.inkSecondary
    EQTextStyle.role: "bodySm"
    Accessible.role: Accessible.Button
    Accessible.name: text
    Accessible.onPressAction: link.activated()
    KeyActivation.onActivated: link.activated()

    HoverHandler { id: hover; cursorShape: Qt.PointingHandCursor }
    TapHandler { onTapped: link.activated() }
    FocusRing { controlRadius: 4 }
}
