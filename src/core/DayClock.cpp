#include "DayClock.h"

#include "DateText.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimeZone>

#include <algorithm>

namespace {
constexpr qint64 longestWaitMs = 3600 * 1000;
}

DayClock& DayClock::shared()
{
    // Owned by the application, so its timer goes before the event loop does.
    static QPointer<DayClock> instance;
    if (!instance)
        instance = new DayClock(QCoreApplication::instance());
    return *instance;
}

DayClock::DayClock(QObject* parent)
    : QObject(parent)
{
    m_wait.setSingleShot(true);
    m_wait.setTimerType(Qt::PreciseTimer);
    connect(&m_wait, &QTimer::timeout, this, &DayClock::check);
    check();
}

void DayClock::setClock(std::function<QDateTime()> clock)
{
    DateText::setClock(std::move(clock));
    check();
}

void DayClock::check()
{
    const QDate today = DateText::today();
    const bool changed = m_today.isValid() && today != m_today;
    m_today = today;
    const QTimeZone zone(DateText::timeZoneId());
    const QDateTime midnight(today.addDays(1), QTime(0, 0), zone);
    // A midnight the zone skips (a daylight-saving jump) is not valid: the hourly wake covers it.
    const qint64 untilMidnight = midnight.isValid() ? DateText::now().msecsTo(midnight) + 1 : longestWaitMs;
    m_wait.start(int(std::clamp<qint64>(untilMidnight, 1, longestWaitMs)));
    if (changed)
        emit dayChanged();
}
