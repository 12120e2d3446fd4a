#pragma once

#include <QHash>
#include <QObject>
#include <QStringList>

#include <functional>

// Notifications on the desktop's notification server, asked for without ever
// waiting on it: nothing is sent while no server holds the name.
class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    // Hears the key of the action the user chose ("default" for the notification itself).
    using ActionHandler = std::function<void(const QString& action)>;

    explicit DesktopNotifications(QObject* parent = nullptr);

    // `actions` alternates keys and labels, as the server expects them.
    void notify(const QString& summary, const QString& body, const QStringList& actions, ActionHandler onAction);

private slots:
    void onActionInvoked(uint id, const QString& action);
    void onClosed(uint id, uint reason);

private:
    void send(const QString& summary, const QString& body, const QStringList& actions, ActionHandler onAction);

    QHash<uint, ActionHandler> m_handlers;
};
