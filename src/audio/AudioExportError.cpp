#include "AudioExportError.h"

#include <QFileInfo>

AudioExportError::AudioExportError(Kind kind, QString payload)
    : m_kind(kind)
    , m_payload(std::move(payload))
    , m_what(description().toUtf8())
{
}

QString AudioExportError::description() const
{
    switch (m_kind) {
    case noAudioTrack:
        return QStringLiteral("No audio track found in ") + QFileInfo(m_payload).fileName();
    case exportFailed:
        return QStringLiteral("Audio export failed: ") + m_payload;
    case noSegments:
        return QStringLiteral("No audio segments to export");
    case cannotCreateExporter:
        return QStringLiteral("Could not create AVAssetExportSession");
    }
    return {};
}
