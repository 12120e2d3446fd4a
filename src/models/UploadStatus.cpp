#include "UploadStatus.h"

QString UploadStatus::label() const
{
    switch (m_stage) {
    case Idle:
        return {};
    case Uploading:
        return QStringLiteral("Uploading…");
    case Notifying:
        return QStringLiteral("Saving…");
    case Processing:
        return QStringLiteral("Processing…");
    case Transcribing:
        return QStringLiteral("Transcribing audio…");
    case GeneratingNotes:
        return QStringLiteral("Generating meeting notes…");
    case Done:
        return QStringLiteral("Ready");
    case Failed:
        return QStringLiteral("Failed: ") + m_message;
    case WaitingForNetwork:
        return QStringLiteral("Waiting for network…");
    }
    return {};
}
