#pragma once

#include <QByteArray>
#include <QList>
#include <QRect>

#include <optional>
#include <vector>

struct xcb_connection_t;

// Real top-level windows on an X display, with the class, titles and process
// id a test chooses, made active through the window manager like a user would.
class TestWindows {
public:
    struct Properties {
        // WM_CLASS class; the instance name is its lower-case form.
        QByteArray windowClass;
        // _NET_WM_NAME, as UTF8_STRING.
        std::optional<QByteArray> netWmName;
        // WM_NAME, as STRING, bytes as given.
        std::optional<QByteArray> wmName;
        bool withProcessId = true;
    };

    // An empty display name means $DISPLAY.
    explicit TestWindows(const QByteArray& displayName = {});
    ~TestWindows();
    TestWindows(const TestWindows&) = delete;
    TestWindows& operator=(const TestWindows&) = delete;

    [[nodiscard]] bool isConnected() const { return m_root != 0; }
    // Creates and maps the window, and waits until a window manager has focused it.
    // It is destroyed with this object at the latest.
    quint32 create(const Properties& properties);
    // Returns once the server has destroyed the window.
    void destroy(quint32 window);
    void destroyAll()
    {
        while (!m_windows.empty())
            destroy(m_windows.back());
    }
    // Asks the window manager to activate the window and waits until it says so.
    [[nodiscard]] bool activate(quint32 window, int timeoutMs = 5000);
    // For displays without a window manager: writes _NET_ACTIVE_WINDOW on the root ourselves.
    void setActiveWindowProperty(quint32 window);
    [[nodiscard]] quint32 activeWindow() { return property32(m_root, "_NET_ACTIVE_WINDOW").value(0); }
    // The managed windows from bottom to top, as the window manager stacks them.
    [[nodiscard]] QList<quint32> stacking() { return property32(m_root, "_NET_CLIENT_LIST_STACKING"); }
    // Waits until the window manager has answered a request sent now, and so has
    // handled whatever any client asked of it before (a window mapped, focused…).
    [[nodiscard]] bool windowManagerRoundTrip(int timeoutMs = 5000);

    // The managed windows (any client's) whose _NET_WM_NAME is `title`, as the window manager lists them.
    [[nodiscard]] QList<quint32> windowsTitled(const QByteArray& title);
    // Asks a window to close as its close button would (WM_DELETE_WINDOW).
    void requestClose(quint32 window);

    // Any window's 32-bit property (CARDINAL, ATOM, WINDOW…) as the server holds it; empty when unset.
    [[nodiscard]] QList<quint32> property32(quint32 window, const char* name);
    // Where any window is on the screen, in root coordinates.
    [[nodiscard]] QRect geometry(quint32 window);
    quint32 atom(const char* name);

private:
    void sendMessage(quint32 destination, quint32 window, const char* type, quint32 first, quint32 eventMask);
    // The bytes of a property stored in `format`-bit units; empty when unset or stored otherwise.
    [[nodiscard]] QByteArray property(quint32 window, quint32 name, int format);
    // A round trip: what we sent before is done for every other client from here on.
    void sync();

    xcb_connection_t* m_c = nullptr;
    quint32 m_root = 0;
    bool m_hasWindowManager = false;
    std::vector<quint32> m_windows;
};
