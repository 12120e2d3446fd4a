import QtQuick
import Echoquill.Ui

// A round avatar: the picture at `imageURL` once it has loaded, otherwise the
// name's initials on the name's colour pair. With `glow`, a warm ring and halo.
Item {
    id: avatar

    property string name
    property real size: 28
    property var imageURL: null
    property bool glow: false

    width: size
    height: size

    EQShadow {
        anchors.fill: parent
        visible: avatar.glow
        radius: avatar.size / 2
        color: EQPalette.glowShadow
        blur: 8
    }

    Rectangle {
        anchors.fill: parent
        radius: avatar.size / 2
        color: EQAvatarStyle.background(avatar.name)
        visible: picture.status !== AvatarPicture.Ready

        Text {
            anchors.centerIn: parent
            text: EQAvatarStyle.initials(avatar.name)
            textFormat: Text.PlainText
            color: EQAvatarStyle.foreground(avatar.name)
            font: EQFonts.system(avatar.size * 0.38, Font.DemiBold)
        }
    }

    AvatarPicture {
        id: picture
        anchors.fill: parent
        source: avatar.imageURL ? avatar.imageURL : ""
    }

    Rectangle {
        anchors.fill: parent
        visible: avatar.glow
        radius: avatar.size / 2
        color: "transparent"
        border.width: 1
        border.color: EQPalette.glowRing
    }
}
