#pragma once

#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

// Keeps the computer from suspending while a recording runs: a laptop left
// alone in a long meeting would otherwise sleep through the rest of it. The
// first road that answers holds it: logind's "sleep:idle" block lock on the
// system bus, else the desktop portal's Inhibit (suspend and idle), else the
// screen saver's Inhibit. Each is tied to this process (a file descriptor, or
// the bus connection), so a crash lets go too. A lid closed or a suspend asked
// for is not prevented.
class SleepInhibitor : public QObject {
    Q_OBJECT
public:
    enum class Road { none, logind, portal, screenSaver };

    explicit SleepInhibitor(QObject* parent = nullptr);
    ~SleepInhibitor() override;

    // Asks for the hold, without waiting for the answer; a release before it comes lets go of it at once.
    void hold();
    void release();
    // The road that holds it now (none: released, or no road answered).
    [[nodiscard]] Road road() const { return m_road; }

private:
    void tryRoad(Road road);
    void held(Road road);
    void letGo();

    bool m_wanted = false;
    bool m_asking = false;
    Road m_road = Road::none;
    QDBusUnixFileDescriptor m_lock; // logind
    QString m_request; // the portal's request object
    uint m_cookie = 0; // the screen saver's
};
