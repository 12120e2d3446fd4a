#pragma once

#include <QString>

struct AVFormatContext;
struct AVStream;

// A media file opened for reading, with its first audio track if it has one.
class MediaAsset {
public:
    // Throws FileError when the file cannot be read. A file that is readable
    // but not a recognisable media file opens without an audio track.
    explicit MediaAsset(const QString &path);
    ~MediaAsset();
    MediaAsset(MediaAsset &&other) noexcept;
    MediaAsset &operator=(MediaAsset &&) = delete;
    MediaAsset(const MediaAsset &) = delete;
    MediaAsset &operator=(const MediaAsset &) = delete;

    [[nodiscard]] QString path() const { return m_path; }
    [[nodiscard]] bool hasAudioTrack() const { return m_audioStream != nullptr; }
    // Seconds of the audio track (or of the file when the track does not say); 0 when unknown.
    [[nodiscard]] double durationSeconds() const;

    // For reading the packets of the audio track; null without one.
    [[nodiscard]] AVFormatContext *formatContext() const { return m_context; }
    [[nodiscard]] AVStream *audioStream() const { return m_audioStream; }

private:
    QString m_path;
    AVFormatContext *m_context = nullptr;
    AVStream *m_audioStream = nullptr;
};
