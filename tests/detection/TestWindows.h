#pragma once

#include <QByteArray>

#include <optional>
#include <vector>

struct xcb_connection_t;

// Real top-level windows on an X display, with the class, titles and process
// id a test chooses, made active through the window manager like a user would.
class TestWindows {
public:
    struct Spec {
        // WM_CLASS class; the instance name is its lower-case form.
        QByteArray windowClass;
        // _NET_WM_NAME, as UTF8_STRING.
        std::optional<QByteArray> netWmName;
        // WM_NAME, as STRING, bytes as given.
        std::optional<QByteArray> wmName;
        bool withProcessId = true;
    };

    // An empty display name means $DISPLAY.
    explicit TestWindows(const QByteArray &displayName = {});
    ~TestWindows();
    TestWindows(const TestWindows &) = delete;
    TestWindows &operator=(const TestWindows &) = delete;

    [[nodiscard]] bool isConnected() const;
    // Creates and maps the window, and waits until a window manager has focused it.
    // It is destroyed with this object at the latest.
    quint32 create(const Spec &spec);
    // Returns once the server has destroyed the window.
    void destroy(quint32 window);
    void destroyAll();
    // Asks the window manager to activate the window and waits until it says so.
    [[nodiscard]] bool activate(quint32 window, int timeoutMs = 5000);
    // For displays without a window manager: writes _NET_ACTIVE_WINDOW on the root ourselves.
    // Returns once the server has stored it.
    void setActiveWindowProperty(quint32 window);
    [[nodiscard]] bool waitForActiveWindow(quint32 window, int timeoutMs = 5000);
    [[nodiscard]] quint32 activeWindow();

private:
    quint32 atom(const char *name);
    void sync();

    xcb_connection_t *m_c = nullptr;
    quint32 m_root = 0;
    bool m_hasWindowManager = false;
    std::vector<quint32> m_windows;
};
