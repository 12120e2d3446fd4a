#include "TestWindows.h"

#include <QDeadlineTimer>
#include <QThread>

#include <xcb/xcb.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

TestWindows::TestWindows(const QByteArray &displayName)
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

bool TestWindows::isConnected() const
{
    return xcb_connection_has_error(m_c) == 0;
}

quint32 TestWindows::atom(const char *name)
{
    xcb_intern_atom_reply_t *reply
        = xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, std::strlen(name), name), nullptr);
    const quint32 value = reply ? reply->atom : quint32(XCB_ATOM_NONE);
    std::free(reply);
    return value;
}

quint32 TestWindows::create(const Properties &properties)
{
    const xcb_window_t window = xcb_generate_id(m_c);
    xcb_create_window(m_c, XCB_COPY_FROM_PARENT, window, m_root, 0, 0, 320, 200, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    const auto set = [&](xcb_atom_t name, xcb_atom_t type, const QByteArray &value) {
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, window, name, type, 8, value.size(), value.constData());
    };
    set(XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, properties.windowClass.toLower() + '\0' + properties.windowClass + '\0');
    if (properties.netWmName)
        set(atom("_NET_WM_NAME"), atom("UTF8_STRING"), *properties.netWmName);
    if (properties.wmName)
        set(XCB_ATOM_WM_NAME, XCB_ATOM_STRING, *properties.wmName);
    if (properties.withProcessId) {
        const auto pid = static_cast<uint32_t>(::getpid());
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
    }
    xcb_map_window(m_c, window);
    xcb_flush(m_c);
    m_windows.push_back(window);
    // The window manager focuses a new window once it has taken it on; let that happen
    // now rather than in the middle of a test that has since activated another window.
    if (m_hasWindowManager)
        (void)waitForActiveWindow(window, 2000);
    return window;
}

void TestWindows::destroy(quint32 window)
{
    xcb_destroy_window(m_c, window);
    sync();
    m_windows.erase(std::remove(m_windows.begin(), m_windows.end(), window), m_windows.end());
}

void TestWindows::destroyAll()
{
    while (!m_windows.empty())
        destroy(m_windows.back());
}

bool TestWindows::activate(quint32 window, int timeoutMs)
{
    // The window manager may not have taken the window on yet; ask again until it has.
    // Source 2, a pager: window managers obey it without focus-stealing checks.
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        sendMessage(m_root, window, "_NET_ACTIVE_WINDOW", 2,
                    XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
        if (waitForActiveWindow(window, 200))
            return true;
    }
    return false;
}

bool TestWindows::windowManagerRoundTrip(int timeoutMs)
{
    // A window manager sets the frame extents of a window it does not manage yet when asked.
    const xcb_window_t probe = xcb_generate_id(m_c);
    xcb_create_window(m_c, XCB_COPY_FROM_PARENT, probe, m_root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    sendMessage(m_root, probe, "_NET_REQUEST_FRAME_EXTENTS", 0,
                XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
    QDeadlineTimer deadline(timeoutMs);
    bool answered = false;
    while (!(answered = !property32(probe, "_NET_FRAME_EXTENTS").isEmpty()) && !deadline.hasExpired())
        QThread::msleep(10);
    xcb_destroy_window(m_c, probe);
    sync();
    return answered;
}

void TestWindows::requestClose(quint32 window)
{
    sendMessage(window, window, "WM_PROTOCOLS", atom("WM_DELETE_WINDOW"), XCB_EVENT_MASK_NO_EVENT);
}

void TestWindows::sendMessage(quint32 destination, quint32 window, const char *type, quint32 first,
                              quint32 eventMask)
{
    xcb_client_message_event_t event {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom(type);
    event.data.data32[0] = first;
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(m_c, 0, destination, eventMask, reinterpret_cast<const char *>(&event));
    sync();
}

void TestWindows::setActiveWindowProperty(quint32 window)
{
    xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, m_root, atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 32, 1,
                        &window);
    sync();
}

void TestWindows::sync()
{
    std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
}

bool TestWindows::waitForActiveWindow(quint32 window, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (activeWindow() != window) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
    return true;
}

quint32 TestWindows::activeWindow()
{
    return property32(m_root, "_NET_ACTIVE_WINDOW").value(0, XCB_WINDOW_NONE);
}

QByteArray TestWindows::property(quint32 window, quint32 name, int format)
{
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        m_c, xcb_get_property(m_c, 0, window, name, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024), nullptr);
    QByteArray value;
    if (reply && reply->format == format)
        value = QByteArray(static_cast<const char *>(xcb_get_property_value(reply)),
                           xcb_get_property_value_length(reply));
    std::free(reply);
    return value;
}

QList<quint32> TestWindows::property32(quint32 window, const char *name)
{
    const QByteArray bytes = property(window, atom(name), 32);
    QList<quint32> values(bytes.size() / 4);
    if (!values.isEmpty())
        std::memcpy(values.data(), bytes.constData(), values.size() * 4);
    return values;
}

QRect TestWindows::geometry(quint32 window)
{
    xcb_get_geometry_reply_t *size = xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, window), nullptr);
    xcb_translate_coordinates_reply_t *origin
        = xcb_translate_coordinates_reply(m_c, xcb_translate_coordinates(m_c, window, m_root, 0, 0), nullptr);
    QRect rect;
    if (size && origin)
        rect = QRect(origin->dst_x, origin->dst_y, size->width, size->height);
    std::free(size);
    std::free(origin);
    return rect;
}

QList<quint32> TestWindows::windowsTitled(const QByteArray &title)
{
    QList<quint32> found;
    for (const quint32 window : property32(m_root, "_NET_CLIENT_LIST")) {
        if (property(window, atom("_NET_WM_NAME"), 8) == title)
            found.append(window);
    }
    return found;
}
