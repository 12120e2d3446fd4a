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
    xcb_get_property_reply_t *check = xcb_get_property_reply(
        m_c, xcb_get_property(m_c, 0, m_root, atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW, 0, 1), nullptr);
    m_hasWindowManager = check && xcb_get_property_value_length(check) == 4;
    std::free(check);
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

    const QByteArray classes = properties.windowClass.toLower() + '\0' + properties.windowClass + '\0';
    xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, classes.size(),
                        classes.constData());
    if (properties.netWmName)
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8,
                            properties.netWmName->size(), properties.netWmName->constData());
    if (properties.wmName)
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            properties.wmName->size(), properties.wmName->constData());
    if (properties.withProcessId) {
        const uint32_t pid = static_cast<uint32_t>(::getpid());
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
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        xcb_client_message_event_t event {};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = atom("_NET_ACTIVE_WINDOW");
        event.data.data32[0] = 2; // source: a pager, which window managers obey without focus-stealing checks
        event.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(m_c, 0, m_root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char *>(&event));
        xcb_flush(m_c);
        if (waitForActiveWindow(window, 200))
            return true;
    }
    return false;
}

void TestWindows::setActiveWindowProperty(quint32 window)
{
    xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, m_root, atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 32, 1,
                        &window);
    sync();
}

void TestWindows::sync()
{
    // A round trip: what we sent before is done for every other client from here on.
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
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        m_c, xcb_get_property(m_c, 0, m_root, atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 0, 1), nullptr);
    quint32 window = XCB_WINDOW_NONE;
    if (reply && xcb_get_property_value_length(reply) == 4)
        window = *static_cast<const uint32_t *>(xcb_get_property_value(reply));
    std::free(reply);
    return window;
}

QList<quint32> TestWindows::property32(quint32 window, const char *name)
{
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        m_c, xcb_get_property(m_c, 0, window, atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 1024), nullptr);
    QList<quint32> values;
    if (reply && reply->format == 32) {
        const auto *data = static_cast<const uint32_t *>(xcb_get_property_value(reply));
        values = QList<quint32>(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
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
        xcb_get_property_reply_t *reply = xcb_get_property_reply(
            m_c, xcb_get_property(m_c, 0, window, atom("_NET_WM_NAME"), XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr);
        if (reply
            && QByteArray(static_cast<const char *>(xcb_get_property_value(reply)),
                          xcb_get_property_value_length(reply))
                == title)
            found.append(window);
        std::free(reply);
    }
    return found;
}

void TestWindows::requestClose(quint32 window)
{
    xcb_client_message_event_t event {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(m_c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
    sync();
}
