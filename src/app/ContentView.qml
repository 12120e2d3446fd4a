import QtQuick
import Echoquill.Ui

// The gate: sign-in screens until the session store has a user, the main
// application after. Until the session store exists there is no user.
Item {
    id: root
    property var currentUser: null

    implicitWidth: 960
    implicitHeight: 640

    Loader {
        anchors.fill: parent
        sourceComponent: root.currentUser ? mainApp : auth
    }
    Component { id: auth; AuthView { } }
    Component { id: mainApp; MainAppView { } }
}
