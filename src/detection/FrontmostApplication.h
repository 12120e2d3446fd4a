#pragma once

#include <QFile>
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

// The program a process runs, as the kernel names it (/proc/PID/comm); empty when it cannot tell.
inline QString programOf(qint64 processId)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(processId));
    return processId > 0 && comm.open(QIODevice::ReadOnly) ? QString::fromUtf8(comm.readAll().trimmed()) : QString();
}
