import QtQuick

// A see-through area that lets the user drag the window it sits in. A press
// that does not move is a tap, so the area can be a button as well.
MouseArea {
    id: area

    signal tapped()
    // How far the pointer goes before a press becomes a drag.
    property real dragThreshold: 3
    property point pressedAt
    property bool isDragging: false

    acceptedButtons: Qt.LeftButton
    onPressed: mouse => {
        pressedAt = Qt.point(mouse.x, mouse.y)
        isDragging = false
    }
    onPositionChanged: mouse => {
        if (isDragging || !pressed || !Window.window)
            return
        if (Math.hypot(mouse.x - pressedAt.x, mouse.y - pressedAt.y) >= dragThreshold) {
            isDragging = true
            Window.window.startSystemMove()
        }
    }
    onClicked: if (!isDragging) tapped()
}
