#include "DesktopShell.h"

#include "AppDelegate.h"
#include "AudioRecorder.h"
#include "DesktopNotifications.h"
#include "GlobalShortcut.h"
#include "MeetingDetector.h"
#include "MeetingStore.h"
#include "RecordingLibrary.h"
#include "RecordingPanelController.h"
#include "SleepInhibitor.h"
#include "TrayIcon.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QWindow>

using namespace Qt::StringLiterals;

DesktopShell::DesktopShell(AppDelegate& delegate, QWindow& window, QObject* parent)
    : QObject(parent)
    , m_delegate(delegate)
    , m_window(window)
    , m_tray(new TrayIcon(this))
    , m_notifications(new DesktopNotifications(this))
    , m_sleepInhibitor(new SleepInhibitor(this))
{
    // The widget, the detector, a recording and the queue outlive a closed window.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    m_window.installEventFilter(this);

    AudioRecorder* recorder = delegate.audioRecorder();
    MeetingStore* store = delegate.meetingStore();
    RecordingLibrary* library = delegate.recordingLibrary();
    connect(m_tray, &TrayIcon::openRequested, this, &DesktopShell::openMainWindow);
    connect(m_tray, &TrayIcon::startRequested, recorder, &AudioRecorder::start);
    connect(m_tray, &TrayIcon::stopRequested, library, &RecordingLibrary::stopRecording);
    connect(m_tray, &TrayIcon::showWidgetRequested, this, [this] {
        if (RecordingPanelController* widget = m_delegate.recordingPanelController())
            widget->show();
    });
    connect(m_tray, &TrayIcon::quitRequested, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    // Wherever the focus is, the shortcut starts or stops as the status icon's menu does.
    connect(delegate.globalShortcut(), &GlobalShortcut::activated, this, [recorder, library] {
        if (recorder->isRecording())
            library->stopRecording();
        else
            recorder->start();
    });

    connect(recorder, &AudioRecorder::isRecordingChanged, this, &DesktopShell::updateLook);
    // Awake from the start of a recording to its stop.
    connect(recorder, &AudioRecorder::isRecordingChanged, m_sleepInhibitor, [this, recorder] {
        if (recorder->isRecording())
            m_sleepInhibitor->hold();
        else
            m_sleepInhibitor->release();
    });
    connect(library, &RecordingLibrary::cardsChanged, this, &DesktopShell::updateLook);
    connect(library, &RecordingLibrary::noteReady, this, [this, store](qint64 noteId, const QString& title) {
        m_notifications->notify(u"Your notes are ready"_s, title, { u"default"_s, u"Open"_s },
            [this, store, noteId](const QString& action) {
                if (action != u"default"_s)
                    return;
                openMainWindow();
                store->setNavigateToMeetingId(noteId);
            });
    });
    connect(library, &RecordingLibrary::uploadFailed, this, &DesktopShell::uploadFailed);
    connect(
        delegate.meetingDetector(), &MeetingDetector::currentDetectionChanged, this, &DesktopShell::followDetection);
    connect(recorder, &AudioRecorder::isRecordingChanged, this, &DesktopShell::followDetection);
}

DesktopShell::~DesktopShell()
{
    delete m_question;
}

void DesktopShell::openMainWindow()
{
    m_window.show();
    m_window.raise();
    m_window.requestActivate();
}

void DesktopShell::activate(const QStringList& arguments)
{
    if (!arguments.contains(u"--background"_s))
        openMainWindow();
}

bool DesktopShell::isUploading() const
{
    return m_delegate.recordingLibrary()->isUploading();
}

void DesktopShell::updateLook()
{
    m_tray->setLook(m_delegate.audioRecorder()->isRecording() ? TrayIcon::Look::Recording
            : isUploading()                                   ? TrayIcon::Look::Uploading
                                                              : TrayIcon::Look::Idle);
}

void DesktopShell::quitFromWindow()
{
    const bool recording = m_delegate.audioRecorder()->isRecording();
    if (!recording && !isUploading()) {
        QCoreApplication::quit();
        return;
    }
    if (m_question)
        return;
    // Not modal-blocking: the recording and the queue go on while the question is up.
    m_question = new QMessageBox(QMessageBox::Question, u"Echoquill"_s,
        recording ? u"A recording is running. Stop it and quit?"_s : u"An upload is running. Stop it and quit?"_s);
    QPushButton* quit = m_question->addButton(u"Stop and Quit"_s, QMessageBox::AcceptRole);
    m_question->addButton(QMessageBox::Cancel);
    m_question->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_question, &QMessageBox::buttonClicked, this, [quit](QAbstractButton* button) {
        // The running recording is closed on disk by the quit path; the queue takes up again at the next start.
        if (button == quit)
            QCoreApplication::quit();
    });
    m_question->open();
}

bool DesktopShell::widgetMayGoUnseen()
{
    return QGuiApplication::platformName() == u"wayland"_s || !QSystemTrayIcon::isSystemTrayAvailable();
}

void DesktopShell::followDetection()
{
    const std::optional<MeetingDetection>& detection = m_delegate.meetingDetector()->currentDetection();
    const std::optional<QString> meeting = detection ? std::optional(detection->displayName) : std::nullopt;
    const bool recording = m_delegate.audioRecorder()->isRecording();
    // No offer stays once its meeting is gone or dismissed, or a recording has begun by any road.
    if (recording || meeting != m_offeredMeeting)
        m_notifications->withdraw(std::exchange(m_offer, 0));
    // Once per detection: not again on the next poll, nor after a recording of the same meeting.
    if (meeting == m_offeredMeeting)
        return;
    m_offeredMeeting = meeting;
    if (!detection || recording || !widgetMayGoUnseen())
        return;
    QPointer<AudioRecorder> recorder = m_delegate.audioRecorder();
    QPointer<MeetingDetector> detector = m_delegate.meetingDetector();
    m_offer = m_notifications->notify(
        detection->appName() + u" meeting detected"_s, *meeting,
        { u"record"_s, u"Record"_s, u"dismiss"_s, u"Dismiss"_s },
        [recorder, detector, meeting](const QString& action) {
            // As the widget's Record and ✕ buttons do.
            if (action == u"record"_s && recorder)
                recorder->start();
            else if (action == u"dismiss"_s && detector && detector->currentDetection()
                && detector->currentDetection()->displayName == meeting)
                detector->dismissCurrentDetection();
        },
        DesktopNotifications::WhilePaused::holdBack);
}

bool DesktopShell::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &m_window && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Quit)) {
        quitFromWindow();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void DesktopShell::uploadFailed(const QString& folder, const QString& message)
{
    QPointer<RecordingLibrary> library = m_delegate.recordingLibrary();
    m_notifications->notify(
        u"Upload failed"_s, message, { u"retry"_s, u"Retry"_s }, [library, folder](const QString& action) {
            // Through the library, which shows "Uploading…" on the card again and keeps what the user kept.
            if (action == u"retry"_s && library)
                library->retry(folder);
        });
}
