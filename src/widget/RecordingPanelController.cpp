#include "RecordingPanelController.h"

#include "RecordingPanel.h"

using namespace Qt::StringLiterals;

RecordingPanelController::RecordingPanelController(AudioRecorder* recorder, RecordingLibrary* library,
    MeetingDetector* detector, AuthStore* authStore, Timings timings, QObject* parent)
    : QObject(parent)
    , m_recorder(recorder)
    , m_library(library)
    , m_detector(detector)
    , m_authStore(authStore)
    , m_timings(timings)
{
    m_meetingGoneTimer.setSingleShot(true);
    m_meetingGoneTimer.setInterval(timings.meetingEndedAfter);
    connect(&m_meetingGoneTimer, &QTimer::timeout, this, [this] {
        m_meetingEnded = true;
        emit stateChanged();
    });
    connect(m_recorder, &AudioRecorder::isRecordingChanged, this, &RecordingPanelController::followMeeting);
    connect(m_detector, &MeetingDetector::seenDetectionChanged, this, &RecordingPanelController::followMeeting);
    connect(m_detector, &MeetingDetector::currentDetectionChanged, this, &RecordingPanelController::noteOffer);
    m_savedTimer.setSingleShot(true);
    m_savedTimer.setInterval(timings.savedFor);
    connect(&m_savedTimer, &QTimer::timeout, this, [this] { setShowSaved(false); });
    connect(m_recorder, &AudioRecorder::isRecordingChanged, this, &RecordingPanelController::updateState);
    connect(m_recorder, &AudioRecorder::noticeChanged, this, &RecordingPanelController::updateState);
    // The capsule's width follows the recording's warnings too.
    connect(m_recorder, &AudioRecorder::isReconnectingAudioChanged, this, &RecordingPanelController::stateChanged);
    connect(m_recorder, &AudioRecorder::captureWarningChanged, this, &RecordingPanelController::stateChanged);
    connect(m_detector, &MeetingDetector::currentDetectionChanged, this, &RecordingPanelController::updateState);
    updateState();
}

RecordingPanelController::~RecordingPanelController() = default;

void RecordingPanelController::show()
{
    m_isManuallyDismissed = false;
    if (!m_panel) {
        createPanel();
        observe();
    } else {
        m_panel->showAbove();
    }
}

void RecordingPanelController::dismiss()
{
    m_isManuallyDismissed = true;
    // What is on offer now has been seen and closed.
    m_hasNewOffer = false;
    if (m_panel)
        m_panel->withdraw();
}

void RecordingPanelController::createPanel()
{
    m_panel = std::make_unique<RecordingPanel>();
    m_panel->setContent(
        QUrl(u"qrc:/Echoquill/Widget/RecordingWidgetView.qml"_s), { { u"controller"_s, QVariant::fromValue(this) } });
    m_panel->showAbove();
}

void RecordingPanelController::observe()
{
    // Queued: the widget comes back after the change has settled, on the main thread.
    connect(
        m_recorder, &AudioRecorder::isRecordingChanged, this, [this] { comeBackIf(m_recorder->isRecording()); },
        Qt::QueuedConnection);
    connect(
        m_detector, &MeetingDetector::currentDetectionChanged, this,
        [this] { comeBackIf(std::exchange(m_hasNewOffer, false) && m_detector->currentDetection()); },
        Qt::QueuedConnection);
    connect(
        m_recorder, &AudioRecorder::noticeChanged, this, [this] { comeBackIf(!m_recorder->notice().isEmpty()); },
        Qt::QueuedConnection);
}

void RecordingPanelController::comeBackIf(bool wanted)
{
    if (!wanted || !m_isManuallyDismissed)
        return;
    m_isManuallyDismissed = false;
    m_panel->showAbove();
}

void RecordingPanelController::noteOffer()
{
    const auto& detection = m_detector->currentDetection();
    if (!detection)
        return;
    const bool afterAGap = !m_lastOfferAt.isValid() || m_lastOfferAt.hasExpired(m_timings.sameMeetingAfter.count());
    if (afterAGap || detection->displayName != m_lastOfferName)
        m_hasNewOffer = true;
    m_lastOfferName = detection->displayName;
    m_lastOfferAt.start();
}

void RecordingPanelController::followMeeting()
{
    const bool inSight = m_detector->seenDetection().has_value();
    m_meetingSeenWhileRecording = m_recorder->isRecording() && (m_meetingSeenWhileRecording || inSight);
    if (m_meetingSeenWhileRecording && !inSight) {
        if (!m_meetingGoneTimer.isActive() && !m_meetingEnded)
            m_meetingGoneTimer.start();
        return;
    }
    m_meetingGoneTimer.stop();
    if (std::exchange(m_meetingEnded, false))
        emit stateChanged();
}

void RecordingPanelController::stop()
{
    // Nothing to stop: no pending upload that no upload would ever move on.
    if (!m_recorder->isRecording())
        return;
    setShowSaved(true);
    m_savedTimer.start();
    m_library->stopRecording();
}

void RecordingPanelController::setShowSaved(bool on)
{
    if (on == m_showSaved)
        return;
    m_showSaved = on;
    emit showSavedChanged();
    updateState();
}

void RecordingPanelController::updateState()
{
    const RecordingWidgetState state = RecordingWidgetLayout::stateFor(m_showSaved, m_recorder->isRecording(),
        m_detector->currentDetection().has_value(), !m_recorder->notice().isEmpty());
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged();
}
