import QtQuick

// The one main window; what it shows is decided by ContentView.
Window {
    id: window
    width: 1200
    height: 800
    minimumWidth: 960
    minimumHeight: 640
    visible: true
    title: "Echoquill"
    color: "#f6e3cf"

    ContentView {
        anchors.fill: parent
    }
}
