import QtQuick
import Echoquill.Ui

// The small spaced label over a group of rows ("PROCESSING", "Today", …).
Text {
    property int weight: Font.Medium
    color: EQPalette.inkMuted
    font: EQFonts.text(11, weight, 1.6)
}
