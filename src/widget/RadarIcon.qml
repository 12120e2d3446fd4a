pragma ComponentBehavior: Bound
import QtQuick

// Two rings that keep growing out of a dot and fading, half a beat apart.
Item {
    id: radar
    property color color
    property real phase1
    property real phase2: 0

    implicitWidth: 28
    implicitHeight: 28

    component Ring: Rectangle {
        required property real phase
        anchors.centerIn: parent
        width: 8 + 20 * phase
        height: width
        radius: width / 2
        color: "transparent"
        border.width: 1.2
        border.color: radar.color
        opacity: 1 - phase
    }

    Ring { phase: radar.phase1 }
    Ring { phase: radar.phase2 }
    Rectangle {
        anchors.centerIn: parent
        width: 6
        height: 6
        radius: 3
        color: radar.color
    }

    NumberAnimation on phase1 {
        running: radar.visible
        from: 0; to: 1; duration: 1800
        loops: Animation.Infinite
        easing.type: Easing.OutQuad
    }
    SequentialAnimation {
        running: radar.visible
        PauseAnimation { duration: 900 }
        NumberAnimation {
            target: radar; property: "phase2"
            from: 0; to: 1; duration: 1800
            loops: Animation.Infinite
            easing.type: Easing.OutQuad
        }
    }
}
