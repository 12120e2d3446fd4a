import QtQuick
import Echoquill.Ui

// The glyph and the name side by side. The name's colour follows the theme
// of the surrounding views unless one is given.
Row {
    id: mark
    property real size: 22
    property var glyphColor: null
    property var textColor: null

    spacing: 8

    EchoquillGlyph {
        anchors.verticalCenter: parent.verticalCenter
        size: mark.size
        color: mark.glyphColor ? mark.glyphColor : EQPalette.peach
    }
    Text {
        anchors.verticalCenter: parent.verticalCenter
        text: "echoquill"
        color: mark.textColor ? mark.textColor
             : mark.EQThemeKey.theme === "golden" ? EQPalette.ink : EQPalette.nightText
        font: EQFonts.display(mark.size * 0.82, -0.3)
    }
}
