#include "MeetingDetector.h"

#include "DisplayPlatform.h"

#include <QStringList>
#include <QTimer>

#include <algorithm>

namespace {

const QString googleMeetHost = QStringLiteral("meet.google.com");
// The Meet host without its top-level suffix, as window titles tend to show it.
const QString googleMeetHostStem = QStringLiteral("meet.google");
const QString teamsWorkHost = QStringLiteral("teams.microsoft.com");
const QString teamsPersonalHost = QStringLiteral("teams.live.com");

}

MeetingDetector::MeetingDetector(QObject* parent)
    : QObject(parent)
{
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        m_foreground = std::make_unique<X11ForegroundReader>();
    if (DisplayPlatform::isWaylandSession())
        m_accessibleForeground = std::make_unique<AccessibleForegroundReader>();
    connect(&m_microphone, &MicrophoneHolders::streamsChanged, this, [this] {
        if (isMonitoring())
            poll();
    });
}

MeetingDetector::~MeetingDetector() = default;

void MeetingDetector::startMonitoring(std::chrono::milliseconds interval)
{
    auto* timer = new QTimer(this);
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
    auto application = m_foreground ? m_foreground->frontmostApplication() : std::nullopt;
    std::optional<QString> title = application ? m_foreground->focusedWindowTitle(*application) : std::nullopt;
    // X11 wins where both answer.
    if (const auto front = !application && m_accessibleForeground ? m_accessibleForeground->read() : std::nullopt) {
        application = front->application;
        title = front->title;
    }
    std::optional<MeetingDetection> detection;
    if (application) {
        const auto address = m_browserAddress.activeTabAddress(*application, title);
        detection = detect(application->localizedName, application->windowClass, title, address);
    }
    // The window in front decides first; the microphone only when it shows no meeting.
    for (const MicrophoneHolders::Stream& stream : m_microphone.streams()) {
        if (!detection)
            detection = detectHolder(stream);
    }
    if (detection != m_seenDetection) {
        m_seenDetection = detection;
        emit seenDetectionChanged();
    }
    if (!detection && m_foreground && !application) {
        // The foreground is unknown, not changed: a dismissal stays in force.
        setCurrentDetection(std::nullopt);
        return;
    }
    if (detection && detection->displayName == m_lastDismissedName) {
        setCurrentDetection(std::nullopt);
        return;
    }
    setLastDismissedName(std::nullopt);
    setCurrentDetection(std::move(detection));
}

std::optional<MeetingDetection> MeetingDetector::detect(const QString& name, const QString& windowClass,
    const std::optional<QString>& title, const std::optional<QString>& address)
{
    const QString lowerTitle = title.value_or(QString()).toLower();
    const QString lowerAddress = address.value_or(QString()).toLower();
    const QString lowerClass = windowClass.toLower();
    const QString lowerName = name.toLower();
    const auto titleOr = [&](const QString& fallback) { return title.value_or(fallback); };

    if (lowerClass.contains(u"zoom") || lowerName.contains(u"zoom")) {
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
    if (lowerClass.contains(u"teams") || lowerTitle.contains(u"microsoft teams")
        || lowerTitle.contains(u"teams meeting"))
        return MeetingDetection { MeetingApp::teams, 0.85, QStringLiteral("Teams app/title detected"),
            titleOr(QStringLiteral("Microsoft Teams")) };
    return std::nullopt;
}

std::optional<MeetingDetection> MeetingDetector::detectHolder(const MicrophoneHolders::Stream& stream)
{
    // Matched in the application's name and its program's file name, lower-case.
    static const std::pair<QString, MeetingApp> applications[] {
        { QStringLiteral("zoom"), MeetingApp::zoom },
        { QStringLiteral("teams"), MeetingApp::teams },
        { QStringLiteral("webex"), MeetingApp::webex },
        { QStringLiteral("ciscocollabhost"), MeetingApp::webex },
        { QStringLiteral("slack"), MeetingApp::slack },
        { QStringLiteral("discord"), MeetingApp::discord },
    };
    static const QStringList browsers { QStringLiteral("firefox"), QStringLiteral("chrom"), QStringLiteral("msedge"),
        QStringLiteral("microsoft edge"), QStringLiteral("microsoft-edge"), QStringLiteral("brave"),
        QStringLiteral("vivaldi") };
    const QString holder = (stream.applicationName + u' ' + stream.processBinary).toLower();
    const auto holding = [](MeetingApp app, const QString& displayName) {
        return MeetingDetection { app, 0.8, QStringLiteral("microphone in use by ") + rawValue(app), displayName };
    };
    for (const auto& [key, app] : applications) {
        if (holder.contains(key))
            return holding(app, rawValue(app));
    }
    // A browser may name its stream after the page; the window-title rules read that name.
    const bool isBrowser
        = std::any_of(browsers.begin(), browsers.end(), [&](const QString& b) { return holder.contains(b); });
    if (const auto page = isBrowser ? detect({}, {}, stream.mediaName, std::nullopt) : std::nullopt)
        return holding(page->app, stream.mediaName);
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

void MeetingDetector::setTimer(QTimer* timer)
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
