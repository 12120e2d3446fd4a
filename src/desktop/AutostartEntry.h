#pragma once

#include <QObject>
#include <QString>

// "Open at login": the client's desktop entry in the user's autostart folder
// ($XDG_CONFIG_HOME/autostart, ~/.config/autostart by default), which the
// desktop starts at login. The file itself is the setting, so the switch shows
// whether it is there, whoever put it there or took it away.
class AutostartEntry : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool enabled READ enabled WRITE setEnabled NOTIFY enabledChanged)
public:
    explicit AutostartEntry(QObject* parent = nullptr);

    [[nodiscard]] static QString path();
    [[nodiscard]] bool enabled() const { return m_enabled; }
    // Writes the entry (atomically) or removes it; a failure is logged and the
    // switch goes on showing what is on disk.
    void setEnabled(bool on);
    // Looks at the folder again: the desktop's own settings may have changed it.
    Q_INVOKABLE void refresh();

signals:
    void enabledChanged();

private:
    bool m_enabled = false;
};
