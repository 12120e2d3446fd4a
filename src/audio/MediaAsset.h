#pragma once

#include <QString>

// A media file looked into: whether it has an audio track, and how long that is.
class MediaAsset {
public:
    // Throws FileError when the file cannot be read, AudioExportError when the
    // media module cannot be loaded. A file that is readable but not a
    // recognisable media file has no audio track.
    explicit MediaAsset(const QString& path);

    [[nodiscard]] QString path() const { return m_path; }
    [[nodiscard]] bool hasAudioTrack() const { return m_hasAudioTrack; }
    // Seconds of the audio track (or of the file when the track does not say); 0 when unknown.
    [[nodiscard]] double durationSeconds() const { return m_durationSeconds; }

private:
    QString m_path;
    bool m_hasAudioTrack = false;
    double m_durationSeconds = 0.0;
};
