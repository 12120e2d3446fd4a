#include "MeetingDetector.h"

#include <QStringList>
#include <QTimer>

namespace {

const QString googleMeetHost = QStringLiteral("meet.google.com");
// The Meet host without its top-level suffix, as window titles tend to show it.
const QString googleMeetHostStem = QStringLiteral("meet.google");
const QString teamsWorkHost = QStringLiteral("teams.microsoft.com");
const QString teamsPersonalHost = QStringLiteral("teams.live.com");

// Browsers whose active tab address is worth asking for, by application name.
const QStringList addressBrowsers { QStringLiteral("Google Chrome"), QStringLiteral("Safari"),
                                    QStringLiteral("Microsoft Edge") };

}

MeetingDetector::MeetingDetector(QObject *parent)
    : QObject(parent)
{
}

MeetingDetector::~MeetingDetector() = default;

void MeetingDetector::startMonitoring(std::chrono::milliseconds interval)
{
    auto *timer = new QTimer(this);
    timer->setInterval(interval);
    connect(timer, &QTimer::timeout, this, &MeetingDetector::poll);
    timer->start();
    setTimer(timer);
    poll();
}

void MeetingDetector::stopMonitoring()
{
    setTimer(nullptr);
}

void MeetingDetector::dismissCurrentDetection()
{
    setLastDismissedName(m_currentDetection ? std::optional(m_currentDetection->displayName) : std::nullopt);
    setCurrentDetection(std::nullopt);
}

void MeetingDetector::poll()
{
    const auto application = m_foreground.frontmostApplication();
    if (!application) {
        // The foreground is unknown, not changed: a dismissal stays in force.
        setCurrentDetection(std::nullopt);
        return;
    }
    const auto title = m_foreground.focusedWindowTitle(*application);
    const auto address = addressBrowsers.contains(application->localizedName)
        ? m_foreground.activeTabAddress(application->localizedName)
        : std::nullopt;

    auto detection = detect(application->localizedName, application->bundleIdentifier, title, address);
    if (detection && detection->displayName == m_lastDismissedName) {
        setCurrentDetection(std::nullopt);
        return;
    }
    setLastDismissedName(std::nullopt);
    setCurrentDetection(std::move(detection));
}

std::optional<MeetingDetection> MeetingDetector::detect(const QString &name, const QString &bundleIdentifier,
                                                        const std::optional<QString> &title,
                                                        const std::optional<QString> &address)
{
    const QString lowerTitle = title.value_or(QString()).toLower();
    const QString lowerAddress = address.value_or(QString()).toLower();
    const QString lowerBundle = bundleIdentifier.toLower();
    const QString lowerName = name.toLower();
    const auto titleOr = [&](const QString &fallback) { return title.value_or(fallback); };

    if (lowerBundle.contains(u"zoom") || lowerName.contains(u"zoom")) {
        // The Zoom client's windows often have no title at all.
        const QString displayName = title && !title->isEmpty() ? *title : QStringLiteral("Zoom Meeting");
        return MeetingDetection { MeetingApp::zoom, 0.9, QStringLiteral("Zoom app detected"), displayName };
    }
    if (lowerAddress.contains(googleMeetHost))
        return MeetingDetection { MeetingApp::googleMeet, 0.95, QStringLiteral("Google Meet URL"),
                                  titleOr(QStringLiteral("Google Meet")) };
    if (lowerTitle.contains(u"google meet") || lowerTitle.contains(googleMeetHostStem))
        return MeetingDetection { MeetingApp::googleMeet, 0.85, QStringLiteral("Google Meet window title"),
                                  titleOr(QStringLiteral("Google Meet")) };
    if (lowerAddress.contains(teamsWorkHost) || lowerAddress.contains(teamsPersonalHost))
        return MeetingDetection { MeetingApp::teams, 0.95, QStringLiteral("Teams URL"),
                                  titleOr(QStringLiteral("Microsoft Teams")) };
    if (lowerBundle.contains(u"teams") || lowerTitle.contains(u"microsoft teams")
        || lowerTitle.contains(u"teams meeting"))
        return MeetingDetection { MeetingApp::teams, 0.85, QStringLiteral("Teams app/title detected"),
                                  titleOr(QStringLiteral("Microsoft Teams")) };
    return std::nullopt;
}

QVariant MeetingDetector::currentDetectionForQml() const
{
    return m_currentDetection ? QVariant::fromValue(*m_currentDetection) : QVariant::fromValue(nullptr);
}

QVariant MeetingDetector::lastDismissedNameForQml() const
{
    return m_lastDismissedName ? QVariant(*m_lastDismissedName) : QVariant::fromValue(nullptr);
}

void MeetingDetector::setCurrentDetection(std::optional<MeetingDetection> detection)
{
    m_currentDetection = std::move(detection);
    emit currentDetectionChanged();
}

void MeetingDetector::setLastDismissedName(std::optional<QString> name)
{
    if (m_lastDismissedName == name)
        return;
    m_lastDismissedName = std::move(name);
    emit lastDismissedNameChanged();
}

void MeetingDetector::setTimer(QTimer *timer)
{
    const bool wasMonitoring = isMonitoring();
    if (m_timer) {
        // Later, not now: this may run inside the old timer's own tick.
        m_timer->stop();
        m_timer->deleteLater();
    }
    m_timer = timer;
    if (isMonitoring() != wasMonitoring)
        emit isMonitoringChanged();
}
