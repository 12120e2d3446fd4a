#include "RecordStream.h"

#include "SoundServerConnection.h"
#include "SoundServerError.h"

#include <pulse/error.h>
#include <pulse/proplist.h>

#include <algorithm>
#include <memory>

RecordStream::RecordStream(std::shared_ptr<SoundServerConnection> connection, const AudioFormat& format,
    FragmentHandler onFragment, InterruptionHandler onInterruption)
    : m_connection(std::move(connection))
    , m_format(format)
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

void RecordStream::create(const QString& name, const pa_channel_map& channelMap)
{
    const pa_sample_spec sampleFormat { PA_SAMPLE_FLOAT32LE, std::uint32_t(m_format.sampleRate),
        std::uint8_t(m_format.channelCount) };
    SoundServerConnection::Lock lock(*m_connection);
    // A recording made for the user: not a call, which would have other streams corked.
    const std::unique_ptr<pa_proplist, decltype(&pa_proplist_free)> properties(pa_proplist_new(), &pa_proplist_free);
    pa_proplist_sets(properties.get(), PA_PROP_MEDIA_ROLE, "production");
    m_stream = pa_stream_new_with_proplist(
        m_connection->context(), name.toUtf8().constData(), &sampleFormat, &channelMap, properties.get());
    if (!m_stream)
        throw SoundServerError(m_connection->lastError(), QStringLiteral("Could not create the record stream"));
    pa_stream_set_read_callback(m_stream, &RecordStream::onRead, this);
    pa_stream_set_state_callback(m_stream, &RecordStream::onState, this);
    pa_stream_set_moved_callback(m_stream, &RecordStream::onMoved, this);
}

void RecordStream::connect(const QString& sourceName, std::uint32_t fragmentBytes)
{
    pa_buffer_attr attr {};
    attr.maxlength = std::uint32_t(-1);
    attr.tlength = std::uint32_t(-1);
    attr.prebuf = std::uint32_t(-1);
    attr.minreq = std::uint32_t(-1);
    attr.fragsize = fragmentBytes;
    m_fragmentBytes = fragmentBytes;
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    SoundServerConnection::Lock lock(*m_connection);
    if (pa_stream_connect_record(m_stream, sourceName.toUtf8().constData(), &attr, flags) < 0)
        throw SoundServerError(
            m_connection->lastError(), QStringLiteral("Could not connect the record stream to ") + sourceName);
}

void RecordStream::waitUntilReady(std::chrono::milliseconds timeout)
{
    const QString what = QStringLiteral("The record stream did not start");
    SoundServerConnection::Lock lock(*m_connection);
    SoundServerConnection::Deadline deadline(*m_connection, timeout);
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(m_stream);
        if (state == PA_STREAM_READY)
            return;
        if (!PA_STREAM_IS_GOOD(state))
            throw SoundServerError(m_connection->lastError(), what);
        if (deadline.passed())
            throw SoundServerError(PA_ERR_TIMEOUT, what);
        deadline.wait();
    }
}

std::uint32_t RecordStream::index() const
{
    SoundServerConnection::Lock lock(*m_connection);
    return m_stream ? pa_stream_get_index(m_stream) : PA_INVALID_INDEX;
}

void RecordStream::drain()
{
    if (!m_stream)
        return;
    SoundServerConnection::Lock lock(*m_connection);
    if (pa_stream_get_state(m_stream) != PA_STREAM_READY)
        return;
    const double fragmentSeconds = double(m_fragmentBytes)
        / double(std::max<std::uint32_t>(m_format.bytesPerFrame(), 1)) / std::max(m_format.sampleRate, 1.0);
    // A server that stopped answering holds the stop no longer than that.
    const auto twoFragments = std::chrono::microseconds(std::int64_t(2.0 * fragmentSeconds * 1e6));
    SoundServerConnection::Deadline deadline(*m_connection, twoFragments);
    const std::uint64_t before = m_deliveries;
    while (!deadline.passed() && m_deliveries == before && pa_stream_get_state(m_stream) == PA_STREAM_READY)
        deadline.wait();
    if (pa_stream_get_state(m_stream) == PA_STREAM_READY)
        readOut(m_stream, m_format.bytesPerFrame());
}

// The server sends pieces of any size (a few frames from some devices). They wait in the
// stream until a whole fragment is there, then go out as one buffer: one allocation, one copy.
void RecordStream::onRead(pa_stream* stream, std::size_t, void* self)
{
    auto* owner = static_cast<RecordStream*>(self);
    owner->readOut(stream, std::max<std::size_t>(owner->m_fragmentBytes, 1));
}

void RecordStream::readOut(pa_stream* stream, std::size_t least)
{
    const std::size_t readable = pa_stream_readable_size(stream);
    if (readable == 0 || readable == std::size_t(-1) || readable < least)
        return;
    const auto frames = std::uint32_t(readable / m_format.bytesPerFrame());
    std::shared_ptr<PcmBuffer> copy = frames ? PcmBuffer::create(m_format, frames) : nullptr;
    std::size_t taken = 0;
    while (taken < readable) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
            break;
        if (copy)
            copy->copyIn(taken, data, bytes);
        taken += bytes;
        pa_stream_drop(stream);
    }
    if (copy)
        copy->setFrameLength(std::uint32_t(std::min(taken, readable) / m_format.bytesPerFrame()));
    ++m_deliveries;
    m_onFragment(std::move(copy), std::min(taken, readable));
    m_connection->signal();
}

void RecordStream::onState(pa_stream* stream, void* self)
{
    auto* owner = static_cast<RecordStream*>(self);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY)
        owner->m_wasReady = true;
    else if (!PA_STREAM_IS_GOOD(state) && owner->m_wasReady && owner->m_onInterruption)
        owner->m_onInterruption();
    owner->m_connection->signal();
}

void RecordStream::onMoved(pa_stream*, void* self)
{
    auto* owner = static_cast<RecordStream*>(self);
    if (owner->m_onInterruption)
        owner->m_onInterruption();
}
