#include "MicrophoneHolders.h"

#include <QCoreApplication>

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/operation.h>
#include <pulse/proplist.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>

namespace {

// What our own sound-server connections call themselves.
constexpr auto ownApplicationName = "Echoquill";

QString propertyOf(const pa_proplist* properties, const char* key)
{
    const char* value = pa_proplist_gets(properties, key);
    return value ? QString::fromUtf8(value) : QString();
}

bool isOwn(const pa_proplist* properties)
{
    return propertyOf(properties, PA_PROP_APPLICATION_PROCESS_ID).toLongLong() == QCoreApplication::applicationPid()
        || propertyOf(properties, PA_PROP_APPLICATION_NAME) == QLatin1String(ownApplicationName);
}

void forget(pa_operation* operation)
{
    if (operation)
        pa_operation_unref(operation);
}

}

MicrophoneHolders::MicrophoneHolders(QString server, std::chrono::milliseconds retryAfter, QObject* parent)
    : QObject(parent)
    , m_server(std::move(server))
{
    m_retry.setSingleShot(true);
    m_retry.setInterval(retryAfter);
    connect(&m_retry, &QTimer::timeout, this, [this] {
        pa_threaded_mainloop_lock(m_mainloop);
        connectToServer();
        pa_threaded_mainloop_unlock(m_mainloop);
    });
    m_mainloop = pa_threaded_mainloop_new();
    if (!m_mainloop)
        return;
    pa_threaded_mainloop_set_name(m_mainloop, "echoquill-mic-holders");
    if (pa_threaded_mainloop_start(m_mainloop) < 0) {
        pa_threaded_mainloop_free(m_mainloop);
        m_mainloop = nullptr;
        return;
    }
    pa_threaded_mainloop_lock(m_mainloop);
    connectToServer();
    pa_threaded_mainloop_unlock(m_mainloop);
}

MicrophoneHolders::~MicrophoneHolders()
{
    if (!m_mainloop)
        return;
    pa_threaded_mainloop_lock(m_mainloop);
    dropContext();
    pa_threaded_mainloop_unlock(m_mainloop);
    pa_threaded_mainloop_stop(m_mainloop);
    pa_threaded_mainloop_free(m_mainloop);
}

void MicrophoneHolders::dropContext()
{
    if (!m_context)
        return;
    // No callback may run for a context that is going.
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
}

void MicrophoneHolders::connectToServer()
{
    dropContext();
    m_collecting.clear();
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_mainloop), ownApplicationName);
    if (!m_context)
        return;
    pa_context_set_state_callback(m_context, &MicrophoneHolders::onContextState, this);
    const QByteArray server = m_server.toUtf8();
    // A refusal here also ends in the failed state, whose handler tries again later.
    pa_context_connect(m_context, m_server.isEmpty() ? nullptr : server.constData(), PA_CONTEXT_NOAUTOSPAWN, nullptr);
}

// On the loop thread. Answers come in the order asked, so one list is collected at a time.
void MicrophoneHolders::listStreams()
{
    auto collect = [](pa_context*, const pa_source_output_info* info, int eol, void* data) {
        auto* self = static_cast<MicrophoneHolders*>(data);
        if (!eol && info && !info->corked && !isOwn(info->proplist)) {
            self->m_collecting.append({ propertyOf(info->proplist, PA_PROP_APPLICATION_NAME),
                propertyOf(info->proplist, PA_PROP_APPLICATION_PROCESS_BINARY),
                propertyOf(info->proplist, PA_PROP_MEDIA_NAME) });
        }
        if (eol) {
            QMetaObject::invokeMethod(
                self, [self, streams = std::exchange(self->m_collecting, {})] { self->setStreams(streams); },
                Qt::QueuedConnection);
        }
    };
    forget(pa_context_get_source_output_info_list(m_context, collect, this));
}

void MicrophoneHolders::setStreams(QList<Stream> streams)
{
    if (streams == m_streams)
        return;
    m_streams = std::move(streams);
    emit streamsChanged();
}

void MicrophoneHolders::onContextState(pa_context* context, void* data)
{
    auto* self = static_cast<MicrophoneHolders*>(data);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY: {
        auto onEvent = [](pa_context*, pa_subscription_event_type_t type, uint32_t, void* data) {
            if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SOURCE_OUTPUT)
                static_cast<MicrophoneHolders*>(data)->listStreams();
        };
        pa_context_set_subscribe_callback(context, onEvent, self);
        forget(pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT, nullptr, nullptr));
        self->listStreams();
        break;
    }
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        QMetaObject::invokeMethod(
            self,
            [self] {
                self->setStreams({});
                self->m_retry.start();
            },
            Qt::QueuedConnection);
        break;
    default:
        break;
    }
}
