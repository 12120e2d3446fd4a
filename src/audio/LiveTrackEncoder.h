#pragma once

#include "CapturedAudioBuffer.h"
#include "media/MediaModuleAbi.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

// One source's upload track, encoded while the recording runs so that the stop only has the tail left: the
// buffers the writer took are queued as they come (their samples are shared, not copied) and encoded by the
// media module on a thread of its own at low priority, into "<track>.part" beside the segments. Every
// `checkpointSeconds` of audio the encoded packets are put on the disk and "<track>.checkpoint" says how many
// of the source's frames they hold, so that after a kill only the rest is encoded again. finish() encodes what
// is still queued at the caller's priority and writes the track, header first. A failed encoder, or one that
// falls more than `maxLagSeconds` of audio behind, gives up and frees what it queued; the track is then made
// from the segments.
class LiveTrackEncoder {
public:
    // Behind by more than this much audio, the encoder gives up: what the export from the segments would
    // take at stop, the backlog's encoding (at about 150 times real time) would approach, and the queued
    // samples would keep growing in memory (stereo at 48 kHz: 23 MB).
    static constexpr double defaultMaxLagSeconds = 60.0;

    explicit LiveTrackEncoder(
        QString trackPath, double maxLagSeconds = defaultMaxLagSeconds, double checkpointSeconds = 10.0);
    // Stops the thread; an unfinished track's file is removed.
    ~LiveTrackEncoder();
    LiveTrackEncoder(const LiveTrackEncoder&) = delete;
    LiveTrackEncoder& operator=(const LiveTrackEncoder&) = delete;

    // Queues one buffer and returns at once. From one thread (the write queue), never after finish().
    void append(const CapturedAudioBuffer& buffer);
    // Blocks until the track is at its path and returns true, or returns false with the reason in `whyNot`.
    bool finish(QString& whyNot);

    [[nodiscard]] QString trackPath() const { return m_trackPath; }
    // Seconds of audio queued or being encoded.
    [[nodiscard]] double lagSeconds() const;

    // What a killed recording left of the track at `trackPath`: its encoded part and how much of it is on the disk.
    static QString partOf(const QString& trackPath) { return trackPath + QStringLiteral(".part"); }
    static QString checkpointOf(const QString& trackPath) { return trackPath + QStringLiteral(".checkpoint"); }
    static std::optional<EqMediaCheckpoint> readCheckpoint(const QString& trackPath);
    static void removeLeftovers(const QString& trackPath);

private:
    void run();
    void encode(const CapturedAudioBuffer& buffer);
    void checkpoint();
    void fail(const QString& reason);
    void close();

    const QString m_trackPath;
    const double m_maxLagSeconds;
    const double m_checkpointSeconds;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<CapturedAudioBuffer> m_pending;
    double m_pendingSeconds = 0.0;
    // The batch the thread is encoding.
    double m_encodingSeconds = 0.0;
    bool m_stopping = false;
    std::atomic<bool> m_gaveUp = false;
    QString m_failure; // under m_mutex

    // Used by the thread, then by finish() once the thread has ended.
    EqMediaLiveTrack* m_track = nullptr;
    std::uint64_t m_encodedFrames = 0;
    double m_uncheckedSeconds = 0.0;
    std::thread m_thread;
};
