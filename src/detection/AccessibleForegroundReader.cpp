#include "AccessibleForegroundReader.h"

#include "Log.h"

#include <QCoreApplication>

#include <algorithm>

AccessibleForegroundReader::AccessibleForegroundReader(std::chrono::milliseconds budget)
    : m_budget(budget)
{
}

std::optional<AccessibleForegroundReader::Front> AccessibleForegroundReader::read()
{
    m_bus.startRead(m_budget);
    const auto connection = m_bus.connect();
    if (connection == AccessibilityBus::Connection::switchedOn)
        Log::line(QStringLiteral("[AccessibleForegroundReader] Switched the desktop's accessibility on, so that "
                                 "native Wayland windows show on the accessibility bus"));
    if (connection == AccessibilityBus::Connection::none) {
        report(Problem::noBus);
        return std::nullopt;
    }
    QList<AccessibilityBus::Object> applications = m_bus.applications().value_or(QList<AccessibilityBus::Object>());
    const auto rank = [this](const AccessibilityBus::Object& application) {
        return application.service == m_lastFront ? 0 : m_slow.contains(application.service) ? 2 : 1;
    };
    std::stable_sort(
        applications.begin(), applications.end(), [&](const auto& a, const auto& b) { return rank(a) < rank(b); });
    for (const AccessibilityBus::Object& application : applications) {
        auto front = activeWindowOf(application);
        if (m_bus.deadlinePassed()) {
            m_slow.removeAll(application.service);
            m_slow.append(application.service);
            report(Problem::noAnswer, application.service);
            return std::nullopt;
        }
        if (m_bus.answered(application.service))
            m_slow.removeAll(application.service);
        if (front) {
            m_lastFront = application.service;
            report(Problem::none);
            return front;
        }
    }
    if (!m_bus.deadlinePassed())
        report(Problem::none);
    return std::nullopt;
}

std::optional<AccessibleForegroundReader::Front> AccessibleForegroundReader::activeWindowOf(
    const AccessibilityBus::Object& application)
{
    const auto windows = m_bus.windows(application.service);
    for (const AccessibilityBus::Object& window : windows.value_or(QList<AccessibilityBus::Object>())) {
        if (!(m_bus.states(window).value_or(0) & (1u << AccessibilityBus::stateActive)))
            continue;
        const auto processId = m_bus.processOf(application.service);
        const auto title = m_bus.name(window);
        if (!processId || *processId == QCoreApplication::applicationPid() || !title)
            return std::nullopt;
        const QString program = programOf(*processId);
        const QString name = m_bus.name(application).value_or(QString());
        return Front { { name.isEmpty() ? program : name, program, *processId }, *title };
    }
    return std::nullopt;
}

void AccessibleForegroundReader::report(Problem problem, const QString& service)
{
    if (problem == m_reported)
        return;
    m_reported = problem;
    if (problem == Problem::noBus)
        Log::line(QStringLiteral("[AccessibleForegroundReader] No window in front from the accessibility bus: there "
                                 "is no accessibility bus"));
    if (problem == Problem::noAnswer)
        Log::line(QStringLiteral("[AccessibleForegroundReader] No window in front from the accessibility bus: %1 did "
                                 "not answer in time")
                      .arg(service));
}
