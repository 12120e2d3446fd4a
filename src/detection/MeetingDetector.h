#pragma once

#include "AccessibleForegroundReader.h"
#include "BrowserAddressReader.h"
#include "MeetingDetection.h"
#include "MicrophoneHolders.h"
#include "X11ForegroundReader.h"

#include <QObject>
#include <QVariant>

#include <chrono>
#include <memory>
#include <optional>

class QTimer;

// Watches the foreground window (on X11, and on Wayland through the accessibility
// bus) and the applications holding the microphone for an online meeting, and
// publishes at most one detection for the recording widget. A meeting the user
// dismissed is not offered again until the foreground stops showing it.
class MeetingDetector : public QObject {
    Q_OBJECT
    // A MeetingDetection, or null when nothing is offered.
    Q_PROPERTY(QVariant currentDetection READ currentDetectionForQml NOTIFY currentDetectionChanged)
    // The dismissed display name, or null.
    Q_PROPERTY(QVariant lastDismissedName READ lastDismissedNameForQml NOTIFY lastDismissedNameChanged)
    Q_PROPERTY(bool isMonitoring READ isMonitoring NOTIFY isMonitoringChanged)

public:
    static constexpr std::chrono::milliseconds defaultPollInterval = std::chrono::seconds(3);

    explicit MeetingDetector(QObject* parent = nullptr);
    ~MeetingDetector() override;

    // Replaces any running timer, polls at once, then every `interval`.
    void startMonitoring(std::chrono::milliseconds interval = defaultPollInterval);
    void stopMonitoring();
    // The user declined the offer: remember its name and withdraw it.
    Q_INVOKABLE void dismissCurrentDetection();
    // Looks at the foreground and the microphone once and publishes the outcome; the timer calls this,
    // and so does every change of the microphone's holders while monitoring.
    void poll();

    [[nodiscard]] const std::optional<MeetingDetection>& currentDetection() const { return m_currentDetection; }
    [[nodiscard]] const std::optional<QString>& lastDismissedName() const { return m_lastDismissedName; }
    // The meeting the last poll saw, offered or dismissed.
    [[nodiscard]] const std::optional<MeetingDetection>& seenDetection() const { return m_seenDetection; }
    [[nodiscard]] bool isMonitoring() const { return m_timer != nullptr; }

    // The meeting, if any, that the rules see in an application's name, class, window title and tab address.
    [[nodiscard]] static std::optional<MeetingDetection> detect(const QString& name, const QString& windowClass,
        const std::optional<QString>& title, const std::optional<QString>& address);
    // The meeting, if any, that an application recording from the microphone takes part in.
    [[nodiscard]] static std::optional<MeetingDetection> detectHolder(const MicrophoneHolders::Stream& stream);

signals:
    // Sent on every assignment, also when the value stays the same.
    void currentDetectionChanged();
    void lastDismissedNameChanged();
    // Only when the seen meeting changes.
    void seenDetectionChanged();
    void isMonitoringChanged();

private:
    [[nodiscard]] QVariant currentDetectionForQml() const;
    [[nodiscard]] QVariant lastDismissedNameForQml() const;
    void setCurrentDetection(std::optional<MeetingDetection> detection);
    void setLastDismissedName(std::optional<QString> name);
    void setTimer(QTimer* timer);

    // Absent without an X display (e.g. on Wayland without XWayland).
    std::unique_ptr<X11ForegroundReader> m_foreground;
    // In a Wayland session only: asked when X11 shows no active window, e.g. a native Wayland one in front.
    std::unique_ptr<AccessibleForegroundReader> m_accessibleForeground;
    MicrophoneHolders m_microphone;
    BrowserAddressReader m_browserAddress;
    std::optional<MeetingDetection> m_currentDetection;
    std::optional<MeetingDetection> m_seenDetection;
    QTimer* m_timer = nullptr;
    std::optional<QString> m_lastDismissedName;
};
