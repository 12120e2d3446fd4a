pragma ComponentBehavior: Bound
import QtQuick

// A short text whose digits all take the width of the widest one, so a
// running time does not jitter whatever font is installed.
Row {
    id: fixed
    property string text
    property font font
    property color color

    FontMetrics {
        id: metrics
        font: fixed.font
    }
    readonly property real digitWidth: Math.max(...Array.from("0123456789", d => metrics.advanceWidth(d)))

    Repeater {
        model: fixed.text.length

        Text {
            required property int index
            readonly property string character: fixed.text.charAt(index)
            text: character
            textFormat: Text.PlainText
            font: fixed.font
            color: fixed.color
            width: character >= "0" && character <= "9" ? fixed.digitWidth : implicitWidth
            horizontalAlignment: Text.AlignHCenter
        }
    }
}
