#pragma once

#include <pulse/channelmap.h>
#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/sample.h>
#include <pulse/thread-mainloop.h>

#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class SerialQueue;

// The process's connection to the sound server (libpulse with its own loop
// thread), shared by the capture services and made when first needed. It
// answers which devices are the defaults and reports when they change.
class SoundServerConnection {
public:
    struct Defaults {
        QString sourceName; // empty when the server has no source
        QString sinkName; // empty when the server has no sink
    };
    struct SourceInfo {
        QString name;
        std::uint32_t index = 0;
        pa_sample_spec sampleSpec {};
        pa_channel_map channelMap {};
    };
    struct SinkInfo {
        QString name;
        std::uint32_t index = 0;
        QString monitorSourceName;
        QString description;
        // Some stream plays into it (filled in by sinks() only).
        bool playing = false;
    };
    struct DefaultsChange {
        bool source = false;
        bool sink = false;
    };
    using Listener = std::function<void(const DefaultsChange&)>;

    // How long a caller waits for the server unless it says otherwise; past it the wait fails with PA_ERR_TIMEOUT.
    static constexpr std::chrono::milliseconds defaultTimeout { 5000 };

    // The live connection to `server` (empty: libpulse's default, PULSE_SERVER
    // or client.conf), connecting first when there is none or the last one
    // broke. Throws SoundServerError.
    static std::shared_ptr<SoundServerConnection> shared(
        const QString& server = {}, std::chrono::milliseconds timeout = defaultTimeout);
    ~SoundServerConnection();
    SoundServerConnection(const SoundServerConnection&) = delete;
    SoundServerConnection& operator=(const SoundServerConnection&) = delete;

    [[nodiscard]] bool isReady() const { return m_ready; }

    // Round trips to the server; they block the caller, which must not be the
    // loop thread, at most `timeout`, and throw SoundServerError.
    [[nodiscard]] Defaults defaults(std::chrono::milliseconds timeout = defaultTimeout);
    [[nodiscard]] SourceInfo sourceInfo(const QString& name, std::chrono::milliseconds timeout = defaultTimeout);
    [[nodiscard]] SinkInfo sinkInfo(const QString& name, std::chrono::milliseconds timeout = defaultTimeout);
    [[nodiscard]] std::vector<SinkInfo> sinks(std::chrono::milliseconds timeout = defaultTimeout);

    // Listeners hear about default source or sink changes on the connection's
    // event thread (never the loop thread), so they may start and stop streams.
    int addListener(Listener listener);
    void removeListener(int id);
    // Runs `work` on the event thread, after the events posted before it.
    void postEvent(std::function<void()> work);

    // For stream owners: everything below is used with the loop locked.
    class Lock {
    public:
        explicit Lock(SoundServerConnection& connection);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* m_mainloop;
    };
    [[nodiscard]] pa_context* context() const { return m_context; }
    [[nodiscard]] pa_mainloop_api* api() const { return pa_threaded_mainloop_get_api(m_mainloop); }
    [[nodiscard]] int lastError() const;
    // Wakes the waiting caller; called from stream callbacks on the loop thread.
    void signal();

    // A bounded wait with the loop locked: the loop's own timer ends it, so a server
    // that stopped answering cannot hold the caller. Made and dropped with the loop locked.
    class Deadline {
    public:
        Deadline(SoundServerConnection& connection, std::chrono::microseconds timeout);
        ~Deadline();
        Deadline(const Deadline&) = delete;
        Deadline& operator=(const Deadline&) = delete;

        [[nodiscard]] bool passed() const { return m_passed; }
        // Sleeps until a callback signals the loop, the connection breaks or the time is up.
        void wait();

    private:
        SoundServerConnection& m_connection;
        pa_time_event* m_timer = nullptr;
        bool m_passed = false;
    };

private:
    SoundServerConnection();
    void connect(const QString& server, std::chrono::milliseconds timeout);
    void runOperation(pa_operation* operation, const QString& what, std::chrono::milliseconds timeout);
    void notifyListeners(const DefaultsChange& change);

    static void onContextState(pa_context* context, void* self);
    static void onSubscriptionEvent(
        pa_context* context, pa_subscription_event_type_t type, std::uint32_t index, void* self);
    static void onServerInfo(pa_context* context, const pa_server_info* info, void* self);

    pa_threaded_mainloop* m_mainloop = nullptr;
    pa_context* m_context = nullptr;
    std::atomic<bool> m_ready = false;
    // Last defaults seen; touched only on the loop thread or with the loop locked.
    Defaults m_known;

    std::mutex m_listenersMutex;
    std::map<int, Listener> m_listeners;
    int m_nextListener = 0;
    std::unique_ptr<SerialQueue> m_events;
};
