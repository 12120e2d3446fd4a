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

    // A screen chosen by a shortcut takes the keyboard along.
    property bool focusesNextScreen: false
    function show(nav) {
        if (navigation.selectedNav === nav) {
            focusScreen()
            return
        }
        focusesNextScreen = true
        navigation.selectedNav = nav
    }
    // A control that went away with the focus (a card dismissed) hands it to the screen's first control.
    // Looked at once the change is over: the item that had the focus may be on its way out.
    Connections {
        target: main.Window.window
        function onActiveFocusItemChanged() { lostFocusCheck.start() }
    }
    Timer {
        id: lostFocusCheck
        interval: 0
        onTriggered: {
            // Left with the screen itself or the list that held the control.
            const focused = main.Window.activeFocusItem
            if (focused === screenLoader || (focused instanceof ListView && screenLoader.activeFocus))
                main.focusScreen()
        }
    }
    // After the new screen's first layout, so that the rows of its lists exist.
    Timer { id: focusTimer; interval: 0; onTriggered: main.focusScreen() }
    // The first control of the screen shown takes the focus, if it has one.
    function focusScreen() {
        focusesNextScreen = false
        const screen = screenLoader.item as Item
        const first = screen ? screen.nextItemInFocusChain(true) : null
        for (let up = first; up; up = up.parent) {
            if (up === screen) {
                first.forceActiveFocus(Qt.TabFocusReason)
                return
            }
        }
    }

    // Starts and stops recordings for the home screen's capsule and for Ctrl+R alike,
    // so "Saved" shows on the capsule whichever of them stopped it.
    RecordingActions {
        id: recording
        recorder: AudioRecorder
        library: RecordingLibrary
    }

    // What happened to a recording, said to a screen reader without moving the focus: an alert whose
    // name is the news. Drawn in no colour; the screens and the widget show the same.
    Text {
        id: announcement
        objectName: "announcement"
        color: EQPalette.clear
        Accessible.role: Accessible.AlertMessage
        Accessible.name: text
        Connections {
            target: AudioRecorder
            function onIsRecordingChanged() {
                announcement.text = AudioRecorder.isRecording ? "Recording started" : "Recording stopped"
            }
        }
        Connections {
            target: recording
            function onShowSavedChanged() {
                if (recording.showSaved)
                    announcement.text = "Saved"
            }
        }
        Connections {
            target: RecordingLibrary
            function onUploadFailed(folder: string, message: string) {
                announcement.text = "Upload failed: " + message
            }
            function onNoteReady(noteId: double, title: string) {
                announcement.text = "Your notes are ready: " + title
            }
        }
    }

    // Window shortcuts: they act only while this window is the active one.
    Shortcut { sequence: "Ctrl+1"; onActivated: main.show("home") }
    Shortcut { sequence: "Ctrl+2"; onActivated: main.show("meetings") }
    Shortcut { sequence: "Ctrl+3"; onActivated: main.show("actions") }
    Shortcut { sequence: "Ctrl+4"; onActivated: main.show("profile") }
    // The linter of Qt 6.4 takes StandardKey for a value type and does not find its keys.
    // qmllint disable unqualified
    Shortcut { sequence: StandardKey.Find; onActivated: sidebar.focusSearch() }
    // qmllint enable unqualified
    // Held down, the key starts or stops once, not again with each repeat.
    Shortcut { sequence: "Ctrl+R"; autoRepeat: false; onActivated: recording.toggle() }

    SplitView {
        anchors.fill: parent
        orientation: Qt.Horizontal

        handle: Rectangle {
            implicitWidth: 1
            color: EQPalette.hairline
            containmentMask: Item { x: -4; width: 9; height: parent ? parent.height : 0 }
        }

        SidebarView {
            id: sidebar
            SplitView.preferredWidth: 220
            SplitView.minimumWidth: 200
            SplitView.maximumWidth: 260
            navigation: navigation
        }

        Loader {
            id: screenLoader
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
            // The keyboard was in the screen that went away (a note opened, the detail closed), or came
            // with a shortcut: it moves to the new screen's first control, once that is made.
            onLoaded: {
                if (main.focusesNextScreen || activeFocus)
                    focusTimer.start()
            }
        }
    }

    // The Loader makes the screens in a context of its own, which Qt 6.4 refuses for components
    // bound to their document, so the linter does not see that `navigation` and
    // `recording` reach them.
    Component {
        id: home
        // qmllint disable unqualified
        HomeView { recordingActions: recording }
        // qmllint enable unqualified
    }
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
