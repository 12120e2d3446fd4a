import QtQuick
import Echoquill.Ui
import Echoquill.Shared

// Every action item across the user's notes, under the day of its meeting,
// each with a check box; loaded afresh each time the screen appears.
ScreenBackground {
    id: screen
    objectName: "ActionsView"

    readonly property alias actions: actions
    readonly property real contentWidth: width - 80

    ActionsViewModel {
        id: actions
        store: ActionStore
    }
    Component.onCompleted: actions.load()

    ScreenHeader {
        id: header
        x: 40
        y: 40
        width: screen.contentWidth
        title: "Actions"
        line: actions.openLine
        showsLine: actions.hasItems

        Rectangle {
            objectName: "refreshButton"
            Accessible.role: Accessible.Button
            Accessible.name: "Refresh"
            Accessible.onPressAction: actions.load()
            KeyActivation.onActivated: actions.load()
            width: 32
            height: 32
            radius: 9
            color: refreshHover.hovered ? EQPalette.creamLight : EQPalette.white
            border.width: 1
            border.color: EQPalette.hairline
            EQSymbol {
                anchors.centerIn: parent
                name: "arrow.clockwise"
                size: 13
                color: EQPalette.inkTertiary
            }
            HoverHandler { id: refreshHover; cursorShape: Qt.PointingHandCursor }
            TapHandler { onTapped: actions.load() }
            FocusRing { controlRadius: 9 }
        }
    }

    Rectangle {
        id: divider
        x: 40
        anchors.top: header.bottom
        anchors.topMargin: 20
        width: screen.contentWidth
        height: 1
        color: EQPalette.hairline
    }

    Item {
        anchors.top: divider.bottom
        anchors.bottom: parent.bottom
        width: parent.width

        EQSpinner {
            objectName: "actionsSpinner"
            anchors.horizontalCenter: parent.horizontalCenter
            y: 60
            visible: ActionStore.isLoading && !actions.hasItems
            size: 20
            color: EQPalette.terracotta
        }

        Column {
            objectName: "emptyState"
            anchors.horizontalCenter: parent.horizontalCenter
            y: 80
            visible: !ActionStore.isLoading && !actions.hasItems
            spacing: 12
            EQSymbol {
                anchors.horizontalCenter: parent.horizontalCenter
                name: "checklist"
                size: 32
                color: EQPalette.inkMuted
            }
            Text {
                anchors.horizontalCenter: parent.horizontalCenter
                text: "No action items yet"
                color: EQPalette.inkTertiary
                font: EQFonts.text(15)
            }
        }

        ListView {
            objectName: "actionList"
            anchors.fill: parent
            visible: actions.hasItems
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            model: ActionStore.sections
            spacing: 8
            header: Item { width: 1; height: 4 }
            footer: Item { width: 1; height: 40 }

            section.property: "section"
            section.delegate: Item {
                required property string section
                width: ListView.view.width
                height: label.implicitHeight + 26
                GroupLabel {
                    id: label
                    x: 40
                    anchors.bottom: parent.bottom
                    anchors.bottomMargin: 4
                    text: parent.section
                }
            }

            // The list makes its section labels in a context of their own, which Qt 6.4 refuses for
            // components bound to their document, so the linter does not see that this document's
            // ids reach the rows.
            // qmllint disable unqualified
            delegate: Item {
                id: slot
                required property string identity
                required property string what
                required property string who
                required property var due
                required property string meetingTitle
                required property bool done
                width: ListView.view.width
                height: card.height
                ActionItemCard {
                    id: card
                    x: 40
                    width: screen.contentWidth
                    what: slot.what
                    who: slot.who
                    due: slot.due ? slot.due : ""
                    meetingTitle: slot.meetingTitle
                    done: slot.done
                    onToggled: actions.toggle(slot.identity)
                }
            }
            // qmllint enable unqualified
        }
    }
}
