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

    visible: uploads.count > 0 || RecordingRecovery.sessions.length > 0
    spacing: 10

    PendingUploadsModel {
        id: uploads
        store: MeetingStore
    }

    GroupLabel {
        text: "PROCESSING"
        weight: section.weight
    }

    // Recordings a stopped client left unfinished, repaired at start.
    Repeater {
        model: RecordingRecovery.sessions
        InterruptedRecordingCard {
            required property var modelData
            width: section.width
            accent: section.accent
            date: modelData.date
            length: ScreenText.length(modelData.duration)
            onUpload: RecordingRecovery.upload(modelData.folder)
            onDiscard: if (!RecordingRecovery.discard(modelData.folder)) problem = "Could not move it to the trash."
        }
    }

    Repeater {
        model: uploads
        ProcessingMeetingCard {
            required property string uploadId
            width: section.width
            accent: section.accent
            onDismissed: uploads.dismiss(uploadId)
            onRetry: uploads.retry(uploadId)
            onDiscard: (keepFiles) => uploads.discard(uploadId, keepFiles)
            onViewTranscript: uploads.viewTranscript(uploadId)
        }
    }
}
