#include "RecordingActions.h"

#include "KeychainService.h"

#include <QDir>
#include <QFileInfo>

RecordingActions::RecordingActions(QObject* parent)
    : QObject(parent)
    , m_tokens(&KeychainService::loadToken)
{
    m_saved.setSingleShot(true);
    m_saved.setInterval(2000);
    connect(&m_saved, &QTimer::timeout, this, [this] { setShowSaved(false); });
}

std::optional<QUuid> RecordingActions::stopRecording(
    AudioRecorder& recorder, MeetingStore& store, const std::optional<QString>& token)
{
    if (!token || !recorder.hasCaptureManager()) {
        recorder.stopRecording();
        return std::nullopt;
    }
    // Named and measured now: stopping clears the recorder's session folder.
    const std::optional<QString>& session = recorder.currentFileURL();
    const QString folder = session ? QFileInfo(QDir::cleanPath(*session)).fileName() : QString();
    const QUuid id = store.addPendingUpload(folder, recorder.duration(), session.value_or(QString()));
    QPointer<MeetingStore> target(&store);
    recorder.stopAndUpload(*token, [target, id](const UploadStatus& status) {
        if (target)
            target->updatePendingUpload(id, status);
    });
    return id;
}

void RecordingActions::setRecorder(AudioRecorder* recorder)
{
    if (recorder == m_recorder)
        return;
    m_recorder = recorder;
    emit recorderChanged();
}

void RecordingActions::setMeetingStore(MeetingStore* store)
{
    if (store == m_store)
        return;
    m_store = store;
    emit meetingStoreChanged();
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
    if (!m_recorder || !m_store || !m_recorder->isRecording())
        return;
    stopRecording(*m_recorder, *m_store, m_tokens());
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
