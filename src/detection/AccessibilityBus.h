#pragma once

#include <QDeadlineTimer>
#include <QList>
#include <QSet>
#include <QString>
#include <QVariant>

#include <chrono>
#include <memory>
#include <optional>

class QDBusConnection;

// The desktop's accessibility bus (AT-SPI), where applications show their windows and what is in them. The
// calls of one read share that read's deadline, so however slow or stopped an application is, a read costs
// at most its budget.
class AccessibilityBus {
public:
    // An object on the bus: the connection of the application showing it, and its path there.
    struct Object {
        QString service;
        QString path;
        bool operator==(const Object&) const = default;
    };
    enum class Connection { none, connected, switchedOn };
    // AT-SPI roles and states, as numbered on the bus.
    static constexpr uint roleComboBox = 11;
    static constexpr uint roleEntry = 79;
    static constexpr uint stateActive = 1;

    AccessibilityBus();
    ~AccessibilityBus();
    AccessibilityBus(const AccessibilityBus&) = delete;
    AccessibilityBus& operator=(const AccessibilityBus&) = delete;

    // Starts one read: its calls end `budget` from now at the latest.
    void startRead(std::chrono::milliseconds budget);
    // Connects unless connected; switches the desktop's accessibility on first when it is off (`switchedOn`),
    // and never off again: a screen reader may rely on it.
    [[nodiscard]] Connection connect();
    [[nodiscard]] std::optional<QVariant> call(
        const Object& object, const QString& interface, const QString& method, const QVariantList& arguments = {});
    [[nodiscard]] std::optional<QList<Object>> children(const Object& object);
    // The root object of every application on the bus, and an application's top-level windows.
    [[nodiscard]] std::optional<QList<Object>> applications();
    [[nodiscard]] std::optional<QList<Object>> windows(const QString& service);
    // The first 32 states (`stateActive`…) as bits, its accessible name.
    [[nodiscard]] std::optional<uint> states(const Object& object);
    [[nodiscard]] std::optional<QString> name(const Object& object);
    // The process behind an application's connection.
    [[nodiscard]] std::optional<qint64> processOf(const QString& service);

    // The read's deadline passed, or an application did not answer in time: the read's later calls fail at once.
    [[nodiscard]] bool deadlinePassed() const { return m_deadlinePassed; }
    // `service` answered at least one call of this read.
    [[nodiscard]] bool answered(const QString& service) const { return m_answered.contains(service); }

private:
    QDeadlineTimer m_deadline;
    bool m_deadlinePassed = false;
    QSet<QString> m_answered;
    QString m_connectionName;
    std::unique_ptr<QDBusConnection> m_bus;
};
