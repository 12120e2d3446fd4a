#include "AutostartEntry.h"

#include "Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace {

// Started in the background: at login nobody asked for the window.
constexpr auto entryText = "[Desktop Entry]\n"
                           "Type=Application\n"
                           "Name=Echoquill\n"
                           "GenericName=Meeting recorder\n"
                           "Exec=echoquill --background\n"
                           "Icon=com.echoquill.Desktop\n"
                           "Terminal=false\n";

void log(const QString& text)
{
    Log::line(u"[AutostartEntry] "_s + text);
}

bool write(const QString& path)
{
    if (!QDir().mkpath(QFileInfo(path).path())) {
        log(u"cannot create the folder of "_s + path);
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(entryText) < 0 || !file.commit()) {
        log(u"cannot write "_s + path + u": "_s + file.errorString());
        return false;
    }
    return true;
}

}

AutostartEntry::AutostartEntry(QObject* parent)
    : QObject(parent)
    , m_enabled(QFileInfo::exists(path()))
{
}

QString AutostartEntry::path()
{
    // The generic location is $XDG_CONFIG_HOME or ~/.config, without the application's folder.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + u"/autostart/com.echoquill.Desktop.desktop"_s;
}

void AutostartEntry::setEnabled(bool on)
{
    const QString entry = path();
    if (on)
        write(entry);
    else if (QFile file(entry); file.exists() && !file.remove())
        log(u"cannot remove "_s + entry + u": "_s + file.errorString());
    refresh();
}

void AutostartEntry::refresh()
{
    const bool present = QFileInfo::exists(path());
    if (present == m_enabled)
        return;
    m_enabled = present;
    emit enabledChanged();
}
