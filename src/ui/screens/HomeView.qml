import QtQuick
import Echoquill.Ui
import Echoquill.Shared

// The first screen: today's date and meetings, the record capsule, the
// recordings being processed, the calendar's state, and the upcoming meetings
// by group with the meeting running now shown large.
ScreenBackground {
    id: screen
    objectName: "HomeView"

    property alias refreshInterval: home.refreshInterval
    required property RecordingActions recordingActions
    readonly property alias home: home

    HomeViewModel {
        id: home
        calendarStore: CalendarStore
        recallStore: RecallStore
        authStore: AuthStore
    }
    // Leaving the screen destroys it, and the model's loads end with it.
    Component.onCompleted: home.appear()

    Flickable {
        anchors.fill: parent
        contentWidth: width
        contentHeight: column.height + 80
        boundsBehavior: Flickable.StopAtBounds
        clip: true

        Column {
            id: column
            x: 40
            y: 40
            width: screen.width - 80
            spacing: 0

            ScreenHeader {
                width: parent.width
                title: "Home"
                line: home.summaryLine
                HomeRecordCapsule {
                    actions: screen.recordingActions
                }
            }

            ProcessingSection {
                width: parent.width
                topPadding: 28
            }

            Item {
                objectName: "reconnectBanner"
                visible: CalendarStore.calendarNeedsReauth
                width: parent.width
                height: visible ? banner.height + 24 : 0
                Rectangle {
                    id: banner
                    y: 24
                    width: parent.width
                    height: bannerText.height + 32
                    radius: 14
                    color: EQPalette.withOpacity(EQPalette.amber, 0.10)
                    border.width: 1
                    border.color: EQPalette.withOpacity(EQPalette.amber, 0.35)
                    Row {
                        id: bannerText
                        x: 18
                        y: 16
                        width: parent.width - reconnect.width - 54
                        spacing: 12
                        EQSymbol {
                            name: "calendar"
                            size: 16
                            color: EQPalette.amber
                        }
                        Column {
                            width: parent.width - 28
                            spacing: 3
                            Text {
                                text: "Google Calendar disconnected"
                                color: EQPalette.amber
                                font: EQFonts.text(13, Font.DemiBold)
                            }
                            Text {
                                width: parent.width
                                wrapMode: Text.Wrap
                                text: "Your authorization expired. Reconnect to keep your meetings synced."
                                color: EQPalette.inkTertiary
                                font: EQFonts.text(12)
                            }
                        }
                    }
                    WarmPillButtonStyle {
                        id: reconnect
                        anchors.right: parent.right
                        anchors.rightMargin: 18
                        anchors.verticalCenter: parent.verticalCenter
                        label: "Reconnect"
                        fill: EQPalette.amber
                        onActivated: home.openConnectPage()
                    }
                }
            }

            Item {
                visible: CalendarStore.isLoading && CalendarStore.meetings.length === 0
                width: parent.width
                height: visible ? 140 : 0
                EQSpinner {
                    objectName: "calendarSpinner"
                    anchors.centerIn: parent
                    size: 20
                    color: EQPalette.terracotta
                }
            }

            Item {
                objectName: "notConnectedCard"
                visible: !CalendarStore.calendarConnected && !CalendarStore.isLoading
                         && CalendarStore.meetings.length === 0
                width: parent.width
                height: visible ? card.height + 28 : 0
                Rectangle {
                    id: card
                    y: 28
                    width: parent.width
                    height: cardColumn.height + 64
                    radius: 18
                    color: EQPalette.withOpacity(EQPalette.white, 0.6)
                    border.width: 1
                    border.color: EQPalette.hairline
                    Column {
                        id: cardColumn
                        anchors.centerIn: parent
                        spacing: 10
                        EQSymbol {
                            anchors.horizontalCenter: parent.horizontalCenter
                            name: "calendar"
                            size: 32
                            color: EQPalette.inkMuted
                        }
                        Text {
                            anchors.horizontalCenter: parent.horizontalCenter
                            text: "No calendar connected"
                            color: EQPalette.inkSecondary
                            font: EQFonts.text(15, Font.Medium)
                        }
                        Text {
                            anchors.horizontalCenter: parent.horizontalCenter
                            text: "Connect your Google Calendar to see upcoming meetings."
                            color: EQPalette.inkTertiary
                            font: EQFonts.text(13)
                        }
                        Item { width: 1; height: 6 }
                        WarmPillButtonStyle {
                            anchors.horizontalCenter: parent.horizontalCenter
                            label: "Connect Calendar"
                            icon: "calendar"
                            onActivated: home.openConnectPage()
                        }
                    }
                }
            }

            // A list view, not a repeater in the column: it places rows the model moves.
            ListView {
                width: parent.width
                height: contentHeight
                interactive: false
                model: home.meetings
                // One meeting; the first of its group carries the group's label.
                delegate: Column {
                    id: slot
                    required property var model
                    required property string meetingId
                    required property string group
                    required property string header
                    required property bool firstInGroup
                    required property bool live
                    required property bool botOn
                    objectName: firstInGroup ? "group:" + group : ""
                    width: ListView.view.width
                    topPadding: firstInGroup ? 28 : 8
                    spacing: 8

                    GroupLabel {
                        visible: slot.firstInGroup && slot.header.length > 0
                        text: slot.header
                        weight: Font.DemiBold
                    }
                    Loader {
                        width: parent.width
                        sourceComponent: slot.live ? hero : timeRow
                    }
                    // The Loader makes the row in a context of its own, which Qt 6.4 refuses for
                    // components bound to their document, so the linter does not see that `slot`
                    // reaches it.
                    // qmllint disable unqualified
                    Component {
                        id: hero
                        LiveHeroView {
                            meeting: slot.model
                            botOn: slot.botOn
                            onBotFlipped: (on) => home.setBotOn(slot.meetingId, on)
                            onOpenMeeting: home.openMeeting(slot.model.meetingUrl)
                        }
                    }
                    Component {
                        id: timeRow
                        MeetingTimeRowView {
                            meeting: slot.model
                            botOn: slot.botOn
                            onBotFlipped: (on) => home.setBotOn(slot.meetingId, on)
                        }
                    }
                    // qmllint enable unqualified
                }
            }
        }
    }
}
