import QtQuick

// A number animated from `from` to `to` over and over while `moving`, held
// where it stands otherwise and taken up again from there: a decoration at rest
// keeps the look of one of its frames and costs no frames at all.
NumberAnimation {
    property bool moving: false

    loops: Animation.Infinite
    running: false
    onMovingChanged: follow()
    Component.onCompleted: follow()

    function follow() {
        if (moving && paused)
            resume()
        else if (moving && !running)
            start()
        else if (!moving && running && !paused)
            pause()
    }
}
