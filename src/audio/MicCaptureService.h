#pragma once

#include "AudioFormat.h"
#include "CapturedAudioBuffer.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

class BufferOutlet;
class RecordStream;
class SerialQueue;
class SoundServerConnection;

// Captures the default input device (the sound server's default source) in
// float32 at the device's own rate and channels, in fragments of about 6144
// frames. Each fragment is copied once on the sound server's thread and handed
// to the owner on its write queue; changes of the default devices, and the
// server moving or ending the stream, are reported while running.
class MicCaptureService {
public:
    using BufferHandler = std::function<void(const CapturedAudioBuffer&)>;

    // 128 ms at 48 kHz: each fragment wakes three threads, and the level still moves eight times a second.
    static constexpr std::uint32_t tapBufferFrames = 6144;

    // `writeQueue` must outlive the service. `server` empty: the default sound server.
    explicit MicCaptureService(SerialQueue& writeQueue, QString server = {});
    ~MicCaptureService();
    MicCaptureService(const MicCaptureService&) = delete;
    MicCaptureService& operator=(const MicCaptureService&) = delete;

    // Throws SoundServerError. Does nothing while running.
    void start();
    // Safe in any state; no buffer is posted once it returns.
    void stop();

    [[nodiscard]] bool isRunning() const;
    // Tap buffers logged since the last start().
    [[nodiscard]] int debugBufferCount() const { return m_debugBufferCount; }

    // Runs on the write queue, once per buffer, in capture order.
    void setOnBuffer(BufferHandler handler);
    // Runs on the sound server's event thread (neither the write queue nor the
    // main thread), only while running.
    void setOnConfigurationChange(std::function<void()> handler);
    // The longest wait for each answer of the sound server while starting. Before start().
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }

private:
    struct Watch;

    void handleTapBuffer(std::shared_ptr<PcmBuffer> copy);

    QString m_server;
    std::chrono::milliseconds m_timeout;
    std::shared_ptr<SoundServerConnection> m_connection;
    std::unique_ptr<RecordStream> m_stream;
    AudioFormat m_format;
    int m_listener = -1;
    std::shared_ptr<BufferOutlet> m_outlet;
    std::shared_ptr<Watch> m_watch;
    std::atomic<int> m_debugBufferCount = 0;
};
