#pragma once

#include "FrontmostApplication.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

#include <chrono>
#include <future>
#include <memory>
#include <optional>

// Reads the foreground from the X server through EWMH: the active window, its
// class, process and title. One connection, a few pipelined round trips per
// call, and every wait bounded, so a stuck or vanished server never holds up
// the caller for longer than the reply timeout.
class X11ForegroundReader {
public:
    // An empty display name means $DISPLAY.
    explicit X11ForegroundReader(
        QByteArray displayName = {}, std::chrono::milliseconds replyTimeout = std::chrono::seconds(1));
    ~X11ForegroundReader();
    X11ForegroundReader(const X11ForegroundReader&) = delete;
    X11ForegroundReader& operator=(const X11ForegroundReader&) = delete;

    // Absent without an active window, without a display, or on any X error.
    // A broken connection is replaced here, at most once per call, within the reply timeout.
    [[nodiscard]] std::optional<FrontmostApplication> frontmostApplication();
    // _NET_WM_NAME of the application's window, else WM_NAME; absent if neither is set or on error.
    [[nodiscard]] std::optional<QString> focusedWindowTitle(const FrontmostApplication& application);

    // The readable name of a window class from a table of known applications, else the class itself.
    [[nodiscard]] static QString applicationName(const QString& windowClass);

private:
    class Connection;

    // Null while there is none yet, e.g. a server that has not answered by `deadline`.
    [[nodiscard]] Connection* connection(const QDeadlineTimer& deadline);

    QByteArray m_displayName;
    std::chrono::milliseconds m_replyTimeout;
    std::unique_ptr<Connection> m_connection;
    // A connection attempt in progress on a thread of its own.
    std::future<std::unique_ptr<Connection>> m_opening;
};
