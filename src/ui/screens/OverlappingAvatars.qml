pragma ComponentBehavior: Bound
import QtQuick
import Echoquill.Ui

// People as a short stack of avatars, each ringed in the colour behind it.
Row {
    id: stack
    property list<string> names
    property real size: 24
    property color borderColor: EQPalette.white

    // Little enough overlap that the initials of the avatar underneath stay readable.
    spacing: -size * 0.2

    Repeater {
        model: stack.names
        Rectangle {
            required property string modelData
            required property int index
            z: stack.names.length - index
            width: stack.size + 3
            height: width
            radius: width / 2
            color: stack.borderColor
            EQAvatar {
                anchors.centerIn: parent
                size: stack.size
                name: parent.modelData
            }
        }
    }
}
