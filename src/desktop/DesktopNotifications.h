#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <functional>

class QDBusMessage;

// Notifications on the desktop's notification server, asked for without ever
// waiting on it: nothing is sent while no server holds the name. The body is
// plain text, escaped for a server that reads markup; a notification's actions
// and its closing are taken only from the server that showed it. A notification
// can be withdrawn, also while it is still on its way.
class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    // Hears the key of the action the user chose ("default" for the notification itself).
    using ActionHandler = std::function<void(const QString& action)>;

    // Names one notify() call for withdraw(); 0 names none.
    using Ticket = quint64;
    // Whether a notification is held back while the user has the desktop's notifications paused
    // (the server's `Inhibited`, or dunst's own `paused`).
    enum class WhilePaused { show, holdBack };

    explicit DesktopNotifications(QObject* parent = nullptr);

    // `actions` alternates keys and labels, as the server expects them.
    Ticket notify(const QString& summary, const QString& body, const QStringList& actions, ActionHandler onAction,
        WhilePaused whilePaused = WhilePaused::show);
    // Closes the notification, or stops it before it is shown.
    void withdraw(Ticket ticket);

private slots:
    void onActionInvoked(uint id, const QString& action, const QDBusMessage& message);
    void onClosed(uint id, uint reason, const QDBusMessage& message);

private:
    // A shown notification's handler and the unique bus name of the server that showed it.
    struct Shown {
        QString server;
        ActionHandler onAction;
        Ticket ticket = 0;
    };

    // Runs `then` unless the desktop's notifications are paused or the ticket was withdrawn meanwhile.
    void unlessPaused(Ticket ticket, const QString& summary, const std::function<void()>& then);
    void send(
        Ticket ticket, const QString& summary, const QString& body, const QStringList& actions, ActionHandler onAction);
    void close(const QString& server, uint id);
    [[nodiscard]] bool isFromServer(uint id, const QDBusMessage& message) const;

    QHash<uint, Shown> m_shown;
    // Asked for and not yet shown, nor withdrawn.
    QSet<Ticket> m_pending;
    Ticket m_lastTicket = 0;
};
