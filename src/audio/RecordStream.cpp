#include "RecordStream.h"

#include "SoundServerConnection.h"
#include "SoundServerError.h"

RecordStream::RecordStream(std::shared_ptr<SoundServerConnection> connection, FragmentHandler onFragment,
                           InterruptionHandler onInterruption)
    : m_connection(std::move(connection))
    , m_onFragment(std::move(onFragment))
    , m_onInterruption(std::move(onInterruption))
{
}

RecordStream::~RecordStream()
{
    if (!m_stream)
        return;
    SoundServerConnection::Lock lock(*m_connection);
    pa_stream_set_read_callback(m_stream, nullptr, nullptr);
    pa_stream_set_state_callback(m_stream, nullptr, nullptr);
    pa_stream_set_moved_callback(m_stream, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream)))
        pa_stream_disconnect(m_stream);
    pa_stream_unref(m_stream);
}

void RecordStream::create(const QString &name, const pa_sample_spec &spec, const pa_channel_map &channelMap)
{
    SoundServerConnection::Lock lock(*m_connection);
    m_stream = pa_stream_new(m_connection->context(), name.toUtf8().constData(), &spec, &channelMap);
    if (!m_stream)
        throw SoundServerError(m_connection->lastError(), QStringLiteral("Could not create the record stream"));
    pa_stream_set_read_callback(m_stream, &RecordStream::onRead, this);
    pa_stream_set_state_callback(m_stream, &RecordStream::onState, this);
    pa_stream_set_moved_callback(m_stream, &RecordStream::onMoved, this);
}

void RecordStream::connect(const QString &sourceName, std::uint32_t fragmentBytes)
{
    pa_buffer_attr attr {};
    attr.maxlength = std::uint32_t(-1);
    attr.tlength = std::uint32_t(-1);
    attr.prebuf = std::uint32_t(-1);
    attr.minreq = std::uint32_t(-1);
    attr.fragsize = fragmentBytes;
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    SoundServerConnection::Lock lock(*m_connection);
    if (pa_stream_connect_record(m_stream, sourceName.toUtf8().constData(), &attr, flags) < 0)
        throw SoundServerError(m_connection->lastError(), QStringLiteral("Could not connect the record stream to ") + sourceName);
}

void RecordStream::waitUntilReady()
{
    SoundServerConnection::Lock lock(*m_connection);
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(m_stream);
        if (state == PA_STREAM_READY)
            return;
        if (!PA_STREAM_IS_GOOD(state))
            throw SoundServerError(m_connection->lastError(), QStringLiteral("The record stream did not start"));
        m_connection->wait();
    }
}

std::uint32_t RecordStream::index() const
{
    SoundServerConnection::Lock lock(*m_connection);
    return m_stream ? pa_stream_get_index(m_stream) : PA_INVALID_INDEX;
}

void RecordStream::onRead(pa_stream *stream, std::size_t, void *self)
{
    auto *owner = static_cast<RecordStream *>(self);
    const void *data = nullptr;
    std::size_t bytes = 0;
    while (pa_stream_readable_size(stream) > 0) {
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
            return;
        owner->m_onFragment(data, bytes);
        pa_stream_drop(stream);
    }
}

void RecordStream::onState(pa_stream *stream, void *self)
{
    auto *owner = static_cast<RecordStream *>(self);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY)
        owner->m_wasReady = true;
    else if (!PA_STREAM_IS_GOOD(state) && owner->m_wasReady && owner->m_onInterruption)
        owner->m_onInterruption();
    owner->m_connection->signal();
}

void RecordStream::onMoved(pa_stream *, void *self)
{
    auto *owner = static_cast<RecordStream *>(self);
    if (owner->m_onInterruption)
        owner->m_onInterruption();
}
