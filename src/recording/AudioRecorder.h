#pragma once

#include "SessionJournal.h"
#include "SessionLock.h"

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class AudioCaptureManager;
struct CaptureSessionResult;

// The one object through which the interface records: permission, one capture
// session at a time, the elapsed time and level; a stopped recording is handed
// on finalized and exported (sessionStopped), for the recording library to send.
class AudioRecorder : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isRecording READ isRecording NOTIFY isRecordingChanged)
    Q_PROPERTY(double duration READ duration NOTIFY durationChanged)
    Q_PROPERTY(QString formattedDuration READ formattedDuration NOTIFY durationChanged)
    Q_PROPERTY(float audioLevel READ audioLevel NOTIFY audioLevelChanged)
    Q_PROPERTY(QString sessionFolder READ sessionFolderText NOTIFY sessionFolderChanged)
    Q_PROPERTY(QString lastSavedURL READ lastSavedURLText NOTIFY lastSavedURLChanged)
    Q_PROPERTY(bool permissionDenied READ permissionDenied NOTIFY permissionDeniedChanged)
    Q_PROPERTY(bool systemAudioAvailable READ systemAudioAvailable NOTIFY systemAudioAvailableChanged)
    Q_PROPERTY(bool isStartingRecording READ isStartingRecording NOTIFY isStartingRecordingChanged)
    Q_PROPERTY(bool isStoppingRecording READ isStoppingRecording NOTIFY isStoppingRecordingChanged)
    Q_PROPERTY(bool isReconnectingAudio READ isReconnectingAudio NOTIFY isReconnectingAudioChanged)
    Q_PROPERTY(QString notice READ notice NOTIFY noticeChanged)
    Q_PROPERTY(QString timeLeft READ timeLeft NOTIFY timeLeftChanged)
    // How long the last suspend in the running recording was: "Paused 12 min while the computer slept".
    Q_PROPERTY(QString sleepNotice READ sleepNotice NOTIFY sleepNoticeChanged)
    Q_PROPERTY(QString captureWarning READ captureWarning NOTIFY captureWarningChanged)
    Q_PROPERTY(bool canCaptureElsewhere READ canCaptureElsewhere NOTIFY captureWarningChanged)
public:
    // Makes the capture manager of each recording; tests point it at their own folders and waits.
    using ManagerFactory = std::function<std::unique_ptr<AudioCaptureManager>()>;

    explicit AudioRecorder(QObject* parent = nullptr);
    explicit AudioRecorder(ManagerFactory makeManager, QObject* parent = nullptr);
    ~AudioRecorder() override;

    QCoro::Task<> startRecording();
    Q_INVOKABLE void start() { startRecording(); }
    // Stops the running recording and returns its session folder at once; sessionStopped follows
    // once its files are finalized and its upload tracks exported.
    std::optional<QString> stopRecording();
    // How long the computer has slept since it booted; the recorder reads it to tell a suspend from a pause.
    using SleepClock = std::function<std::chrono::nanoseconds()>;
    void setSleepClock(SleepClock clock) { m_sleepClock = std::move(clock); }
    // Who is signed in when a recording starts; its journal keeps it as the recording's owner.
    void setOwnerSource(std::function<std::optional<SessionJournal::Owner>()> owner) { m_owner = std::move(owner); }
    // The application is quitting: close the running recording's files within
    // `timeout`, without export or upload, so its folder is complete on disk.
    void finishForQuit(std::chrono::milliseconds timeout = std::chrono::seconds(2));

    [[nodiscard]] static QString formatDuration(double seconds);

    [[nodiscard]] bool isRecording() const { return m_isRecording; }
    [[nodiscard]] double duration() const { return m_duration; }
    [[nodiscard]] QString formattedDuration() const { return formatDuration(m_duration); }
    [[nodiscard]] float audioLevel() const { return m_audioLevel; }
    [[nodiscard]] const std::optional<QString>& sessionFolder() const { return m_sessionFolder; }
    [[nodiscard]] const std::optional<QString>& lastSavedURL() const { return m_lastSavedURL; }
    [[nodiscard]] QString sessionFolderText() const { return m_sessionFolder.value_or(QString()); }
    [[nodiscard]] QString lastSavedURLText() const { return m_lastSavedURL.value_or(QString()); }
    [[nodiscard]] bool permissionDenied() const { return m_permissionDenied; }
    [[nodiscard]] bool systemAudioAvailable() const { return m_systemAudioAvailable; }
    [[nodiscard]] const QList<quint32>& availableInputs() const { return m_availableInputs; }
    [[nodiscard]] const std::optional<QString>& selectedInputID() const { return m_selectedInputID; }
    [[nodiscard]] bool isStartingRecording() const { return m_isStartingRecording; }
    // True while at least one stopped recording is being finalized and exported.
    [[nodiscard]] bool isStoppingRecording() const { return m_stopsRunning > 0; }
    [[nodiscard]] bool hasCaptureManager() const { return bool(m_captureManager); }
    // The sound server went away during the recording and capture waits for it.
    [[nodiscard]] bool isReconnectingAudio() const { return m_isReconnectingAudio; }
    // Why the last recording did not start or had to stop; empty otherwise, and again once a recording starts.
    [[nodiscard]] QString notice() const { return m_notice; }
    Q_INVOKABLE void clearNotice() { setNotice({}); }
    // "45 min left" while less than two hours of recording fit on the disk; empty otherwise.
    [[nodiscard]] QString timeLeft() const { return m_timeLeft; }
    [[nodiscard]] QString sleepNotice() const { return m_sleepNotice; }
    // "Computer sound is playing on <device>" or "Microphone is silent" while that lasts in a recording; empty
    // otherwise.
    [[nodiscard]] QString captureWarning() const;
    [[nodiscard]] bool canCaptureElsewhere() const { return !m_soundElsewhereSink.isEmpty(); }
    // Records the system output from the device the warning names.
    Q_INVOKABLE void captureElsewhere();

signals:
    void isRecordingChanged();
    void durationChanged();
    void audioLevelChanged();
    void sessionFolderChanged();
    void lastSavedURLChanged();
    void permissionDeniedChanged();
    void systemAudioAvailableChanged();
    void isStartingRecordingChanged();
    void isStoppingRecordingChanged();
    void isReconnectingAudioChanged();
    void noticeChanged();
    void timeLeftChanged();
    void sleepNoticeChanged();
    void captureWarningChanged();
    // A recording stopped: its card can show while its files are finalized and exported.
    void sessionStopping(const QString& folder, double seconds, const std::optional<SessionJournal::Owner>& owner);
    // Its journal now says what came out: the upload tracks, or why there are none.
    void sessionStopped(const SessionJournal& journal);

private:
    QCoro::Task<> lookUpDefaultInput();
    QCoro::Task<bool> microphonePermission();
    std::unique_ptr<AudioCaptureManager> teardown();
    QCoro::Task<> finishStop(std::unique_ptr<AudioCaptureManager> manager, std::optional<SessionLock> lock,
        std::optional<QString> folder, double seconds);
    void tick();
    // The stopped session's journal: its files finalized, and its upload tracks or why there are none.
    static SessionJournal journalStopped(const QString& folder, double seconds, const CaptureSessionResult& result);

    void setRecording(bool on);
    void setDuration(double seconds);
    void setAudioLevel(float level);
    void setSessionFolder(const std::optional<QString>& url);
    void setLastSavedURL(const std::optional<QString>& url);
    void setPermissionDenied(bool on);
    void setSystemAudioAvailable(bool on);
    void setStartingRecording(bool on);
    void changeStopsRunning(int delta);
    void setReconnectingAudio(bool on);
    void setNotice(const QString& text);
    void updateTimeLeft();
    void noticeSleep();
    void setSleepNotice(const QString& text);
    void setCaptureWarnings(bool micSilent, const QString& sink, const QString& description);

    ManagerFactory m_makeManager;
    std::function<std::optional<SessionJournal::Owner>()> m_owner;
    // Held on the running session's folder until its files are finalized.
    std::optional<SessionLock> m_sessionLock;
    // Whose the running session is.
    std::optional<SessionJournal::Owner> m_sessionOwner;
    bool m_isRecording = false;
    double m_duration = 0;
    float m_audioLevel = 0;
    std::optional<QString> m_sessionFolder;
    std::optional<QString> m_lastSavedURL;
    bool m_permissionDenied = false;
    bool m_systemAudioAvailable = false;
    QList<quint32> m_availableInputs;
    std::optional<QString> m_selectedInputID;
    std::unique_ptr<AudioCaptureManager> m_captureManager;
    std::unique_ptr<QTimer> m_timer;
    bool m_isStartingRecording = false;
    int m_stopsRunning = 0;
    bool m_isReconnectingAudio = false;
    QString m_notice;
    QString m_timeLeft;
    SleepClock m_sleepClock;
    std::chrono::nanoseconds m_sleptBefore {};
    QString m_sleepNotice;
    int m_ticks = 0;
    bool m_micSilent = false;
    QString m_soundElsewhereSink;
    QString m_soundElsewhereDescription;
};
