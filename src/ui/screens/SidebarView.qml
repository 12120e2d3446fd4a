pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import Echoquill.Ui
import Echoquill.Shared

// The sidebar: word mark, search, the four places, folders, the theme switch
// and the signed-in user with the way to the profile.
Rectangle {
    id: sidebar
    objectName: "SidebarView"

    required property MainNavigation navigation
    readonly property alias model: model
    readonly property sidebarLook look: model.look

    color: look.background
    EQThemeKey.theme: model.theme

    SidebarModel { id: model }

    // Puts the keyboard focus in the search field.
    function focusSearch() { search.input.forceActiveFocus(Qt.ShortcutFocusReason) }

    ColumnLayout {
        anchors.fill: parent
        anchors.topMargin: 22
        anchors.bottomMargin: 14
        anchors.leftMargin: 14
        anchors.rightMargin: 14
        spacing: 0

        EchoquillWordmark {
            Layout.leftMargin: 6
            size: 26
            glyphColor: sidebar.look.wordmarkGlyph
            textColor: sidebar.look.wordmarkText
        }

        SidebarSearchBar {
            id: search
            Layout.fillWidth: true
            Layout.topMargin: 20
            look: sidebar.look
            text: sidebar.navigation.searchText
            onEdited: (text) => sidebar.navigation.searchText = text
        }

        Column {
            Layout.fillWidth: true
            Layout.topMargin: 16
            spacing: 2
            Repeater {
                model: model.navItems
                SidebarNavRow {
                    required property var modelData
                    required property int index
                    width: parent.width
                    item: modelData
                    // The main window's Ctrl+1 to Ctrl+4 follow this order.
                    shortcut: "Ctrl+" + (index + 1)
                    look: sidebar.look
                    isSelected: sidebar.navigation.selectedNav === modelData.key
                    onActivated: sidebar.navigation.selectedNav = modelData.key
                }
            }
        }

        SidebarFoldersSection {
            Layout.fillWidth: true
            Layout.topMargin: 26
            look: sidebar.look
            folders: model.folders
        }

        Item { Layout.fillHeight: true }

        SidebarThemeSwitcher {
            Layout.fillWidth: true
            look: sidebar.look
            themes: model.themes
            theme: model.theme
            onChosen: (key) => model.theme = key
        }

        SidebarUserCard {
            Layout.fillWidth: true
            Layout.topMargin: 12
            visible: !!AuthStore.currentUser
            user: AuthStore.currentUser
            look: sidebar.look
            onGearTap: sidebar.navigation.selectedNav = "profile"
        }
    }
}
