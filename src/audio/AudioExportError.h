#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// Why an upload track could not be made.
class AudioExportError : public std::exception {
public:
    enum Kind {
        noAudioTrack, // payload: the segment's path
        exportFailed, // payload: the encoder's reason
        noSegments,
        cannotCreateExporter,
    };

    explicit AudioExportError(Kind kind, QString payload = {});

    [[nodiscard]] Kind kind() const { return m_kind; }
    [[nodiscard]] QString payload() const { return m_payload; }
    // "No audio track found in mic_track_000.caf", "Audio export failed: cancelled", …
    [[nodiscard]] QString description() const;
    const char* what() const noexcept override { return m_what.constData(); }

private:
    Kind m_kind;
    QString m_payload;
    QByteArray m_what;
};
