import QtQuick
import QtQuick.Controls.Basic
import Echoquill.Ui
import Echoquill.Shared

// The signed-in window: the sidebar and the screen of the selected item,
// side by side. Other screens ask it to open a note through the meeting
// store's navigateToMeetingId.
Item {
    id: main
    objectName: "MainAppView"

    readonly property alias navigation: navigation

    MainNavigation {
        id: navigation
        meetingStore: MeetingStore
    }
    Component.onCompleted: navigation.appear()

    SplitView {
        anchors.fill: parent
        orientation: Qt.Horizontal

        handle: Rectangle {
            implicitWidth: 1
            color: EQPalette.hairline
            containmentMask: Item { x: -4; width: 9; height: parent ? parent.height : 0 }
        }

        SidebarView {
            SplitView.preferredWidth: 220
            SplitView.minimumWidth: 200
            SplitView.maximumWidth: 260
            navigation: navigation
        }

        Loader {
            objectName: "detailColumn"
            SplitView.fillWidth: true
            sourceComponent: {
                switch (navigation.selectedNav) {
                case "meetings": return MeetingStore.hasSelectedMeeting ? meetingDetail : meetingList
                case "actions": return actions
                case "profile": return profile
                default: return home
                }
            }
        }
    }

    Component {
        id: home
        HomeView { }
    }
    // The Loader makes the screens in a context of its own, which Qt 6.4 refuses for components
    // bound to their document, so the linter does not see that `navigation` reaches them.
    Component {
        id: meetingList
        // qmllint disable unqualified
        MeetingListView { searchText: navigation.searchText }
        // qmllint enable unqualified
    }
    Component {
        id: meetingDetail
        MeetingDetailView { }
    }
    Component {
        id: actions
        ActionsView { }
    }
    Component {
        id: profile
        ProfileView { }
    }
}
