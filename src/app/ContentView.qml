import QtQuick
import Echoquill.Shared
import Echoquill.Ui

// The gate: sign-in screens while the session store has no user, the main
// application once it has one. The Loader keeps the screen while the user is
// replaced by a fresh record, and swaps it only when presence changes.
Item {
    id: root

    implicitWidth: 960
    implicitHeight: 640

    Loader {
        anchors.fill: parent
        sourceComponent: AuthStore.currentUser ? mainApp : auth
    }
    Component { id: auth; AuthView { } }
    Component { id: mainApp; MainAppView { } }
}
