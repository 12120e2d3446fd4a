#pragma once

#include <QObject>

class ActionStore;
class AudioRecorder;
class AuthStore;
class AutostartEntry;
class GlobalShortcut;
class CalendarStore;
class RecallStore;
class RecordingRetention;
class MeetingStore;
class RecordingLibrary;
class MeetingDetector;
class RecordingPanelController;
class QQmlEngine;

// Owns every long-lived store and service for the life of the process, built
// in one fixed order, and reacts to launching and termination.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    // Hands the shared instances to the interface: QML reads them as singletons
    // of the module "Echoquill.Shared" (AuthStore, …).
    void exposeTo(QQmlEngine& engine);
    // The delegate that exposed itself to the engine, or null.
    [[nodiscard]] static AppDelegate* exposedTo(const QQmlEngine* engine);

    void finishLaunching();
    void prepareToQuit();

    [[nodiscard]] AuthStore* authStore() const { return m_authStore; }
    [[nodiscard]] AudioRecorder* audioRecorder() const { return m_audioRecorder; }
    [[nodiscard]] MeetingStore* meetingStore() const { return m_meetingStore; }
    // Every recording on this computer on its way to a note.
    [[nodiscard]] RecordingLibrary* recordingLibrary() const { return m_recordingLibrary; }
    [[nodiscard]] ActionStore* actionStore() const { return m_actionStore; }
    [[nodiscard]] CalendarStore* calendarStore() const { return m_calendarStore; }
    [[nodiscard]] RecallStore* recallStore() const { return m_recallStore; }
    [[nodiscard]] MeetingDetector* meetingDetector() const { return m_meetingDetector; }
    [[nodiscard]] RecordingRetention* recordingRetention() const { return m_recordingRetention; }
    [[nodiscard]] AutostartEntry* autostartEntry() const { return m_autostartEntry; }
    [[nodiscard]] GlobalShortcut* globalShortcut() const { return m_globalShortcut; }
    // Absent until launching has finished.
    [[nodiscard]] RecordingPanelController* recordingPanelController() const { return m_recordingPanelController; }

private:
    void constructStores();

    AuthStore* m_authStore = nullptr;
    AudioRecorder* m_audioRecorder = nullptr;
    MeetingStore* m_meetingStore = nullptr;
    RecordingLibrary* m_recordingLibrary = nullptr;
    ActionStore* m_actionStore = nullptr;
    CalendarStore* m_calendarStore = nullptr;
    RecallStore* m_recallStore = nullptr;
    MeetingDetector* m_meetingDetector = nullptr;
    RecordingRetention* m_recordingRetention = nullptr;
    AutostartEntry* m_autostartEntry = nullptr;
    GlobalShortcut* m_globalShortcut = nullptr;
    RecordingPanelController* m_recordingPanelController = nullptr;
};
