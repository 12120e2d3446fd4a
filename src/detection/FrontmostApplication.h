#pragma once

#include <QString>

// The application that owns the active window: what the meeting rules look at.
struct FrontmostApplication {
    // A readable name ("Google Chrome"), or the window class when the class is not a known one.
    QString localizedName;
    // The window class (the second WM_CLASS string), e.g. "zoom" or "Google-chrome".
    QString windowClass;
    // 0 when the window does not say.
    qint64 processIdentifier = 0;
    // The X window that is active; its title is the focused window's title.
    quint32 window = 0;
};
