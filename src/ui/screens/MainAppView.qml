import QtQuick

// The signed-in application: sidebar and the selected screen.
Item {
    Text {
        anchors.centerIn: parent
        text: "Echoquill"
        font.pixelSize: 28
        color: "#2b1d14"
    }
}
