#pragma once

#include <QIcon>
#include <QObject>

#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

// The client's status icon while it lives in the background: its look says
// idle, recording or uploading, and its menu reaches the window, the
// recording, the widget and quitting.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    enum class Look { Idle, Recording, Uploading };

    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    void setLook(Look look);
    [[nodiscard]] Look look() const { return m_look; }
    [[nodiscard]] QSystemTrayIcon* icon() const { return m_icon.get(); }
    [[nodiscard]] QMenu* menu() const { return m_menu.get(); }
    // The app icon's ripple, in the colour of the look.
    [[nodiscard]] static QIcon drawn(Look look);

signals:
    void openRequested();
    void startRequested();
    void stopRequested();
    void showWidgetRequested();
    void quitRequested();

private:
    Look m_look = Look::Idle;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_icon;
    QAction* m_recordAction = nullptr;
};
