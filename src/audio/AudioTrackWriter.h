#pragma once

#include "AudioFormat.h"
#include "CapturedAudioBuffer.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <system_error>

class SegmentFile;

// What a finished recording left on disk (absolute paths).
struct RecordingFinalizeResult {
    QString sessionDirectory;
    QStringList micSegmentURLs;
    QStringList systemSegmentURLs;
    QString metadataURL;
};

// Writes one recording's buffers into a session directory under
// "Echoquill Recordings": per source a sequence of CAF segments, a new one
// whenever the source's format changes, and "metadata.json" at the end. Write
// problems never stop the recording; they are logged and collected. After
// construction every call comes from one serial queue.
class AudioTrackWriter {
public:
    struct Options {
        // The folder that holds "Echoquill Recordings"; empty: the user's documents folder.
        QString documentsDirectory;
        // Start and end times of the recording.
        std::function<QDateTime()> now;
        // The session name's suffix; by default the first 6 characters of a random UUID.
        std::function<QString()> nameSuffix;
        // At most this much audio is lost from a segment when the process dies mid-write.
        double headerUpdateSeconds = 1.0;
    };

    // Where every session folder lives: "Echoquill Recordings" in `documentsDirectory`
    // (empty: the user's documents folder); empty when there is no documents folder.
    static QString recordingsFolder(const QString& documentsDirectory = {});

    // Creates the session directory. Throws FileError.
    AudioTrackWriter();
    explicit AudioTrackWriter(Options options);
    ~AudioTrackWriter();
    AudioTrackWriter(const AudioTrackWriter&) = delete;
    AudioTrackWriter& operator=(const AudioTrackWriter&) = delete;

    void writeMic(const CapturedAudioBuffer& buffer);
    void writeSystem(const CapturedAudioBuffer& buffer);
    // Closes both open segments; the next buffers of each source open new ones.
    void startNewSegments();
    // Closes both segments and writes "metadata.json". Throws FileError. Called once, last.
    RecordingFinalizeResult finalize();

    [[nodiscard]] QString sessionDirectory() const { return m_sessionDirectory; }
    [[nodiscard]] QDateTime startTime() const { return m_startTime; }
    [[nodiscard]] QStringList micSegmentURLs() const { return m_mic.segmentURLs; }
    [[nodiscard]] QStringList systemSegmentURLs() const { return m_system.segmentURLs; }
    [[nodiscard]] std::uint64_t micFrameCount() const { return m_mic.frameCount; }
    [[nodiscard]] std::uint64_t systemFrameCount() const { return m_system.frameCount; }
    [[nodiscard]] std::optional<AudioFormat> micFormat() const { return m_mic.format; }
    [[nodiscard]] std::optional<AudioFormat> systemFormat() const { return m_system.format; }
    [[nodiscard]] QStringList writeErrors() const { return m_writeErrors; }
    // Set once a write failed for want of space or a failing disk; later writes would fail too.
    [[nodiscard]] std::optional<std::error_code> diskFailure() const { return m_diskFailure; }

private:
    // One source's segments and counters.
    struct Track {
        std::unique_ptr<SegmentFile> file;
        int segmentIndex = 0;
        QStringList segmentURLs;
        std::uint64_t frameCount = 0;
        std::optional<AudioFormat> format;
    };

    void createSessionDirectory();
    [[nodiscard]] QString segmentPath(const char* pattern, int index) const;
    std::unique_ptr<SegmentFile> openSegment(const QString& path, const AudioFormat& format);
    bool writeBuffer(SegmentFile& file, const CapturedAudioBuffer& buffer);
    void recordError(const QString& message);
    void noteSystemError(int error);
    [[nodiscard]] QByteArray metadata(const QDateTime& end) const;

    Options m_options;
    QString m_sessionDirectory;
    QDateTime m_startTime;
    Track m_mic;
    Track m_system;
    QStringList m_writeErrors;
    std::optional<std::error_code> m_diskFailure;
};
