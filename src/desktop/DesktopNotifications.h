#pragma once

#include <QHash>
#include <QObject>
#include <QStringList>

#include <functional>

class QDBusMessage;

// Notifications on the desktop's notification server, asked for without ever
// waiting on it: nothing is sent while no server holds the name. The body is
// plain text, escaped for a server that reads markup; a notification's actions
// and its closing are taken only from the server that showed it.
class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    // Hears the key of the action the user chose ("default" for the notification itself).
    using ActionHandler = std::function<void(const QString& action)>;

    explicit DesktopNotifications(QObject* parent = nullptr);

    // `actions` alternates keys and labels, as the server expects them.
    void notify(const QString& summary, const QString& body, const QStringList& actions, ActionHandler onAction);

private slots:
    void onActionInvoked(uint id, const QString& action, const QDBusMessage& message);
    void onClosed(uint id, uint reason, const QDBusMessage& message);

private:
    // A shown notification's handler and the unique bus name of the server that showed it.
    struct Shown {
        QString server;
        ActionHandler onAction;
    };

    void send(const QString& summary, const QString& body, const QStringList& actions, ActionHandler onAction);
    [[nodiscard]] bool isFromServer(uint id, const QDBusMessage& message) const;

    QHash<uint, Shown> m_shown;
};
