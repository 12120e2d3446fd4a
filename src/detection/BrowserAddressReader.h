#pragma once

#include "AccessibilityBus.h"
#include "FrontmostApplication.h"

#include <QList>
#include <QString>

#include <chrono>
#include <optional>

// Reads the address of a browser's active tab from the browser's own address
// field over the accessibility bus (AT-SPI). One read stays within its budget
// however slow or stopped the browser is, and a browser that cannot tell is
// logged once, not on every read.
class BrowserAddressReader {
public:
    static constexpr std::chrono::milliseconds defaultBudget = std::chrono::milliseconds(200);

    explicit BrowserAddressReader(std::chrono::milliseconds budget = defaultBudget);

    // Firefox, Chromium, Google Chrome, Microsoft Edge, Brave and Vivaldi, by window class or process name.
    [[nodiscard]] static bool isBrowser(const FrontmostApplication& application);
    // The text of the address field in the browser's active window (when the browser marks none active: the
    // one titled `windowTitle`, or its only named one). Absent for anything but a browser, and when the
    // browser does not answer or shows no address field.
    [[nodiscard]] std::optional<QString> activeTabAddress(
        const FrontmostApplication& application, const std::optional<QString>& windowTitle);

private:
    // Why a read gave no address; `looking` is a browser that answers but has not shown its field yet.
    enum class Problem { none, noBus, notListed, noWindow, noField, noAnswer, looking };
    using Object = AccessibilityBus::Object;

    [[nodiscard]] Problem read(
        const FrontmostApplication& application, const std::optional<QString>& windowTitle, QString& address);
    [[nodiscard]] std::optional<QString> serviceOf(qint64 processId);
    [[nodiscard]] std::optional<Object> activeWindow(const QString& service, const std::optional<QString>& title);
    // Goes on looking where the last read stopped, so a slow browser is searched across several reads.
    [[nodiscard]] std::optional<Object> findAddressField();
    void report(const FrontmostApplication& application, Problem problem);

    std::chrono::milliseconds m_budget;
    AccessibilityBus m_bus;
    // The browser last read, the window searched, what is left to look at in it, and its field once found.
    qint64 m_processId = 0;
    QString m_service;
    Object m_window;
    QList<Object> m_pending;
    std::optional<Object> m_field;
    // What was last logged, so a browser that keeps failing the same way is logged once.
    std::pair<qint64, Problem> m_reported { 0, Problem::none };
};
