#pragma once

#include "AudioRecorder.h"
#include "RecordingLibrary.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QtQml/qqmlregistration.h>

// Starting and stopping a recording the same way from every control that
// offers it (the home screen's record capsule, the floating widget), and the
// short "Saved" confirmation after a stop.
class RecordingActions : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(AudioRecorder* recorder READ recorder WRITE setRecorder NOTIFY recorderChanged)
    Q_PROPERTY(RecordingLibrary* library READ library WRITE setLibrary NOTIFY libraryChanged)
    // How long "Saved" shows after a stop, in milliseconds.
    Q_PROPERTY(int savedDuration READ savedDuration WRITE setSavedDuration NOTIFY savedDurationChanged)
    Q_PROPERTY(bool showSaved READ showSaved NOTIFY showSavedChanged)

public:
    explicit RecordingActions(QObject* parent = nullptr);

    [[nodiscard]] AudioRecorder* recorder() const { return m_recorder; }
    void setRecorder(AudioRecorder* recorder);
    [[nodiscard]] RecordingLibrary* library() const { return m_library; }
    void setLibrary(RecordingLibrary* library);
    [[nodiscard]] int savedDuration() const { return m_saved.interval(); }
    void setSavedDuration(int ms);
    [[nodiscard]] bool showSaved() const { return m_showSaved; }

    Q_INVOKABLE void start();
    // Stops a running recording through the library and shows "Saved" for savedDuration.
    Q_INVOKABLE void stop();
    // Start when idle, stop while recording.
    Q_INVOKABLE void toggle();

signals:
    void recorderChanged();
    void libraryChanged();
    void savedDurationChanged();
    void showSavedChanged();

private:
    void setShowSaved(bool on);

    QPointer<AudioRecorder> m_recorder;
    QPointer<RecordingLibrary> m_library;
    bool m_showSaved = false;
    QTimer m_saved;
};
