#pragma once

#include "AudioRecorder.h"
#include "AuthStore.h"
#include "MeetingDetector.h"
#include "RecordingLibrary.h"
#include "RecordingWidgetLayout.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QtQml/qqmlregistration.h>

#include <chrono>
#include <memory>

class RecordingPanel;

struct RecordingPanelTimings {
    // How long the widget confirms a stop with "Saved".
    std::chrono::milliseconds savedFor { 2000 };
    // How long the meeting of a recording must be gone before the widget offers to stop.
    std::chrono::milliseconds meetingEndedAfter { 30000 };
    // After this long without any offer, the same meeting counts as a new one.
    std::chrono::milliseconds sameMeetingAfter { 60000 };
};

// Owns the floating recording widget and decides when it is on screen: shown
// at launch, hidden when the user closes it, and back with the next recording
// or a new detection. It is also what the widget's buttons call into.
class RecordingPanelController : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the application delegate")
    Q_PROPERTY(AudioRecorder* recorder READ recorder CONSTANT)
    Q_PROPERTY(RecordingLibrary* library READ library CONSTANT)
    Q_PROPERTY(MeetingDetector* detector READ detector CONSTANT)
    Q_PROPERTY(AuthStore* authStore READ authStore CONSTANT)
    Q_PROPERTY(bool showSaved READ showSaved NOTIFY showSavedChanged)
    // The meeting seen during the running recording has been gone for a while.
    Q_PROPERTY(bool meetingEnded READ meetingEnded NOTIFY stateChanged)
    // "saved", "recording", "detected", "notice" or "idle".
    Q_PROPERTY(QString state READ stateName NOTIFY stateChanged)
    Q_PROPERTY(qreal capsuleWidth READ capsuleWidth NOTIFY stateChanged)

public:
    using Timings = RecordingPanelTimings;

    RecordingPanelController(AudioRecorder* recorder, RecordingLibrary* library, MeetingDetector* detector,
        AuthStore* authStore, Timings timings = {}, QObject* parent = nullptr);
    ~RecordingPanelController() override;

    // Puts the widget on screen: creates the panel the first time, else brings it to the front.
    void show();
    // The user closed the widget: hide it until the next recording or a new detection.
    Q_INVOKABLE void dismiss();
    // Stops the running recording through the library; "Saved" shows.
    Q_INVOKABLE void stop();

    [[nodiscard]] RecordingPanel* panel() const { return m_panel.get(); }
    [[nodiscard]] bool isManuallyDismissed() const { return m_isManuallyDismissed; }
    [[nodiscard]] AudioRecorder* recorder() const { return m_recorder; }
    [[nodiscard]] RecordingLibrary* library() const { return m_library; }
    [[nodiscard]] MeetingDetector* detector() const { return m_detector; }
    [[nodiscard]] AuthStore* authStore() const { return m_authStore; }
    [[nodiscard]] bool showSaved() const { return m_showSaved; }
    [[nodiscard]] bool meetingEnded() const { return m_meetingEnded; }
    [[nodiscard]] RecordingWidgetState state() const { return m_state; }
    [[nodiscard]] QString stateName() const { return RecordingWidgetLayout::name(m_state); }
    [[nodiscard]] qreal capsuleWidth() const
    {
        const bool warning
            = m_recorder->isReconnectingAudio() || !m_recorder->captureWarning().isEmpty() || m_meetingEnded;
        return RecordingWidgetLayout::capsuleWidth(m_state, warning);
    }

signals:
    void showSavedChanged();
    void stateChanged();

private:
    void createPanel();
    void observe();
    // Brings back a widget the user closed when `wanted`.
    void comeBackIf(bool wanted);
    // Tells a new offer from the same one assigned again by the next poll.
    void noteOffer();
    // Starts or ends the wait for "Meeting ended" as the recording and its meeting come and go.
    void followMeeting();
    void setShowSaved(bool on);
    void updateState();

    AudioRecorder* m_recorder;
    RecordingLibrary* m_library;
    MeetingDetector* m_detector;
    AuthStore* m_authStore;
    std::unique_ptr<RecordingPanel> m_panel;
    bool m_isManuallyDismissed = false;
    bool m_showSaved = false;
    QTimer m_savedTimer;
    Timings m_timings;
    std::optional<QString> m_lastOfferName;
    QElapsedTimer m_lastOfferAt;
    bool m_hasNewOffer = false;
    bool m_meetingSeenWhileRecording = false;
    bool m_meetingEnded = false;
    QTimer m_meetingGoneTimer;
    RecordingWidgetState m_state = RecordingWidgetState::idle;
};
