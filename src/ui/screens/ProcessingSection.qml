pragma ComponentBehavior: Bound
import QtQuick
import Echoquill.Ui
import Echoquill.Shared

// "PROCESSING" and one card per recording on its way to becoming a note,
// newest first; nothing at all while there is none.
Column {
    id: section
    objectName: "ProcessingSection"
    property int weight: Font.DemiBold
    property color accent: EQPalette.terracotta
    readonly property alias model: uploads

    visible: uploads.count > 0 || RecordingLibrary.interrupted.length > 0 || RecordingLibrary.signedOutQuestion !== ""
    spacing: 10

    PendingUploadsModel {
        id: uploads
        library: RecordingLibrary
    }

    GroupLabel {
        text: "PROCESSING"
        weight: section.weight
    }

    // Recordings made while nobody was signed in: sent only once the account says so.
    Item {
        objectName: "signedOutQuestion"
        visible: RecordingLibrary.signedOutQuestion !== ""
        width: section.width
        height: visible ? 68 : 0
        Rectangle {
            anchors.fill: parent
            radius: 14
            color: EQPalette.peachLight
            border.width: 1
            border.color: EQPalette.withOpacity(section.accent, 0.25)
        }
        Text {
            anchors.left: parent.left
            anchors.leftMargin: 16
            anchors.right: answers.left
            anchors.rightMargin: 14
            anchors.verticalCenter: parent.verticalCenter
            wrapMode: Text.Wrap
            maximumLineCount: 2
            elide: Text.ElideRight
            text: RecordingLibrary.signedOutQuestion
            textFormat: Text.PlainText
            color: EQPalette.ink
            font: EQFonts.text(14, Font.Medium)
        }
        Row {
            id: answers
            anchors.right: parent.right
            anchors.rightMargin: 16
            anchors.verticalCenter: parent.verticalCenter
            spacing: 10
            OutlineButton {
                objectName: "uploadSignedOut"
                anchors.verticalCenter: parent.verticalCenter
                label: "Upload"
                color: section.accent
                outline: EQPalette.withOpacity(section.accent, 0.4)
                onActivated: RecordingLibrary.uploadSignedOut()
            }
            OutlineButton {
                objectName: "notNow"
                anchors.verticalCenter: parent.verticalCenter
                label: "Not now"
                color: EQPalette.inkSecondary
                outline: EQPalette.withOpacity(EQPalette.inkSecondary, 0.4)
                onActivated: RecordingLibrary.notNow()
            }
        }
    }

    // Recordings a stopped client left unfinished, repaired at start.
    Repeater {
        model: RecordingLibrary.interrupted
        InterruptedRecordingCard {
            required property var modelData
            width: section.width
            accent: section.accent
            date: modelData.date
            length: ScreenText.length(modelData.duration)
            onUpload: RecordingLibrary.upload(modelData.folder)
            onDiscard: if (!RecordingLibrary.discard(modelData.folder, false)) problem = "Could not move it to the trash."
        }
    }

    Repeater {
        model: uploads
        ProcessingMeetingCard {
            required property string folder
            width: section.width
            accent: section.accent
            onDismissed: RecordingLibrary.dismiss(folder)
            onRetry: RecordingLibrary.retry(folder)
            onDiscard: (keepFiles) => RecordingLibrary.discard(folder, keepFiles)
            onViewTranscript: RecordingLibrary.viewTranscript(folder)
        }
    }
}
