#pragma once

#include "AudioFormat.h"
#include "PcmBuffer.h"

#include <pulse/stream.h>

#include <QString>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

class SoundServerConnection;

// A record stream on one source of the sound server, set up step by step so
// callers can tell which step failed. Handlers run on the connection's loop
// thread with the loop locked; none runs once the object is gone.
class RecordStream {
public:
    // Everything readable, copied into one fresh buffer (gaps in the
    // stream become silence); `bytes` is what the server delivered. The buffer
    // is null when it holds no whole frame or memory ran out.
    using FragmentHandler = std::function<void(std::shared_ptr<PcmBuffer> copy, std::size_t bytes)>;
    // The server moved the stream to another device or ended it.
    using InterruptionHandler = std::function<void()>;

    // `format` is what the stream delivers: interleaved float32.
    RecordStream(std::shared_ptr<SoundServerConnection> connection, const AudioFormat& format,
        FragmentHandler onFragment, InterruptionHandler onInterruption);
    ~RecordStream();
    RecordStream(const RecordStream&) = delete;
    RecordStream& operator=(const RecordStream&) = delete;

    // Each step throws SoundServerError with the server's code.
    void create(const QString& name, const pa_channel_map& channelMap);
    // Fixed to `sourceName`: when that device goes, the stream ends instead of moving.
    // Buffers go out once `fragmentBytes` have arrived.
    void connect(const QString& sourceName, std::uint32_t fragmentBytes);
    void waitUntilReady(std::chrono::milliseconds timeout);

    // The server's index of the stream (its source output).
    [[nodiscard]] std::uint32_t index() const;

    // Before the stream goes: waits at most two fragments' time for the fragment in flight, then
    // hands out everything readable, a partial fragment too, so a stop loses no audio the server had.
    void drain();

private:
    // Copies out what is readable once at least `least` bytes are there.
    void readOut(pa_stream* stream, std::size_t least);
    static void onRead(pa_stream* stream, std::size_t, void* self);
    static void onState(pa_stream* stream, void* self);
    static void onMoved(pa_stream* stream, void* self);

    std::shared_ptr<SoundServerConnection> m_connection;
    AudioFormat m_format;
    FragmentHandler m_onFragment;
    InterruptionHandler m_onInterruption;
    pa_stream* m_stream = nullptr;
    std::size_t m_fragmentBytes = 0;
    bool m_wasReady = false;
    // Fragments handed out, counted with the loop locked; a drain waits for the next one.
    std::uint64_t m_deliveries = 0;
};
