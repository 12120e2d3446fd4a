import QtQuick
import Echoquill.Ui
import Echoquill.Shared

// The user's notes: the recordings still being processed, then every note
// under its day, narrowed by the sidebar's search.
ScreenBackground {
    id: screen
    objectName: "MeetingListView"

    property string searchText: ""
    readonly property alias model: notes
    readonly property bool searching: searchText.trim().length > 0
    readonly property real contentWidth: width - 80

    MeetingListModel {
        id: notes
        store: MeetingStore
        searchText: screen.searchText
    }

    ListView {
        id: list
        objectName: "meetingList"
        anchors.fill: parent
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        model: notes
        spacing: 8
        cacheBuffer: 800

        // The header grows upwards when a card arrives; a list shown from its
        // top keeps showing its top, so new cards are seen.
        property bool atTop: true
        onContentYChanged: atTop = contentY - originY < 2
        onOriginYChanged: if (atTop) positionViewAtBeginning()

        // The list makes its section labels in a context of their own, which Qt 6.4 refuses for
        // components bound to their document, so the linter does not see that this document's
        // ids reach the header and the rows.
        // qmllint disable unqualified
        header: Column {
            x: 40
            width: screen.contentWidth
            topPadding: 40
            bottomPadding: 8
            spacing: 0

            ScreenHeader {
                width: parent.width
                title: "Meetings"
                line: ScreenText.recordings(MeetingStore.meetingCount)
            }

            Item {
                width: parent.width
                height: 80
                visible: MeetingStore.isLoading && MeetingStore.meetingCount === 0
                EQSpinner {
                    objectName: "listSpinner"
                    anchors.centerIn: parent
                    size: 20
                    color: EQPalette.terracotta
                }
            }

            ProcessingSection {
                width: parent.width
                topPadding: 28
                weight: Font.Medium
            }

            Column {
                objectName: "emptyState"
                width: parent.width
                visible: MeetingStore.meetingCount === 0 && !MeetingStore.isLoading
                topPadding: 80
                spacing: 12
                EQSymbol {
                    anchors.horizontalCenter: parent.horizontalCenter
                    name: "waveform"
                    size: 32
                    color: EQPalette.inkMuted
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "No recordings yet"
                    color: EQPalette.inkTertiary
                    font: EQFonts.text(15)
                }
            }

            Text {
                visible: screen.searching && notes.count === 0 && MeetingStore.meetingCount > 0
                topPadding: 40
                text: "No recordings match \u201c" + screen.searchText.trim() + "\u201d"
                textFormat: Text.PlainText
                color: EQPalette.inkTertiary
                font: EQFonts.text(15)
            }
        }

        // qmllint enable unqualified
        section.property: "section"
        section.delegate: Item {
            required property string section
            width: ListView.view.width
            height: label.implicitHeight + 22
            GroupLabel {
                id: label
                x: 40
                anchors.bottom: parent.bottom
                anchors.bottomMargin: 2
                text: parent.section
            }
        }

        // qmllint disable unqualified
        delegate: Item {
            id: rowItem
            required property int index
            required property string title
            required property var participants
            required property string sourceLine
            required property string duration
            required property string relativeTime
            width: ListView.view.width
            height: row.height

            MeetingListRow {
                id: row
                x: 40
                width: screen.contentWidth
                title: rowItem.title
                participants: rowItem.participants
                sourceLine: rowItem.sourceLine
                duration: rowItem.duration
                relativeTime: rowItem.relativeTime
                onClicked: notes.open(rowItem.index)
            }
        }
        // qmllint enable unqualified

        footer: Item { width: 1; height: 40 }
    }
}
