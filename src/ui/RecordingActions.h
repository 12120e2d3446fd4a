#pragma once

#include "AudioRecorder.h"
#include "MeetingStore.h"
#include "TokenProvider.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUuid>
#include <QtQml/qqmlregistration.h>

#include <optional>

// Starting and stopping a recording the same way from every control that
// offers it (the home screen's record capsule, the floating widget), and the
// short "Saved" confirmation after a stop.
class RecordingActions : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(AudioRecorder* recorder READ recorder WRITE setRecorder NOTIFY recorderChanged)
    Q_PROPERTY(MeetingStore* meetingStore READ meetingStore WRITE setMeetingStore NOTIFY meetingStoreChanged)
    // How long "Saved" shows after a stop, in milliseconds.
    Q_PROPERTY(int savedDuration READ savedDuration WRITE setSavedDuration NOTIFY savedDurationChanged)
    Q_PROPERTY(bool showSaved READ showSaved NOTIFY showSavedChanged)

public:
    explicit RecordingActions(QObject* parent = nullptr);

    // The one way a recording ends. With a token, a pending upload named after
    // the session folder joins the meeting store and the recorder uploads the
    // recording, reporting every stage to that record; without a token the
    // recording only stops. Returns the pending upload's id when one was added
    // (never when the recorder holds no session, so no card waits forever).
    static std::optional<QUuid> stopRecording(
        AudioRecorder& recorder, MeetingStore& store, const std::optional<QString>& token);

    [[nodiscard]] AudioRecorder* recorder() const { return m_recorder; }
    void setRecorder(AudioRecorder* recorder);
    [[nodiscard]] MeetingStore* meetingStore() const { return m_store; }
    void setMeetingStore(MeetingStore* store);
    [[nodiscard]] int savedDuration() const { return m_saved.interval(); }
    void setSavedDuration(int ms);
    [[nodiscard]] bool showSaved() const { return m_showSaved; }
    // Where the stored token comes from; the keychain unless a test says otherwise.
    void setTokenProvider(TokenProvider tokens) { m_tokens = std::move(tokens); }

    Q_INVOKABLE void start();
    // Stops a running recording with stopRecording() and shows "Saved" for savedDuration.
    Q_INVOKABLE void stop();
    // Start when idle, stop while recording.
    Q_INVOKABLE void toggle();

signals:
    void recorderChanged();
    void meetingStoreChanged();
    void savedDurationChanged();
    void showSavedChanged();

private:
    void setShowSaved(bool on);

    QPointer<AudioRecorder> m_recorder;
    QPointer<MeetingStore> m_store;
    TokenProvider m_tokens;
    bool m_showSaved = false;
    QTimer m_saved;
};
