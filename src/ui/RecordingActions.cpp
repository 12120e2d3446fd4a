#include "RecordingActions.h"

RecordingActions::RecordingActions(QObject* parent)
    : QObject(parent)
{
    m_saved.setSingleShot(true);
    m_saved.setInterval(2000);
    connect(&m_saved, &QTimer::timeout, this, [this] { setShowSaved(false); });
}

void RecordingActions::setRecorder(AudioRecorder* recorder)
{
    if (recorder == m_recorder)
        return;
    m_recorder = recorder;
    emit recorderChanged();
}

void RecordingActions::setLibrary(RecordingLibrary* library)
{
    if (library == m_library)
        return;
    m_library = library;
    emit libraryChanged();
}

void RecordingActions::setSavedDuration(int ms)
{
    if (ms == m_saved.interval())
        return;
    m_saved.setInterval(ms);
    emit savedDurationChanged();
}

void RecordingActions::start()
{
    if (m_recorder)
        m_recorder->startRecording();
}

void RecordingActions::stop()
{
    if (!m_recorder || !m_library || !m_recorder->isRecording())
        return;
    m_library->stopRecording();
    setShowSaved(true);
    m_saved.start();
}

void RecordingActions::toggle()
{
    if (!m_recorder)
        return;
    if (m_recorder->isRecording())
        stop();
    else
        start();
}

void RecordingActions::setShowSaved(bool on)
{
    if (on == m_showSaved)
        return;
    m_showSaved = on;
    emit showSavedChanged();
}
