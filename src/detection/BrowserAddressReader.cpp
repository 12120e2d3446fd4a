#include "BrowserAddressReader.h"

#include "Log.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QFile>
#include <QMap>
#include <QStringList>

#include <algorithm>

namespace {

const QString accessibleInterface = QStringLiteral("org.a11y.atspi.Accessible");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString statusInterface = QStringLiteral("org.a11y.Status");
const QString rootPath = QStringLiteral("/org/a11y/atspi/accessible/root");
const QString nullPath = QStringLiteral("/org/a11y/atspi/null");
const QString noReplyError = QStringLiteral("org.freedesktop.DBus.Error.NoReply");

// AT-SPI roles and states, as numbered on the bus.
constexpr uint roleComboBox = 11;
constexpr uint roleEntry = 79;
constexpr uint stateActive = 1;
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
    , m_connectionName(QStringLiteral("echoquill-a11y-%1").arg(reinterpret_cast<quintptr>(this), 0, 16))
{
}

BrowserAddressReader::~BrowserAddressReader()
{
    m_bus.reset();
    QDBusConnection::disconnectFromBus(m_connectionName);
}

bool BrowserAddressReader::isBrowser(const FrontmostApplication& application)
{
    const auto known = [](const QString& name) {
        return std::any_of(browserPrefixes.begin(), browserPrefixes.end(),
            [&](const QString& prefix) { return name.startsWith(prefix, Qt::CaseInsensitive); });
    };
    if (known(application.windowClass))
        return true;
    QFile comm(QStringLiteral("/proc/%1/comm").arg(application.processIdentifier));
    return application.processIdentifier > 0 && comm.open(QIODevice::ReadOnly)
        && known(QString::fromUtf8(comm.readAll().trimmed()));
}

std::optional<QString> BrowserAddressReader::activeTabAddress(
    const FrontmostApplication& application, const std::optional<QString>& windowTitle)
{
    if (!isBrowser(application))
        return std::nullopt;
    m_deadline = QDeadlineTimer(m_budget);
    m_deadlinePassed = false;
    m_answered = false;
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
        if (m_deadlinePassed)
            return m_answered ? Problem::looking : Problem::noAnswer;
        // Found again from the start next time: the browser may have restarted or closed the window.
        m_processId = 0;
        return problem;
    };
    if (!connectBus())
        return failed(Problem::noBus);
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
        if (!m_deadlinePassed)
            m_pending = { m_window };
        return failed(Problem::noField);
    }
    const auto text = call(*m_field, QStringLiteral("org.a11y.atspi.Text"), QStringLiteral("GetText"), { 0, -1 });
    if (!text) {
        if (!m_deadlinePassed) {
            // The field went away with the toolbar it was in: the next read looks for it again.
            m_field.reset();
            m_pending = { m_window };
        }
        return failed(Problem::noField);
    }
    address = text->toString();
    return Problem::none;
}

bool BrowserAddressReader::connectBus()
{
    if (m_bus && m_bus->isConnected())
        return true;
    // A bus that went away (its launcher restarted) is forgotten by name, or connecting again returns it.
    QDBusConnection::disconnectFromBus(m_connectionName);
    m_bus = std::make_unique<QDBusConnection>(QDBusConnection::sessionBus());
    if (!m_bus->isConnected())
        return false;
    const Object launcher { QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus") };
    // Firefox exposes its tree as soon as the desktop's accessibility is on; Chromium-based browsers read it at
    // their start. Never switched off again: a screen reader may rely on it.
    const auto enabled
        = call(launcher, propertiesInterface, QStringLiteral("Get"), { statusInterface, QStringLiteral("IsEnabled") });
    if (enabled && !enabled->toBool()
        && call(launcher, propertiesInterface, QStringLiteral("Set"),
            { statusInterface, QStringLiteral("IsEnabled"), QVariant::fromValue(QDBusVariant(true)) }))
        Log::line(QStringLiteral("[BrowserAddressReader] Switched the desktop's accessibility on, so that browsers "
                                 "show their address field on the accessibility bus"));
    const auto address = call(launcher, QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
    m_bus.reset();
    if (!address)
        return false;
    m_bus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address->toString(), m_connectionName));
    return m_bus->isConnected();
}

std::optional<QString> BrowserAddressReader::serviceOf(qint64 processId)
{
    if (processId == m_processId && !m_service.isEmpty())
        return m_service;
    const auto applications = children({ QStringLiteral("org.a11y.atspi.Registry"), rootPath });
    for (const Object& application : applications.value_or(QList<Object>())) {
        const auto owner = call({ QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus") },
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"),
            { application.service });
        if (owner && owner->toLongLong() == processId) {
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
    const auto windows = children({ service, rootPath });
    if (!windows)
        return std::nullopt;
    for (const Object& window : *windows) {
        const auto states = call(window, accessibleInterface, QStringLiteral("GetState"));
        if (states && (qdbus_cast<QList<uint>>(*states).value(0) & (1u << stateActive)))
            return window;
    }
    // The browser may not have noticed that it is in front: its title decides, or its only named window.
    QList<Object> named;
    for (const Object& window : *windows) {
        const auto name
            = call(window, propertiesInterface, QStringLiteral("Get"), { accessibleInterface, QStringLiteral("Name") });
        if (name && title && name->toString() == *title)
            return window;
        if (name && !name->toString().isEmpty())
            named.append(window);
    }
    return named.size() == 1 ? std::optional(named.constFirst()) : std::nullopt;
}

std::optional<BrowserAddressReader::Object> BrowserAddressReader::findAddressField()
{
    // Depth first in the order the window shows its parts, so the toolbar comes before any page.
    while (!m_pending.isEmpty()) {
        const Object object = m_pending.takeLast();
        const auto role = call(object, accessibleInterface, QStringLiteral("GetRole"));
        const auto attributes = role && (role->toUInt() == roleEntry || role->toUInt() == roleComboBox)
            ? call(object, accessibleInterface, QStringLiteral("GetAttributes"))
            : std::nullopt;
        if (attributes && isAddressField(qdbus_cast<QMap<QString, QString>>(*attributes)))
            return object;
        const auto below = role && !prunedRoles.contains(role->toUInt()) ? children(object) : std::nullopt;
        if (m_deadlinePassed) {
            // Asked again in the next read.
            m_pending.append(object);
            return std::nullopt;
        }
        for (auto child = below.value_or(QList<Object>()).crbegin(); below && child != below->crend(); ++child)
            m_pending.append(*child);
    }
    return std::nullopt;
}

std::optional<QVariant> BrowserAddressReader::call(
    const Object& object, const QString& interface, const QString& method, const QVariantList& arguments)
{
    const qint64 remaining = m_deadline.remainingTime();
    if (m_deadlinePassed || remaining == 0) {
        m_deadlinePassed = true;
        return std::nullopt;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(object.service, object.path, interface, method);
    message.setArguments(arguments);
    const QDBusMessage reply = m_bus->call(message, QDBus::Block, static_cast<int>(std::max<qint64>(remaining, 1)));
    m_answered = m_answered || (reply.type() == QDBusMessage::ReplyMessage && object.service == m_service);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        m_deadlinePassed = reply.errorName() == noReplyError || m_deadline.hasExpired();
        return std::nullopt;
    }
    QVariant value = reply.arguments().value(0);
    if (value.metaType() == QMetaType::fromType<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value;
}

std::optional<QList<BrowserAddressReader::Object>> BrowserAddressReader::children(const Object& object)
{
    const auto reply = call(object, accessibleInterface, QStringLiteral("GetChildren"));
    if (!reply)
        return std::nullopt;
    QList<Object> objects;
    const QDBusArgument list = reply->value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        Object child;
        QDBusObjectPath path;
        list.beginStructure();
        list >> child.service >> path;
        list.endStructure();
        child.path = path.path();
        if (child.path != nullPath)
            objects.append(child);
    }
    list.endArray();
    return objects;
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
