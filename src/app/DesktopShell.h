#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <optional>

class AppDelegate;
class DesktopNotifications;
class SleepInhibitor;
class QWindow;
class TrayIcon;

// The client as a resident of the desktop: closing the main window only hides
// it, the status icon and a second launch bring it back, Ctrl+Q asks before
// ending a running recording or upload, and finished notes and failed uploads
// are told through notifications. Where the widget may go unseen, a detected
// meeting is offered through a notification as well.
class DesktopShell : public QObject {
    Q_OBJECT
public:
    DesktopShell(AppDelegate& delegate, QWindow& window, QObject* parent = nullptr);
    ~DesktopShell() override;

    void openMainWindow();
    // What a second launch passed on: it raises the window unless it asked for the background.
    void activate(const QStringList& arguments);
    // Quits at once when nothing is running, else asks first.
    void quitFromWindow();

    [[nodiscard]] TrayIcon* trayIcon() const { return m_tray; }
    [[nodiscard]] SleepInhibitor* sleepInhibitor() const { return m_sleepInhibitor; }
    [[nodiscard]] QMessageBox* quitQuestion() const { return m_question; }
    // The widget cannot be kept above other windows (native Wayland: no XWayland) or no status icon
    // host shows the icon that brings it back.
    [[nodiscard]] static bool widgetMayGoUnseen();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    [[nodiscard]] bool isUploading() const;
    void updateLook();
    void uploadFailed(const QString& folder, const QString& message);
    // Offers a newly detected meeting, and withdraws the offer once it is stale.
    void followDetection();

    AppDelegate& m_delegate;
    QWindow& m_window;
    TrayIcon* m_tray = nullptr;
    DesktopNotifications* m_notifications = nullptr;
    SleepInhibitor* m_sleepInhibitor = nullptr;
    QPointer<QMessageBox> m_question;
    // The meeting last offered (or recorded), by its display name, and its notification.
    std::optional<QString> m_offeredMeeting;
    quint64 m_offer = 0;
};
