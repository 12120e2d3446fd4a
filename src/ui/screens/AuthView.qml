import QtQuick

// Sign-in: the e-mail code and Google flows land here.
Item {
    Text {
        anchors.centerIn: parent
        text: "Sign in to Echoquill"
        font.pixelSize: 28
        color: "#2b1d14"
    }
}
