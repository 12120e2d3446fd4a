#pragma once

#include <pulse/stream.h>

#include <QString>

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
    // `data` is null for a gap in the stream, which the handler turns into silence.
    using FragmentHandler = std::function<void(const void *data, std::size_t bytes)>;
    // The server moved the stream to another device or ended it.
    using InterruptionHandler = std::function<void()>;

    RecordStream(std::shared_ptr<SoundServerConnection> connection, FragmentHandler onFragment,
                 InterruptionHandler onInterruption);
    ~RecordStream();
    RecordStream(const RecordStream &) = delete;
    RecordStream &operator=(const RecordStream &) = delete;

    // Each step throws SoundServerError with the server's code.
    void create(const QString &name, const pa_sample_spec &spec, const pa_channel_map &channelMap);
    // Fixed to `sourceName`: when that device goes, the stream ends instead of moving.
    void connect(const QString &sourceName, std::uint32_t fragmentBytes);
    void waitUntilReady();

    // The server's index of the stream (its source output).
    [[nodiscard]] std::uint32_t index() const;

private:
    static void onRead(pa_stream *stream, std::size_t, void *self);
    static void onState(pa_stream *stream, void *self);
    static void onMoved(pa_stream *stream, void *self);

    std::shared_ptr<SoundServerConnection> m_connection;
    FragmentHandler m_onFragment;
    InterruptionHandler m_onInterruption;
    pa_stream *m_stream = nullptr;
    bool m_wasReady = false;
};
