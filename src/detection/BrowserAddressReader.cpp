#include "BrowserAddressReader.h"

#include "Log.h"

#include <QDBusArgument>
#include <QMap>
#include <QStringList>

#include <algorithm>

namespace {

const QString accessibleInterface = QStringLiteral("org.a11y.atspi.Accessible");
// Parts never holding the address field, not looked into: menus, tab strips, lists, trees, the status bar,
// and pages, which can be far larger than the browser itself.
const QList<uint> prunedRoles { 31, 33, 34, 38, 41, 54, 65, /* document frame */ 82, /* web document */ 95 };

// Browser families by the start of their window class or process name.
const QStringList browserPrefixes { QStringLiteral("firefox"), QStringLiteral("chromium"),
    QStringLiteral("google-chrome"), QStringLiteral("chrome"), QStringLiteral("microsoft-edge"),
    QStringLiteral("msedge"), QStringLiteral("brave"), QStringLiteral("vivaldi") };

// How a browser marks its address field in the field's attributes: the same in every language.
bool isAddressField(const QMap<QString, QString>& attributes)
{
    return attributes.value(QStringLiteral("id")) == u"urlbar-input" // Firefox
        || attributes.value(QStringLiteral("class")) == u"OmniboxViewViews"; // Chromium and the browsers built on it
}

QString problemText(int problem)
{
    static const QStringList texts {
        {},
        QStringLiteral("there is no accessibility bus"),
        QStringLiteral("it is not on the accessibility bus (not yet, or its accessibility is off)"),
        QStringLiteral("none of its windows is on the accessibility bus"),
        QStringLiteral("its window shows no address field on the accessibility bus"),
        QStringLiteral("it did not answer on the accessibility bus in time"),
    };
    return texts.value(problem);
}

}

BrowserAddressReader::BrowserAddressReader(std::chrono::milliseconds budget)
    : m_budget(budget)
{
}

bool BrowserAddressReader::isBrowser(const FrontmostApplication& application)
{
    const auto known = [](const QString& name) {
        return std::any_of(browserPrefixes.begin(), browserPrefixes.end(),
            [&](const QString& prefix) { return name.startsWith(prefix, Qt::CaseInsensitive); });
    };
    if (known(application.windowClass))
        return true;
    return known(programOf(application.processIdentifier));
}

std::optional<QString> BrowserAddressReader::activeTabAddress(
    const FrontmostApplication& application, const std::optional<QString>& windowTitle)
{
    if (!isBrowser(application))
        return std::nullopt;
    m_bus.startRead(m_budget);
    QString address;
    const Problem problem = read(application, windowTitle, address);
    report(application, problem);
    if (problem != Problem::none || address.trimmed().isEmpty())
        return std::nullopt;
    return address.trimmed();
}

BrowserAddressReader::Problem BrowserAddressReader::read(
    const FrontmostApplication& application, const std::optional<QString>& windowTitle, QString& address)
{
    const auto failed = [this](Problem problem) {
        if (m_bus.deadlinePassed())
            return m_bus.answered(m_service) ? Problem::looking : Problem::noAnswer;
        // Found again from the start next time: the browser may have restarted or closed the window.
        m_processId = 0;
        return problem;
    };
    const auto connection = m_bus.connect();
    if (connection == AccessibilityBus::Connection::none)
        return failed(Problem::noBus);
    // Firefox exposes its tree as soon as the desktop's accessibility is on; Chromium-based browsers read it at
    // their start.
    if (connection == AccessibilityBus::Connection::switchedOn)
        Log::line(QStringLiteral("[BrowserAddressReader] Switched the desktop's accessibility on, so that browsers "
                                 "show their address field on the accessibility bus"));
    const auto service = serviceOf(application.processIdentifier);
    if (!service)
        return failed(Problem::notListed);
    const auto window = activeWindow(*service, windowTitle);
    if (!window)
        return failed(Problem::noWindow);
    if (*window != m_window) {
        m_window = *window;
        m_pending = { *window };
        m_field.reset();
    }
    if (!m_field)
        m_field = findAddressField();
    if (!m_field) {
        if (!m_bus.deadlinePassed())
            m_pending = { m_window };
        return failed(Problem::noField);
    }
    const auto text = m_bus.call(*m_field, QStringLiteral("org.a11y.atspi.Text"), QStringLiteral("GetText"), { 0, -1 });
    if (!text) {
        if (!m_bus.deadlinePassed()) {
            // The field went away with the toolbar it was in: the next read looks for it again.
            m_field.reset();
            m_pending = { m_window };
        }
        return failed(Problem::noField);
    }
    address = text->toString();
    return Problem::none;
}

std::optional<QString> BrowserAddressReader::serviceOf(qint64 processId)
{
    if (processId == m_processId && !m_service.isEmpty())
        return m_service;
    const auto applications = m_bus.applications();
    for (const Object& application : applications.value_or(QList<Object>())) {
        if (m_bus.processOf(application.service) == processId) {
            m_processId = processId;
            m_service = application.service;
            return m_service;
        }
    }
    return std::nullopt;
}

std::optional<BrowserAddressReader::Object> BrowserAddressReader::activeWindow(
    const QString& service, const std::optional<QString>& title)
{
    const auto windows = m_bus.windows(service);
    if (!windows)
        return std::nullopt;
    for (const Object& window : *windows) {
        if (m_bus.states(window).value_or(0) & (1u << AccessibilityBus::stateActive))
            return window;
    }
    // The browser may not have noticed that it is in front: its title decides, or its only named window.
    QList<Object> named;
    for (const Object& window : *windows) {
        const auto name = m_bus.name(window);
        if (name && title && *name == *title)
            return window;
        if (name && !name->isEmpty())
            named.append(window);
    }
    return named.size() == 1 ? std::optional(named.constFirst()) : std::nullopt;
}

std::optional<BrowserAddressReader::Object> BrowserAddressReader::findAddressField()
{
    // Depth first in the order the window shows its parts, so the toolbar comes before any page.
    while (!m_pending.isEmpty()) {
        const Object object = m_pending.takeLast();
        const auto role = m_bus.call(object, accessibleInterface, QStringLiteral("GetRole"));
        const auto attributes = role
                && (role->toUInt() == AccessibilityBus::roleEntry || role->toUInt() == AccessibilityBus::roleComboBox)
            ? m_bus.call(object, accessibleInterface, QStringLiteral("GetAttributes"))
            : std::nullopt;
        if (attributes && isAddressField(qdbus_cast<QMap<QString, QString>>(*attributes)))
            return object;
        const auto below = role && !prunedRoles.contains(role->toUInt()) ? m_bus.children(object) : std::nullopt;
        if (m_bus.deadlinePassed()) {
            // Asked again in the next read.
            m_pending.append(object);
            return std::nullopt;
        }
        for (auto child = below.value_or(QList<Object>()).crbegin(); below && child != below->crend(); ++child)
            m_pending.append(*child);
    }
    return std::nullopt;
}

void BrowserAddressReader::report(const FrontmostApplication& application, Problem problem)
{
    const std::pair reported { application.processIdentifier, problem };
    if (reported == m_reported || problem == Problem::looking)
        return;
    m_reported = reported;
    if (problem != Problem::none)
        Log::line(QStringLiteral("[BrowserAddressReader] No address from %1 (pid %2): %3")
                      .arg(application.localizedName)
                      .arg(application.processIdentifier)
                      .arg(problemText(static_cast<int>(problem))));
}
