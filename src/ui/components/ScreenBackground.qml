import QtQuick
import Echoquill.Ui

// The warm vertical gradient behind the main screens: deep cream at the top,
// cream at 60 %, rose at the bottom.
Rectangle {
    gradient: Gradient {
        GradientStop { position: 0.0; color: EQPalette.creamDeep }
        GradientStop { position: 0.6; color: EQPalette.cream }
        GradientStop { position: 1.0; color: EQPalette.rose }
    }
}
