#pragma once

#include "AccessibilityBus.h"
#include "FrontmostApplication.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

// The window in front as the accessibility bus (AT-SPI) shows it, for the windows X11 does not see (native
// Wayland ones): the first application whose top-level window has the `active` state, other than this
// process. Only applications that show themselves on the bus are seen (GTK, Qt, Firefox, Chromium with
// accessibility on). One read stays within its budget however slow or stopped an application is, and a
// problem is logged once, not on every read.
class AccessibleForegroundReader {
public:
    static constexpr std::chrono::milliseconds defaultBudget = std::chrono::milliseconds(200);

    struct Front {
        // Named by the application's accessible name (else its program), classed by its program (comm).
        FrontmostApplication application;
        // The active window's accessible name: its title.
        QString title;
    };

    explicit AccessibleForegroundReader(std::chrono::milliseconds budget = defaultBudget);

    // Absent when no application shows an active window, without a bus, and when the budget ran out first.
    [[nodiscard]] std::optional<Front> read();

private:
    enum class Problem { none, noBus, noAnswer };

    [[nodiscard]] std::optional<Front> activeWindowOf(const AccessibilityBus::Object& application);
    void report(Problem problem, const QString& service = {});

    std::chrono::milliseconds m_budget;
    AccessibilityBus m_bus;
    // The application last found in front is asked first; those that did not answer in time are asked last.
    QString m_lastFront;
    QStringList m_slow;
    Problem m_reported = Problem::none;
};
