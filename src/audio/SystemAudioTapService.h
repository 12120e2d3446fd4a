#pragma once

#include "AudioFormat.h"
#include "CapturedAudioBuffer.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

class BufferOutlet;
class RecordStream;
class SerialQueue;
class SoundServerConnection;

// Captures what the computer plays: a record stream on the monitor of the
// default sink, which carries the mixed output of every process while the user
// keeps hearing it. Buffers travel like the microphone's, tagged systemOutput.
// It does not watch for device changes; the microphone's notification drives
// the owner's restart.
class SystemAudioTapService {
public:
    using BufferHandler = std::function<void(const CapturedAudioBuffer&)>;

    // A setup step that failed, with the sound server's error code.
    class SystemTapError : public std::exception {
    public:
        enum Kind {
            serverUnreachable, // no connection to the sound server
            streamCreationFailed, // the record stream could not be made
            streamConnectionFailed, // the record stream could not be connected to the monitor
            streamStartFailed, // the record stream did not start
            monitorNotFound, // no default sink or no monitor of it
            monitorFormatReadFailed, // the monitor's format could not be read
        };

        SystemTapError(Kind kind, std::int32_t status);
        [[nodiscard]] Kind kind() const { return m_kind; }
        [[nodiscard]] std::int32_t status() const { return m_status; }
        [[nodiscard]] QString description() const;
        const char* what() const noexcept override { return m_what.constData(); }

    private:
        Kind m_kind;
        std::int32_t m_status;
        QByteArray m_what;
    };

    // 256 ms at 48 kHz: nothing shows this source's level, so its fragments wake the write queue less often.
    static constexpr std::uint32_t cycleFrames = 12288;

    // `writeQueue` must outlive the service. `server` empty: the default sound server.
    explicit SystemAudioTapService(SerialQueue& writeQueue, QString server = {});
    ~SystemAudioTapService();
    SystemAudioTapService(const SystemAudioTapService&) = delete;
    SystemAudioTapService& operator=(const SystemAudioTapService&) = delete;

    // Throws SystemTapError after tearing down what it had set up. Does nothing while running.
    void start();
    // Safe in any state; no buffer is posted once it returns.
    void stop();

    [[nodiscard]] bool isRunning() const { return m_isRunning; }
    // Cycles logged since construction.
    [[nodiscard]] int debugBufferCount() const { return m_debugBufferCount; }
    // The stream's format, read once per start.
    [[nodiscard]] std::optional<AudioFormat> tapFormat() const { return m_tapFormat; }

    // Runs on the write queue, once per accepted cycle, in capture order.
    void setOnBuffer(BufferHandler handler);
    // The sink whose monitor is captured; empty (the default) is the default sink. Before start().
    void setSink(const QString& sinkName) { m_sink = sinkName; }
    // The longest wait for each answer of the sound server while starting. Before start().
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }
    // The sink being captured, once started.
    [[nodiscard]] QString capturedSink() const { return m_capturedSink; }

private:
    void handleCycle(const AudioFormat& format, std::shared_ptr<PcmBuffer> copy, std::size_t bytes);

    QString m_server;
    QString m_sink;
    QString m_capturedSink;
    std::chrono::milliseconds m_timeout;
    std::shared_ptr<SoundServerConnection> m_connection;
    std::unique_ptr<RecordStream> m_stream;
    // Server indices of the monitor source and of our stream, for the log.
    std::optional<std::uint32_t> m_tapID;
    std::optional<std::uint32_t> m_streamIndex;
    std::optional<AudioFormat> m_tapFormat;
    std::shared_ptr<BufferOutlet> m_outlet;
    std::atomic<bool> m_isRunning = false;
    std::atomic<int> m_debugBufferCount = 0;
};
