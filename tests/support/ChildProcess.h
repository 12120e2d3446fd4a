#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>

class QImage;

// Runs the current test again in a fresh child process with a changed
// environment, for cases that must not touch this process's D-Bus session.
namespace ChildProcess {

struct Result {
    int exitCode = -1;
    QString output;
};

// True inside the child started by rerunCurrentTest().
bool isChild();
// Environment changes apply on top of ours; `wrapper` (e.g. a dbus-run-session
// command line) runs the child when given.
Result rerunCurrentTest(const QProcessEnvironment& changes, const QStringList& wrapper = {});
// The same inside a Wayland session without X: a headless weston of its own, stopped afterwards.
Result rerunInWaylandSession(QProcessEnvironment changes = {});
// The same inside a GNOME-like Wayland session: a mutter of its own, nested in our display, with its XWayland
// (DISPLAY, XAUTHORITY), stopped afterwards. The child chooses its Qt platform itself.
Result rerunInGnomeSession(QProcessEnvironment changes = {});
// Inside that child: the whole screen, Wayland and X11 windows alike, as a PNG (mutter's window on our display).
// `shows` says when the screen is as expected.
bool screenshot(const QString& file, const std::function<bool(const QImage&)>& shows = {});

}
