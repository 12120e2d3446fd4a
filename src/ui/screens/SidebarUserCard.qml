import QtQuick
import Echoquill.Ui

// The signed-in user at the foot of the sidebar, with the gear to the profile.
Item {
    id: card
    objectName: "SidebarUserCard"
    property var user: null
    property sidebarLook look
    signal gearTap()

    implicitHeight: 48

    Rectangle {
        width: parent.width
        height: 1
        color: card.look.divider
    }

    EQAvatar {
        id: avatar
        x: 6
        anchors.verticalCenter: parent.verticalCenter
        anchors.verticalCenterOffset: 4
        size: 28
        name: card.user ? card.user.name : ""
        imageURL: card.user ? card.user.googlePicture : null
    }
    Text {
        anchors.left: avatar.right
        anchors.leftMargin: 10
        anchors.right: gear.left
        anchors.rightMargin: 2
        anchors.verticalCenter: avatar.verticalCenter
        text: card.user ? card.user.name : ""
        textFormat: Text.PlainText
        color: card.look.userName
        elide: Text.ElideRight
        font: EQFonts.text(13, Font.Medium)
    }
    Item {
        id: gear
        objectName: "gear"
        Accessible.role: Accessible.Button
        Accessible.name: "Profile"
        Accessible.onPressAction: card.gearTap()
        KeyActivation.onActivated: card.gearTap()
        anchors.right: parent.right
        anchors.verticalCenter: avatar.verticalCenter
        width: 28
        height: 28
        EQSymbol {
            anchors.centerIn: parent
            name: "gearshape"
            size: 13
            color: card.look.gear
        }
        HoverHandler { cursorShape: Qt.PointingHandCursor }
        TapHandler { onTapped: card.gearTap() }
        FocusRing { controlRadius: 6 }
    }
}
