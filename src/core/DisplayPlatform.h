#pragma once

#include <QByteArray>

// Which of Qt's platforms the client's windows go through, chosen before the application object exists.
namespace DisplayPlatform {

// A Wayland session: WAYLAND_DISPLAY is set or XDG_SESSION_TYPE says so (XWayland may run in it or not).
[[nodiscard]] bool isWaylandSession();

// In a Wayland session that also offers an X server (XWayland: DISPLAY is set), the whole client goes
// through X11 (xcb), unless the user named a platform (QT_QPA_PLATFORM, or -platform, which wins anyway).
// Wayland lets no client keep a window above the others, leave the focus where it is or choose where its
// window goes; a window manager on X11 honours all three for the widget, on GNOME, KDE and weston alike.
// The foreground window of X11 applications and the global shortcut then work too. Without DISPLAY the
// client stays on Wayland. Returns the platform chosen here, empty when Qt's own choice stands.
QByteArray choose();

}
