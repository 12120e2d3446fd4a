pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import Echoquill.Ui
import Echoquill.Shared

// One note in full: summary, decisions and topics in the main column; its
// action items, participants and properties at the side.
ScreenBackground {
    id: screen
    objectName: "MeetingDetailView"

    readonly property alias detail: detail

    MeetingDetailModel {
        id: detail
        store: MeetingStore
    }

    // Escape goes back to the list, as the back control does.
    Shortcut { sequence: "Escape"; onActivated: MeetingStore.clearSelectedMeeting() }

    Flickable {
        anchors.fill: parent
        contentWidth: width
        contentHeight: page.height + 80
        boundsBehavior: Flickable.StopAtBounds
        clip: true

        Column {
            id: page
            x: 40
            y: 32
            width: screen.width - 80
            spacing: 0

            Item {
                objectName: "backControl"
                Accessible.role: Accessible.Button
                Accessible.name: "Recordings"
                Accessible.onPressAction: MeetingStore.clearSelectedMeeting()
                KeyActivation.onActivated: MeetingStore.clearSelectedMeeting()
                width: backRow.implicitWidth
                height: backRow.implicitHeight
                Row {
                    id: backRow
                    spacing: 6
                    EQSymbol {
                        anchors.verticalCenter: parent.verticalCenter
                        name: "chevron.left"
                        size: 12
                        color: back.hovered ? EQPalette.terracotta : EQPalette.inkSecondary
                    }
                    Text {
                        anchors.verticalCenter: parent.verticalCenter
                        text: "Recordings"
                        color: back.hovered ? EQPalette.terracottaText : EQPalette.inkSecondary
                        font: EQFonts.text(13, Font.Medium)
                    }
                }
                HoverHandler { id: back; cursorShape: Qt.PointingHandCursor }
                TapHandler { onTapped: MeetingStore.clearSelectedMeeting() }
                FocusRing { controlRadius: 4 }
            }

            Item {
                width: parent.width
                height: 100
                visible: detail.isLoading
                EQSpinner {
                    objectName: "detailSpinner"
                    anchors.centerIn: parent
                    size: 20
                    color: EQPalette.terracotta
                }
            }

            Text {
                visible: detail.errorText.length > 0
                topPadding: 40
                width: parent.width
                wrapMode: Text.Wrap
                text: detail.errorText
                textFormat: Text.PlainText
                color: EQPalette.inkTertiary
                font: EQFonts.text(14)
            }

            Column {
                visible: detail.isShown
                width: parent.width
                topPadding: 22
                spacing: 0

                Row {
                    objectName: "breadcrumb"
                    spacing: 6
                    EQSymbol {
                        anchors.verticalCenter: parent.verticalCenter
                        name: "folder"
                        size: 11
                        color: EQPalette.inkMuted
                    }
                    Text {
                        anchors.verticalCenter: parent.verticalCenter
                        text: "Recordings"
                        color: EQPalette.inkMuted
                        font: EQFonts.text(11)
                    }
                    Text {
                        anchors.verticalCenter: parent.verticalCenter
                        text: "/"
                        color: EQPalette.inkMuted
                        font: EQFonts.text(11)
                    }
                    Text {
                        anchors.verticalCenter: parent.verticalCenter
                        width: Math.min(implicitWidth, page.width - 140)
                        elide: Text.ElideRight
                        text: detail.title
                        textFormat: Text.PlainText
                        color: EQPalette.inkTertiary
                        font: EQFonts.text(12)
                    }
                }

                Text {
                    objectName: "detailTitle"
                    Accessible.role: Accessible.Heading
                    Accessible.name: text
                    width: parent.width
                    topPadding: 10
                    wrapMode: Text.Wrap
                    text: detail.title
                    textFormat: Text.PlainText
                    color: EQPalette.ink
                    font: EQFonts.display(34, -0.6)
                }

                Row {
                    topPadding: 10
                    spacing: 10
                    OverlappingAvatars {
                        anchors.verticalCenter: parent.verticalCenter
                        visible: detail.participants.length > 0
                        // qmllint disable type
                        // (qmllint 6.4 knows no array methods on a string list)
                        names: detail.participants.slice(0, 4)
                        // qmllint enable type
                        size: 22
                        borderColor: EQPalette.cream
                    }
                    Text {
                        objectName: "peopleLine"
                        anchors.verticalCenter: parent.verticalCenter
                        text: detail.peopleLine
                        textFormat: Text.PlainText
                        color: EQPalette.inkSecondary
                        font: EQFonts.text(12)
                    }
                }

                Item { width: 1; height: 28 }

                RowLayout {
                    width: parent.width
                    spacing: 28

                    Column {
                        id: mainColumn
                        Layout.fillWidth: true
                        Layout.alignment: Qt.AlignTop
                        spacing: 0

                        Rectangle {
                            objectName: "summaryCard"
                            visible: detail.summaryText.length > 0
                            width: parent.width
                            height: visible ? summary.height + 40 : 0
                            radius: 16
                            color: EQPalette.peachLight
                            border.width: 1
                            border.color: EQPalette.terracottaSoft
                            Column {
                                id: summary
                                x: 20
                                y: 20
                                width: parent.width - 40
                                spacing: 10
                                Row {
                                    spacing: 6
                                    EQSymbol {
                                        anchors.verticalCenter: parent.verticalCenter
                                        name: "sparkles"
                                        size: 12
                                        color: EQPalette.terracotta
                                        knockout: EQPalette.peachLight
                                    }
                                    Text {
                                        anchors.verticalCenter: parent.verticalCenter
                                        text: "SUMMARY"
                                        color: EQPalette.terracottaText
                                        font: EQFonts.text(11, Font.DemiBold, 1.6)
                                    }
                                }
                                Text {
                                    width: parent.width
                                    wrapMode: Text.Wrap
                                    lineHeight: 1.25
                                    text: detail.summaryText
                                    textFormat: Text.PlainText
                                    color: EQPalette.ink
                                    font: EQFonts.text(15)
                                }
                            }
                        }

                        Column {
                            visible: detail.decisions.length > 0
                            width: parent.width
                            topPadding: 28
                            spacing: 10
                            GroupLabel { text: "Decisions" }
                            Repeater {
                                model: detail.decisions
                                Row {
                                    required property string modelData
                                    width: mainColumn.width
                                    spacing: 12
                                    Rectangle {
                                        width: 24
                                        height: 24
                                        radius: 7
                                        color: EQPalette.cream
                                        EQSymbol {
                                            anchors.centerIn: parent
                                            name: "checkmark.seal"
                                            size: 11
                                            color: EQPalette.terracotta
                                        }
                                    }
                                    Text {
                                        width: parent.width - 36
                                        topPadding: 3
                                        wrapMode: Text.Wrap
                                        text: parent.modelData
                                        textFormat: Text.PlainText
                                        color: EQPalette.inkSecondary
                                        font: EQFonts.text(14)
                                    }
                                }
                            }
                        }

                        Column {
                            visible: detail.topics.length > 0
                            width: parent.width
                            topPadding: 28
                            spacing: 16
                            GroupLabel { text: "Transcript" }
                            Repeater {
                                model: detail.topics
                                Column {
                                    required property var modelData
                                    width: mainColumn.width
                                    spacing: 6
                                    Text {
                                        width: parent.width
                                        wrapMode: Text.Wrap
                                        text: parent.modelData.title
                                        textFormat: Text.PlainText
                                        color: EQPalette.ink
                                        font: EQFonts.text(15, Font.Medium)
                                    }
                                    Repeater {
                                        model: parent.modelData.bullets
                                        Row {
                                            required property string modelData
                                            width: mainColumn.width
                                            spacing: 10
                                            Rectangle {
                                                y: 8
                                                width: 5
                                                height: 5
                                                radius: 2.5
                                                color: EQPalette.terracotta
                                            }
                                            Text {
                                                width: parent.width - 15
                                                wrapMode: Text.Wrap
                                                text: parent.modelData
                                                textFormat: Text.PlainText
                                                color: EQPalette.inkSecondary
                                                font: EQFonts.text(14)
                                            }
                                        }
                                    }
                                }
                            }
                        }
                    }

                    Column {
                        Layout.preferredWidth: Math.min(300, page.width * 0.36)
                        Layout.alignment: Qt.AlignTop
                        spacing: 14

                        SideCard {
                            title: "Action items"
                            Repeater {
                                id: actionRows
                                model: detail.actionItems
                                ActionItemRow {
                                    required property int index
                                    width: parent.width
                                    onToggled: detail.toggle(index)
                                }
                            }
                        }

                        SideCard {
                            title: "Participants"
                            Repeater {
                                model: detail.participants
                                Row {
                                    required property string modelData
                                    spacing: 10
                                    EQAvatar {
                                        anchors.verticalCenter: parent.verticalCenter
                                        size: 24
                                        name: parent.modelData
                                    }
                                    Text {
                                        anchors.verticalCenter: parent.verticalCenter
                                        text: parent.modelData
                                        textFormat: Text.PlainText
                                        color: EQPalette.ink
                                        font: EQFonts.text(13)
                                    }
                                }
                            }
                            Text {
                                visible: detail.participants.length === 0
                                text: "No participants recorded"
                                color: EQPalette.inkTertiary
                                font: EQFonts.text(13)
                            }
                        }

                        SideCard {
                            title: "Properties"
                            spacing: 0
                            Repeater {
                                model: detail.properties
                                Column {
                                    id: propertyRow
                                    required property var modelData
                                    required property int index
                                    width: parent.width
                                    Rectangle {
                                        visible: parent.index > 0
                                        width: parent.width
                                        height: 1
                                        color: EQPalette.hairlineSoft
                                    }
                                    Item {
                                        width: parent.width
                                        height: 34
                                        Text {
                                            anchors.verticalCenter: parent.verticalCenter
                                            text: propertyRow.modelData.label
                                            textFormat: Text.PlainText
                                            color: EQPalette.inkTertiary
                                            font: EQFonts.text(12)
                                        }
                                        Text {
                                            objectName: "property:" + propertyRow.modelData.label
                                            anchors.right: parent.right
                                            anchors.verticalCenter: parent.verticalCenter
                                            width: Math.min(implicitWidth, parent.width * 0.65)
                                            horizontalAlignment: Text.AlignRight
                                            elide: Text.ElideRight
                                            text: propertyRow.modelData.value
                                            textFormat: Text.PlainText
                                            color: EQPalette.ink
                                            font: EQFonts.text(12, Font.Medium)
                                        }
                                    }
                                }
                            }
                        }
                    }
                }
            }
        }
    }

    // A white rounded section of the side column with its label on top.
    component SideCard: Rectangle {
        id: side
        property string title
        property alias spacing: body.spacing
        default property alias content: body.data

        width: parent.width
        height: visible ? body.height + heading.height + 44 : 0
        radius: 14
        color: EQPalette.white
        border.width: 1
        border.color: EQPalette.hairline

        GroupLabel {
            id: heading
            x: 18
            y: 18
            text: side.title
        }
        Column {
            id: body
            x: 18
            y: heading.y + heading.height + 12
            width: parent.width - 36
            spacing: 12
        }
    }
}
