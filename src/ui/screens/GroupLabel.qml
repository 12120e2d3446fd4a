import QtQuick
import Echoquill.Ui

// The small spaced label over a group of rows ("PROCESSING", "Today", …).
Text {
    property int weight: Font.Medium
    textFormat: Text.PlainText
    color: EQPalette.inkMuted
    font: EQFonts.text(11, weight, 1.6)
}
