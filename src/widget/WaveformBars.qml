pragma ComponentBehavior: Bound
import QtQuick
import Echoquill.Widget

// Live level bars: each bar's height follows the level times its own
// multiplier, and silence still shows short bars.
Item {
    id: bars
    property real level: 0
    property int barCount: 0
    property var multipliers: []
    property real maxH: 22
    property real minH: 4
    // qmllint disable type
    // (qmllint 6.4 reads a method that returns a list as returning one number)
    readonly property list<real> heights: RecordingWidgetLayout.heights(level, multipliers, barCount, minH, maxH)
    // qmllint enable type

    implicitWidth: row.implicitWidth + 8
    implicitHeight: maxH

    Row {
        id: row
        anchors.centerIn: parent
        spacing: 3

        Repeater {
            model: bars.heights.length

            Rectangle {
                required property int index
                anchors.verticalCenter: parent.verticalCenter
                width: 3
                height: bars.heights[index] ?? bars.minH
                radius: 1.5
                gradient: Gradient {
                    GradientStop { position: 0; color: "#ffd9b0" }
                    GradientStop { position: 1; color: "#ffb481" }
                }
                Behavior on height {
                    NumberAnimation { duration: 120; easing.type: Easing.OutQuad }
                }
            }
        }
    }
}
