#include "SoundServerConnection.h"

#include "SerialQueue.h"
#include "SoundServerError.h"

#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/operation.h>
#include <pulse/proplist.h>
#include <pulse/rtclock.h>
#include <pulse/subscribe.h>

#include <algorithm>
#include <memory>
#include <optional>

namespace {

QString text(const char* utf8)
{
    return utf8 ? QString::fromUtf8(utf8) : QString();
}

// What is left of a time-out that ends at `deadline`.
std::chrono::milliseconds left(std::chrono::steady_clock::time_point deadline)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
}

SoundServerConnection::SinkInfo sinkOf(const pa_sink_info& info)
{
    return { text(info.name), info.index, text(info.monitor_source_name), text(info.description), false };
}

// A query's answer, filled on the loop thread while the caller waits.
template <class Info> struct Answer {
    pa_threaded_mainloop* mainloop;
    std::optional<Info> info;
    int error = 0;

    void finish() { pa_threaded_mainloop_signal(mainloop, 0); }
};

}

std::shared_ptr<SoundServerConnection> SoundServerConnection::shared(
    const QString& server, std::chrono::milliseconds timeout)
{
    static std::mutex mutex;
    static std::map<QString, std::weak_ptr<SoundServerConnection>> live;
    std::lock_guard lock(mutex);
    if (auto existing = live[server].lock(); existing && existing->isReady())
        return existing;
    std::shared_ptr<SoundServerConnection> connection(new SoundServerConnection());
    connection->connect(server, timeout);
    live[server] = connection;
    return connection;
}

SoundServerConnection::SoundServerConnection()
    : m_events(std::make_unique<SerialQueue>(QStringLiteral("echoquill.soundserver.events")))
{
}

SoundServerConnection::~SoundServerConnection()
{
    if (m_mainloop) {
        pa_threaded_mainloop_lock(m_mainloop);
        if (m_context) {
            pa_context_set_state_callback(m_context, nullptr, nullptr);
            pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
        }
        pa_threaded_mainloop_unlock(m_mainloop);
        pa_threaded_mainloop_stop(m_mainloop);
        pa_threaded_mainloop_free(m_mainloop);
    }
    // Pending notifications still see the listeners, which outlive the queue.
    m_events.reset();
}

void SoundServerConnection::connect(const QString& server, std::chrono::milliseconds timeout)
{
    const QString what = QStringLiteral("Could not connect to the sound server");
    m_mainloop = pa_threaded_mainloop_new();
    if (!m_mainloop)
        throw SoundServerError(PA_ERR_INTERNAL, what);
    // Named as the desktop entry names the client, so the microphone indicator and the sound settings show
    // its name and icon.
    const std::unique_ptr<pa_proplist, decltype(&pa_proplist_free)> properties(pa_proplist_new(), &pa_proplist_free);
    pa_proplist_sets(properties.get(), PA_PROP_APPLICATION_NAME, "Echoquill");
    pa_proplist_sets(properties.get(), PA_PROP_APPLICATION_ID, "com.echoquill.Desktop");
    pa_proplist_sets(properties.get(), PA_PROP_APPLICATION_ICON_NAME, "com.echoquill.Desktop");
    m_context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_mainloop), "Echoquill", properties.get());
    if (!m_context)
        throw SoundServerError(PA_ERR_INTERNAL, what);
    pa_context_set_state_callback(m_context, &SoundServerConnection::onContextState, this);
    const QByteArray address = server.toUtf8();
    if (pa_context_connect(m_context, server.isEmpty() ? nullptr : address.constData(), PA_CONTEXT_NOAUTOSPAWN, nullptr)
        < 0)
        throw SoundServerError(pa_context_errno(m_context), what);
    pa_threaded_mainloop_set_name(m_mainloop, "echoquill-pulse");
    if (pa_threaded_mainloop_start(m_mainloop) < 0)
        throw SoundServerError(PA_ERR_INTERNAL, what);

    const auto deadline = std::chrono::steady_clock::now() + timeout;
    {
        Lock lock(*this);
        Deadline connecting(*this, timeout);
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(m_context);
            if (state == PA_CONTEXT_READY)
                break;
            if (!PA_CONTEXT_IS_GOOD(state))
                throw SoundServerError(pa_context_errno(m_context), what);
            if (connecting.passed())
                throw SoundServerError(PA_ERR_TIMEOUT, what);
            connecting.wait();
        }
        m_ready = true;
        pa_context_set_subscribe_callback(m_context, &SoundServerConnection::onSubscriptionEvent, this);
        const auto mask = pa_subscription_mask_t(
            PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SINK);
        auto done = [](pa_context*, int, void* mainloop) {
            pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(mainloop), 0);
        };
        runOperation(pa_context_subscribe(m_context, mask, done, m_mainloop), what, left(deadline));
    }
    const Defaults initial = defaults(left(deadline));
    Lock lock(*this);
    m_known = initial;
}

SoundServerConnection::Lock::Lock(SoundServerConnection& connection)
    : m_mainloop(connection.m_mainloop)
{
    pa_threaded_mainloop_lock(m_mainloop);
}

SoundServerConnection::Lock::~Lock()
{
    pa_threaded_mainloop_unlock(m_mainloop);
}

int SoundServerConnection::lastError() const
{
    const int error = pa_context_errno(m_context);
    return error ? error : PA_ERR_UNKNOWN;
}

void SoundServerConnection::signal()
{
    pa_threaded_mainloop_signal(m_mainloop, 0);
}

SoundServerConnection::Deadline::Deadline(SoundServerConnection& connection, std::chrono::microseconds timeout)
    : m_connection(connection)
{
    auto expire = [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data) {
        auto* self = static_cast<Deadline*>(data);
        self->m_passed = true;
        self->m_connection.signal();
    };
    const auto usec = pa_usec_t(std::max<std::int64_t>(timeout.count(), 0));
    m_timer = pa_context_rttime_new(connection.m_context, pa_rtclock_now() + usec, expire, this);
    // Without a timer nothing could end the wait.
    m_passed = !m_timer;
}

SoundServerConnection::Deadline::~Deadline()
{
    if (m_timer)
        m_connection.api()->time_free(m_timer);
}

void SoundServerConnection::Deadline::wait()
{
    if (!m_passed)
        pa_threaded_mainloop_wait(m_connection.m_mainloop);
}

// Expects the loop locked. A broken connection cancels the operation, which ends the wait; past
// the time-out it is cancelled here, so its callback never runs on the caller's gone answer.
void SoundServerConnection::runOperation(
    pa_operation* operation, const QString& what, std::chrono::milliseconds timeout)
{
    if (!operation)
        throw SoundServerError(lastError(), what);
    Deadline deadline(*this, timeout);
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING && !deadline.passed())
        deadline.wait();
    const bool finished = pa_operation_get_state(operation) != PA_OPERATION_RUNNING;
    if (!finished)
        pa_operation_cancel(operation);
    pa_operation_unref(operation);
    if (!finished)
        throw SoundServerError(PA_ERR_TIMEOUT, what);
}

SoundServerConnection::Defaults SoundServerConnection::defaults(std::chrono::milliseconds timeout)
{
    Q_ASSERT(!pa_threaded_mainloop_in_thread(m_mainloop));
    const QString what = QStringLiteral("Could not read the sound server's default devices");
    Answer<Defaults> answer { m_mainloop, {}, 0 };
    auto callback = [](pa_context*, const pa_server_info* info, void* data) {
        auto* answer = static_cast<Answer<Defaults>*>(data);
        if (info)
            answer->info = Defaults { text(info->default_source_name), text(info->default_sink_name) };
        answer->finish();
    };
    Lock lock(*this);
    runOperation(pa_context_get_server_info(m_context, callback, &answer), what, timeout);
    if (!answer.info)
        throw SoundServerError(lastError(), what);
    return *answer.info;
}

SoundServerConnection::SourceInfo SoundServerConnection::sourceInfo(
    const QString& name, std::chrono::milliseconds timeout)
{
    Q_ASSERT(!pa_threaded_mainloop_in_thread(m_mainloop));
    const QString what = QStringLiteral("Could not read source ") + name;
    Answer<SourceInfo> answer { m_mainloop, {}, 0 };
    auto callback = [](pa_context* context, const pa_source_info* info, int eol, void* data) {
        auto* answer = static_cast<Answer<SourceInfo>*>(data);
        if (eol < 0)
            answer->error = pa_context_errno(context);
        else if (!eol && info)
            answer->info = SourceInfo { text(info->name), info->index, info->sample_spec, info->channel_map };
        answer->finish();
    };
    Lock lock(*this);
    if (name.isEmpty())
        throw SoundServerError(PA_ERR_NOENTITY, what);
    const QByteArray source = name.toUtf8();
    runOperation(pa_context_get_source_info_by_name(m_context, source.constData(), callback, &answer), what, timeout);
    if (!answer.info)
        throw SoundServerError(answer.error ? answer.error : lastError(), what);
    return *answer.info;
}

SoundServerConnection::SinkInfo SoundServerConnection::sinkInfo(const QString& name, std::chrono::milliseconds timeout)
{
    Q_ASSERT(!pa_threaded_mainloop_in_thread(m_mainloop));
    const QString what = QStringLiteral("Could not read sink ") + name;
    Answer<SinkInfo> answer { m_mainloop, {}, 0 };
    auto callback = [](pa_context* context, const pa_sink_info* info, int eol, void* data) {
        auto* answer = static_cast<Answer<SinkInfo>*>(data);
        if (eol < 0)
            answer->error = pa_context_errno(context);
        else if (!eol && info)
            answer->info = sinkOf(*info);
        answer->finish();
    };
    Lock lock(*this);
    if (name.isEmpty())
        throw SoundServerError(PA_ERR_NOENTITY, what);
    const QByteArray sink = name.toUtf8();
    runOperation(pa_context_get_sink_info_by_name(m_context, sink.constData(), callback, &answer), what, timeout);
    if (!answer.info)
        throw SoundServerError(answer.error ? answer.error : lastError(), what);
    return *answer.info;
}

std::vector<SoundServerConnection::SinkInfo> SoundServerConnection::sinks(std::chrono::milliseconds timeout)
{
    Q_ASSERT(!pa_threaded_mainloop_in_thread(m_mainloop));
    const QString what = QStringLiteral("Could not list the sinks");
    Answer<std::vector<SinkInfo>> answer { m_mainloop, std::vector<SinkInfo>(), 0 };
    auto callback = [](pa_context* context, const pa_sink_info* info, int eol, void* data) {
        auto* answer = static_cast<Answer<std::vector<SinkInfo>>*>(data);
        if (eol < 0)
            answer->error = pa_context_errno(context);
        else if (!eol && info)
            answer->info->push_back(sinkOf(*info));
        if (eol)
            answer->finish();
    };
    // The sinks an uncorked stream plays into; a sink whose monitor is only recorded from is not playing.
    Answer<std::vector<std::uint32_t>> playing { m_mainloop, std::vector<std::uint32_t>(), 0 };
    auto inputs = [](pa_context* context, const pa_sink_input_info* info, int eol, void* data) {
        auto* answer = static_cast<Answer<std::vector<std::uint32_t>>*>(data);
        if (eol < 0)
            answer->error = pa_context_errno(context);
        else if (!eol && info && !info->corked)
            answer->info->push_back(info->sink);
        if (eol)
            answer->finish();
    };
    Lock lock(*this);
    runOperation(pa_context_get_sink_info_list(m_context, callback, &answer), what, timeout);
    runOperation(pa_context_get_sink_input_info_list(m_context, inputs, &playing), what, timeout);
    if (answer.error || playing.error)
        throw SoundServerError(answer.error ? answer.error : playing.error, what);
    for (SinkInfo& sink : *answer.info)
        sink.playing = std::find(playing.info->begin(), playing.info->end(), sink.index) != playing.info->end();
    return *answer.info;
}

int SoundServerConnection::addListener(Listener listener)
{
    std::lock_guard lock(m_listenersMutex);
    m_listeners.emplace(m_nextListener, std::move(listener));
    return m_nextListener++;
}

void SoundServerConnection::removeListener(int id)
{
    std::lock_guard lock(m_listenersMutex);
    m_listeners.erase(id);
}

void SoundServerConnection::postEvent(std::function<void()> work)
{
    m_events->post(std::move(work));
}

void SoundServerConnection::notifyListeners(const DefaultsChange& change)
{
    std::map<int, Listener> listeners;
    {
        std::lock_guard lock(m_listenersMutex);
        listeners = m_listeners;
    }
    for (const auto& [id, listener] : listeners)
        listener(change);
}

void SoundServerConnection::onContextState(pa_context* context, void* self)
{
    auto* connection = static_cast<SoundServerConnection*>(self);
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
        connection->m_ready = false;
    connection->signal();
}

void SoundServerConnection::onSubscriptionEvent(
    pa_context* context, pa_subscription_event_type_t type, std::uint32_t, void* self)
{
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    // A device coming or going can move the defaults as well as an explicit change.
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER || kind == PA_SUBSCRIPTION_EVENT_NEW
        || kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
        if (pa_operation* operation = pa_context_get_server_info(context, &SoundServerConnection::onServerInfo, self))
            pa_operation_unref(operation);
    }
}

void SoundServerConnection::onServerInfo(pa_context*, const pa_server_info* info, void* self)
{
    auto* connection = static_cast<SoundServerConnection*>(self);
    if (!info)
        return;
    const Defaults now { text(info->default_source_name), text(info->default_sink_name) };
    const DefaultsChange change { now.sourceName != connection->m_known.sourceName,
        now.sinkName != connection->m_known.sinkName };
    connection->m_known = now;
    if (change.source || change.sink)
        connection->postEvent([connection, change] { connection->notifyListeners(change); });
}
