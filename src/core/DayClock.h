#pragma once

#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <functional>

// Says when the user's calendar day changes, so texts such as the date line
// and "Today"/"Yesterday" are computed afresh. It wakes at the next local
// midnight, and at least hourly, which also catches a suspend or a changed
// clock or time zone. Main thread only.
class DayClock : public QObject {
    Q_OBJECT
public:
    [[nodiscard]] static DayClock& shared();

    // Reads the dates from `clock` from now on (null: the system clock) and waits afresh.
    void setClock(std::function<QDateTime()> clock);

signals:
    void dayChanged();

private:
    explicit DayClock(QObject* parent);
    void check();

    QDate m_today;
    QTimer m_wait;
};
