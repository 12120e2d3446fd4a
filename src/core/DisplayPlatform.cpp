#include "DisplayPlatform.h"

#include "Log.h"

#include <QtGlobal>

namespace DisplayPlatform {

bool isWaylandSession()
{
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qgetenv("XDG_SESSION_TYPE") == "wayland";
}

QByteArray choose()
{
    if (!isWaylandSession() || qEnvironmentVariableIsEmpty("DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return {};
    qputenv("QT_QPA_PLATFORM", "xcb");
    Log::line(QStringLiteral("[DisplayPlatform] Wayland session with XWayland: windows go through X11 (xcb), "
                             "where the widget can stay above the meeting without taking the focus"));
    return "xcb";
}

}
