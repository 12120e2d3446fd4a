#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into an orderly quit of the event loop, so the
// shutdown path (closing a running recording's files) runs as for the window's
// own quit.
class QuitSignals : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

private:
    static void onSignal(int);
    QSocketNotifier* m_notifier = nullptr;
};
