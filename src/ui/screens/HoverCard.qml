import QtQuick
import Echoquill.Ui

// A white rounded card with a thin outline; under the pointer its outline
// and a soft shadow strengthen with an ease-out animation.
Item {
    id: card
    property real radius: 14
    property color fill: EQPalette.white
    readonly property bool isHovered: hover.hovered
    default property alias content: inner.data
    signal clicked()
    property bool clickable: false

    // A card that opens something is a control of the keyboard; its rows move with the arrow keys.
    activeFocusOnTab: clickable
    KeyActivation.isListItem: true
    KeyActivation.onActivated: if (clickable) card.clicked()

    EQShadow {
        anchors.fill: parent
        radius: card.radius
        color: EQPalette.hairlineStrong
        blur: 10
        offsetY: 2
        opacity: card.isHovered ? 1 : 0
        Behavior on opacity { NumberAnimation { duration: 180; easing.type: Easing.OutCubic } }
    }
    Rectangle {
        anchors.fill: parent
        radius: card.radius
        color: card.fill
        border.width: 1
        border.color: card.isHovered ? EQPalette.hairlineStrong : EQPalette.hairline
        Behavior on border.color { ColorAnimation { duration: 180; easing.type: Easing.OutCubic } }
    }
    Item {
        id: inner
        anchors.fill: parent
    }
    HoverHandler {
        id: hover
        cursorShape: card.clickable ? Qt.PointingHandCursor : Qt.ArrowCursor
    }
    TapHandler {
        enabled: card.clickable
        onTapped: card.clicked()
    }
    FocusRing {
        visible: card.clickable && card.activeFocus
        controlRadius: card.radius
    }
}
