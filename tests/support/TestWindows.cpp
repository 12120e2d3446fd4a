#include "TestWindows.h"

#include <QDeadlineTimer>
#include <QThread>

#include <xcb/xcb.h>

#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <memory>

static constexpr quint32 toWindowManager = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;

template <typename Reply> static std::unique_ptr<Reply, void (*)(void*)> owned(Reply* reply)
{
    return { reply, std::free };
}

static bool pollUntil(const std::function<bool()>& done, int timeoutMs)
{
    for (QDeadlineTimer deadline(timeoutMs); !done(); QThread::msleep(10))
        if (deadline.hasExpired())
            return false;
    return true;
}

TestWindows::TestWindows(const QByteArray& displayName)
{
    int screen = 0;
    m_c = xcb_connect(displayName.isEmpty() ? nullptr : displayName.constData(), &screen);
    if (xcb_connection_has_error(m_c))
        return;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_c));
    for (int i = 0; i < screen; ++i)
        xcb_screen_next(&it);
    m_root = it.data->root;
    m_hasWindowManager = property32(m_root, "_NET_SUPPORTING_WM_CHECK").size() == 1;
}

TestWindows::~TestWindows()
{
    destroyAll();
    xcb_disconnect(m_c);
}

quint32 TestWindows::atom(const char* name)
{
    const auto reply = owned(xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, qstrlen(name), name), nullptr));
    return reply ? reply->atom : quint32(XCB_ATOM_NONE);
}

quint32 TestWindows::create(const Properties& properties)
{
    const xcb_window_t window = xcb_generate_id(m_c);
    xcb_create_window(m_c, XCB_COPY_FROM_PARENT, window, m_root, 0, 0, 320, 200, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
        XCB_COPY_FROM_PARENT, 0, nullptr);
    const auto set = [&](xcb_atom_t name, xcb_atom_t type, const QByteArray& value) {
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, window, name, type, 8, value.size(), value.constData());
    };
    set(XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, properties.windowClass.toLower() + '\0' + properties.windowClass + '\0');
    if (properties.netWmName)
        set(atom("_NET_WM_NAME"), atom("UTF8_STRING"), *properties.netWmName);
    if (properties.wmName)
        set(XCB_ATOM_WM_NAME, XCB_ATOM_STRING, *properties.wmName);
    if (const auto pid = static_cast<uint32_t>(::getpid()); properties.withProcessId)
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
    xcb_map_window(m_c, window);
    xcb_flush(m_c);
    m_windows.push_back(window);
    // Let the window manager focus the new window now, not in the middle of a later activation.
    if (m_hasWindowManager)
        (void)pollUntil([&] { return activeWindow() == window; }, 2000);
    return window;
}

void TestWindows::destroy(quint32 window)
{
    xcb_destroy_window(m_c, window);
    sync();
    std::erase(m_windows, window);
}

bool TestWindows::activate(quint32 window, int timeoutMs)
{
    // Asked again until the window manager has taken the window on; source 2 (a pager) skips focus-stealing checks.
    return pollUntil(
        [&] {
            sendMessage(m_root, window, "_NET_ACTIVE_WINDOW", 2, toWindowManager);
            return pollUntil([&] { return activeWindow() == window; }, 200);
        },
        timeoutMs);
}

bool TestWindows::windowManagerRoundTrip(int timeoutMs)
{
    // A window manager sets the frame extents of a window it does not manage yet when asked.
    const xcb_window_t probe = xcb_generate_id(m_c);
    xcb_create_window(m_c, XCB_COPY_FROM_PARENT, probe, m_root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
        XCB_COPY_FROM_PARENT, 0, nullptr);
    sendMessage(m_root, probe, "_NET_REQUEST_FRAME_EXTENTS", 0, toWindowManager);
    const bool answered = pollUntil([&] { return !property32(probe, "_NET_FRAME_EXTENTS").isEmpty(); }, timeoutMs);
    xcb_destroy_window(m_c, probe);
    sync();
    return answered;
}

void TestWindows::requestClose(quint32 window)
{
    sendMessage(window, window, "WM_PROTOCOLS", atom("WM_DELETE_WINDOW"), XCB_EVENT_MASK_NO_EVENT);
}

void TestWindows::sendMessage(quint32 destination, quint32 window, const char* type, quint32 first, quint32 eventMask)
{
    const xcb_client_message_event_t event { .response_type = XCB_CLIENT_MESSAGE,
        .format = 32,
        .sequence = 0,
        .window = window,
        .type = atom(type),
        .data = { .data32 = { first, XCB_CURRENT_TIME } } };
    xcb_send_event(m_c, 0, destination, eventMask, reinterpret_cast<const char*>(&event));
    sync();
}

void TestWindows::setActiveWindowProperty(quint32 window)
{
    xcb_change_property(
        m_c, XCB_PROP_MODE_REPLACE, m_root, atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 32, 1, &window);
    sync();
}

void TestWindows::sync()
{
    std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
}

QByteArray TestWindows::property(quint32 window, quint32 name, int format)
{
    const auto reply = owned(xcb_get_property_reply(
        m_c, xcb_get_property(m_c, 0, window, name, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024), nullptr));
    return reply && reply->format == format ? QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
               xcb_get_property_value_length(reply.get()))
                                            : QByteArray();
}

QList<quint32> TestWindows::property32(quint32 window, const char* name)
{
    const QByteArray bytes = property(window, atom(name), 32);
    const auto* values = reinterpret_cast<const quint32*>(bytes.constData());
    return QList<quint32>(values, values + bytes.size() / 4);
}

QRect TestWindows::geometry(quint32 window)
{
    const auto size = owned(xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, window), nullptr));
    const auto origin
        = owned(xcb_translate_coordinates_reply(m_c, xcb_translate_coordinates(m_c, window, m_root, 0, 0), nullptr));
    return size && origin ? QRect(origin->dst_x, origin->dst_y, size->width, size->height) : QRect();
}

QList<quint32> TestWindows::windowsTitled(const QByteArray& title)
{
    QList<quint32> found = property32(m_root, "_NET_CLIENT_LIST");
    found.removeIf([&](quint32 window) { return property(window, atom("_NET_WM_NAME"), 8) != title; });
    return found;
}
