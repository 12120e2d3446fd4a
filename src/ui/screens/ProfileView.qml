pragma ComponentBehavior: Bound
import QtQuick
import Echoquill.Ui
import Echoquill.Shared

// The account: who is signed in, their name and address, signing out, where
// account deletion happens, and the recordings kept on this computer.
ScreenBackground {
    id: profile
    objectName: "ProfileView"

    readonly property var user: AuthStore.currentUser
    readonly property real contentWidth: Math.min(width - 80, 640)

    // The folders may have changed since the screen was last shown.
    onVisibleChanged: if (visible) refresh()
    Component.onCompleted: refresh()
    function refresh() {
        RecordingRetention.refresh()
        AutostartEntry.refresh()
    }

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
            width: profile.contentWidth
            spacing: 0

            Text {
                text: "SETTINGS"
                color: EQPalette.inkMuted
                font: EQFonts.text(11, Font.Medium, 1.6)
            }
            Text {
                topPadding: 6
                text: "Account"
                color: EQPalette.ink
                EQTextStyle.role: "h1"
                Accessible.role: Accessible.Heading
                Accessible.name: text
            }

            Item { width: 1; height: 28 }

            WarmCard {
                objectName: "profileCard"
                visible: !!profile.user
                width: parent.width
                height: visible ? cardRow.height + 48 : 0

                Row {
                    id: cardRow
                    x: 24
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 18

                    EQAvatar {
                        anchors.verticalCenter: parent.verticalCenter
                        size: 56
                        name: profile.user ? profile.user.name : ""
                        imageURL: profile.user ? profile.user.googlePicture : null
                    }
                    Column {
                        anchors.verticalCenter: parent.verticalCenter
                        spacing: 10
                        Text {
                            text: profile.user ? profile.user.name : ""
                            textFormat: Text.PlainText
                            color: EQPalette.ink
                            EQTextStyle.role: "h3"
                        }
                        Row {
                            spacing: 12
                            OutlineButton {
                                id: changePhoto
                                property bool explained: false
                                anchors.verticalCenter: parent.verticalCenter
                                label: "Change photo"
                                color: EQPalette.ink
                                outline: EQPalette.hairlineStrong
                                onActivated: explained = true
                            }
                            Text {
                                anchors.verticalCenter: parent.verticalCenter
                                visible: changePhoto.explained
                                text: "Your photo comes from your Google account."
                                color: EQPalette.inkSecondary
                                font: EQFonts.text(12)
                            }
                        }
                    }
                }
            }

            SectionLabel { text: "ACCOUNT" }
            Rectangle {
                width: parent.width
                height: fields.height
                radius: 14
                color: EQPalette.white
                border.width: 1
                border.color: EQPalette.hairline

                Column {
                    id: fields
                    width: parent.width
                    Repeater {
                        model: [
                            { label: "First name", value: AccountName.firstName(profile.user ? profile.user.name : "") },
                            { label: "Last name", value: AccountName.lastName(profile.user ? profile.user.name : "") },
                            { label: "Email", value: profile.user ? profile.user.email : "" }
                        ]
                        Item {
                            id: field
                            required property var modelData
                            required property int index
                            width: fields.width
                            height: 52
                            Rectangle {
                                visible: field.index > 0
                                x: 20
                                width: parent.width - 40
                                height: 1
                                color: EQPalette.hairlineSoft
                            }
                            Text {
                                x: 20
                                anchors.verticalCenter: parent.verticalCenter
                                text: field.modelData.label
                                textFormat: Text.PlainText
                                color: EQPalette.inkTertiary
                                EQTextStyle.role: "bodySm"
                            }
                            Text {
                                objectName: "value:" + field.modelData.label
                                anchors.right: parent.right
                                anchors.rightMargin: 20
                                anchors.verticalCenter: parent.verticalCenter
                                width: Math.min(implicitWidth, parent.width * 0.6)
                                horizontalAlignment: Text.AlignRight
                                elide: Text.ElideRight
                                text: field.modelData.value
                                textFormat: Text.PlainText
                                color: EQPalette.ink
                                font: EQFonts.text(14)
                            }
                        }
                    }
                }
            }

            SectionLabel { text: "SECURITY" }
            ProfileActionRow {
                width: parent.width
                title: "Sign out of all devices"
                detail: "You'll need to log in to Echoquill again on all devices."
                buttonLabel: "Sign out everywhere"
                onActivated: AuthStore.signOut()
            }

            SectionLabel { text: "DELETE ACCOUNT" }
            ProfileActionRow {
                id: deleteRow
                property bool explained: false
                width: parent.width
                title: "Permanently delete account"
                detail: "Delete your account and all associated data."
                buttonLabel: "Delete account"
                note: explained ? "Account deletion is handled on the web for now." : ""
                onActivated: explained = true
            }

            SectionLabel { text: "RECORDINGS" }
            Rectangle {
                objectName: "recordingsCard"
                width: parent.width
                height: recordings.height
                radius: 14
                color: EQPalette.white
                border.width: 1
                border.color: EQPalette.hairline

                Column {
                    id: recordings
                    width: parent.width
                    Item {
                        width: recordings.width
                        height: 52
                        Text {
                            objectName: "recordingsSummary"
                            x: 20
                            anchors.verticalCenter: parent.verticalCenter
                            text: RecordingRetention.summary
                            textFormat: Text.PlainText
                            color: EQPalette.ink
                            font: EQFonts.text(14)
                        }
                        OutlineButton {
                            objectName: "openFolder"
                            anchors.right: parent.right
                            anchors.rightMargin: 20
                            anchors.verticalCenter: parent.verticalCenter
                            label: "Open folder"
                            color: EQPalette.ink
                            outline: EQPalette.hairlineStrong
                            onActivated: Qt.openUrlExternally(RecordingRetention.folderUrl)
                        }
                    }
                    Rectangle {
                        x: 20
                        width: parent.width - 40
                        height: 1
                        color: EQPalette.hairlineSoft
                    }
                    Item {
                        width: recordings.width
                        height: 52
                        Text {
                            x: 20
                            anchors.verticalCenter: parent.verticalCenter
                            text: "Keep recordings after their note is ready"
                            color: EQPalette.inkTertiary
                            EQTextStyle.role: "bodySm"
                        }
                        Row {
                            anchors.right: parent.right
                            anchors.rightMargin: 20
                            anchors.verticalCenter: parent.verticalCenter
                            spacing: 8
                            Repeater {
                                model: [{ label: "30 days", forever: false }, { label: "Forever", forever: true }]
                                OutlineButton {
                                    required property var modelData
                                    objectName: "keep:" + modelData.label
                                    label: modelData.label
                                    color: RecordingRetention.keepForever === modelData.forever ? EQPalette.ink : EQPalette.inkTertiary
                                    outline: RecordingRetention.keepForever === modelData.forever ? EQPalette.ink : EQPalette.hairline
                                    onActivated: RecordingRetention.keepForever = modelData.forever
                                    Accessible.description: RecordingRetention.keepForever === modelData.forever ? "Chosen" : ""
                                }
                            }
                        }
                    }
                }
            }

            SectionLabel { text: "DESKTOP" }
            Rectangle {
                width: parent.width
                height: 64
                radius: 14
                color: EQPalette.white
                border.width: 1
                border.color: EQPalette.hairline

                Column {
                    x: 20
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 4
                    Text {
                        text: "Open at login"
                        color: EQPalette.ink
                        font: EQFonts.text(14, Font.Medium)
                    }
                    Text {
                        text: "Echoquill starts in the background when you log in."
                        color: EQPalette.inkTertiary
                        font: EQFonts.text(12)
                    }
                }
                BotToggleView {
                    objectName: "openAtLogin"
                    anchors.right: parent.right
                    anchors.rightMargin: 20
                    anchors.verticalCenter: parent.verticalCenter
                    isOn: AutostartEntry.enabled
                    Accessible.name: "Open at login"
                    Accessible.description: isOn ? "On" : "Off"
                    onFlipped: on => AutostartEntry.enabled = on
                }
            }
            Item { width: 1; height: 10 }
            Rectangle {
                objectName: "recordFromAnywhere"
                width: parent.width
                height: 64
                radius: 14
                color: EQPalette.white
                border.width: 1
                border.color: EQPalette.hairline

                Column {
                    anchors.left: parent.left
                    anchors.leftMargin: 20
                    anchors.right: shortcutControls.left
                    anchors.rightMargin: 16
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 4
                    Text {
                        text: "Record from anywhere"
                        color: EQPalette.ink
                        font: EQFonts.text(14, Font.Medium)
                    }
                    Text {
                        objectName: "shortcutLine"
                        width: parent.width
                        elide: Text.ElideRight
                        text: GlobalShortcut.line
                        textFormat: Text.PlainText
                        color: GlobalShortcut.enabled && !GlobalShortcut.available ? EQPalette.alert : EQPalette.inkTertiary
                        font: EQFonts.text(12)
                    }
                }
                Row {
                    id: shortcutControls
                    anchors.right: parent.right
                    anchors.rightMargin: 20
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 12
                    OutlineButton {
                        id: shortcutButton
                        objectName: "shortcutButton"
                        anchors.verticalCenter: parent.verticalCenter
                        visible: GlobalShortcut.enabled
                        label: keyCatcher.activeFocus ? "Press keys…" : GlobalShortcut.sequence
                        Accessible.name: "Change the shortcut " + GlobalShortcut.sequence
                        onActivated: keyCatcher.forceActiveFocus()
                    }
                    BotToggleView {
                        objectName: "globalShortcutSwitch"
                        anchors.verticalCenter: parent.verticalCenter
                        isOn: GlobalShortcut.enabled
                        Accessible.name: "Record from anywhere"
                        Accessible.description: isOn ? "On" : "Off"
                        onFlipped: on => GlobalShortcut.enabled = on
                    }
                }
                // While it has the focus, the next combination with Ctrl, Alt or Super becomes the shortcut;
                // Escape keeps the one there was. Window shortcuts wait meanwhile.
                Item {
                    id: keyCatcher
                    onActiveFocusChanged: GlobalShortcut.isChoosing = activeFocus
                    Keys.onShortcutOverride: event => event.accepted = true
                    Keys.onPressed: event => {
                        event.accepted = true
                        if (event.key === Qt.Key_Escape || GlobalShortcut.choose(event.key, event.modifiers))
                            shortcutButton.forceActiveFocus()
                    }
                }
            }
        }
    }

    component SectionLabel: Text {
        textFormat: Text.PlainText
        topPadding: 30
        bottomPadding: 10
        color: EQPalette.inkMuted
        font: EQFonts.text(11, Font.Medium, 1.6)
    }

    // Title and text on the left, an alert-coloured outline button on the right.
    component ProfileActionRow: Rectangle {
        id: actionRow
        property string title
        property string detail
        property string buttonLabel
        property string note
        signal activated()

        height: texts.height + 36
        radius: 14
        color: EQPalette.white
        border.width: 1
        border.color: EQPalette.hairline

        Column {
            id: texts
            x: 20
            anchors.verticalCenter: parent.verticalCenter
            width: parent.width - button.width - 60
            spacing: 4
            Text {
                width: parent.width
                text: actionRow.title
                textFormat: Text.PlainText
                color: EQPalette.ink
                font: EQFonts.text(14, Font.Medium)
            }
            Text {
                width: parent.width
                text: actionRow.detail
                textFormat: Text.PlainText
                color: EQPalette.inkTertiary
                wrapMode: Text.Wrap
                font: EQFonts.text(12)
            }
            Text {
                width: parent.width
                visible: actionRow.note.length > 0
                topPadding: 4
                text: actionRow.note
                textFormat: Text.PlainText
                color: EQPalette.alert
                wrapMode: Text.Wrap
                font: EQFonts.text(12)
            }
        }
        OutlineButton {
            id: button
            anchors.right: parent.right
            anchors.rightMargin: 20
            anchors.verticalCenter: parent.verticalCenter
            label: actionRow.buttonLabel
            color: EQPalette.alert
            outline: EQPalette.alertSoft
            onActivated: actionRow.activated()
        }
    }
}
