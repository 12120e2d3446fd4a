#include "AppDelegate.h"

#include "ActionStore.h"
#include "AudioRecorder.h"
#include "AuthStore.h"
#include "AutostartEntry.h"
#include "CalendarStore.h"
#include "GlobalShortcut.h"
#include "KeychainService.h"
#include "MeetingDetector.h"
#include "MeetingStore.h"
#include "RecallStore.h"
#include "RecordingLibrary.h"
#include "RecordingPanelController.h"
#include "RecordingRetention.h"

#include <QCoroQml>
#include <QQmlEngine>

#include <mutex>

// Made by the type registration of Echoquill.Shared (SharedObjects.h).
void qml_register_types_Echoquill_Shared();

namespace {

constexpr auto delegateProperty = "echoquillAppDelegate";

}

AppDelegate::AppDelegate(QObject* parent)
    : QObject(parent)
{
    constructStores();
}

AppDelegate::~AppDelegate()
{
    // The widget reads the recorder and the detector until it is gone: it goes
    // first, not after them in the order the stores were made.
    delete m_recordingPanelController;
}

void AppDelegate::constructStores()
{
    // The order is fixed: session, recorder, meetings, actions, calendar,
    // meeting bot, detector. The widget controller comes once launching finished.
    // The session store is the first to touch the one shared API client.
    m_authStore = new AuthStore(APIClient::shared(), this);
    m_audioRecorder = new AudioRecorder(this);
    m_meetingStore = new MeetingStore(&KeychainService::loadToken, this);
    // A recording belongs to whoever is signed in when it starts.
    const auto account = [auth = m_authStore]() -> std::optional<RecordingLibrary::Owner> {
        if (const std::optional<EQUser>& user = auth->currentUser())
            return RecordingLibrary::Owner { user->id, user->email };
        return std::nullopt;
    };
    m_recordingLibrary
        = new RecordingLibrary(m_audioRecorder, account, &KeychainService::loadToken, {}, nullptr, {}, this);
    m_recordingLibrary->setNoteFinder([store = QPointer(m_meetingStore)](std::optional<qint64> noteId,
                                          QDateTime since) -> QCoro::Task<std::optional<MeetingNote>> {
        if (!store)
            co_return std::nullopt;
        co_return co_await store->findNote(noteId, since);
    });
    connect(m_authStore, &AuthStore::currentUserChanged, m_recordingLibrary, &RecordingLibrary::accountChanged);
    connect(m_recordingLibrary, &RecordingLibrary::openNote, m_meetingStore,
        [store = m_meetingStore](qint64 noteId) { store->setNavigateToMeetingId(noteId); });
    m_actionStore = new ActionStore(&KeychainService::loadToken, this);
    m_calendarStore = new CalendarStore(&KeychainService::loadToken, this);
    m_recallStore = new RecallStore(&KeychainService::loadToken, this);
    m_meetingDetector = new MeetingDetector(this);
    m_recordingRetention = new RecordingRetention(m_recordingLibrary->folder(), this);
    m_autostartEntry = new AutostartEntry(this);
    m_globalShortcut = new GlobalShortcut(this);
}

void AppDelegate::exposeTo(QQmlEngine& engine)
{
    // Our QML modules live in the resources under their URI path.
    engine.addImportPath(QStringLiteral("qrc:/"));
    // Store operations hand QML a task whose .then() runs when they end.
    static std::once_flag taskType;
    std::call_once(taskType, QCoro::Qml::registerTypes);
    engine.setProperty(delegateProperty, QVariant::fromValue(this));
    // The module registers its singletons when QML first imports it; naming its
    // registration keeps that in the program (there is no plugin to import).
    volatile auto sharedTypes = &qml_register_types_Echoquill_Shared;
    Q_UNUSED(sharedTypes);
}

AppDelegate* AppDelegate::exposedTo(const QQmlEngine* engine)
{
    return engine ? engine->property(delegateProperty).value<AppDelegate*>() : nullptr;
}

void AppDelegate::finishLaunching()
{
    // The widget is there whether or not anyone is signed in.
    delete m_recordingPanelController;
    m_recordingPanelController
        = new RecordingPanelController(m_audioRecorder, m_recordingLibrary, m_meetingDetector, m_authStore, {}, this);
    m_recordingPanelController->show();
    m_meetingDetector->startMonitoring();
    // Uploads an earlier run left unfinished go on (a failed one waits for Retry); off the main
    // thread, what a stopped client left is repaired while the window is already up.
    m_recordingLibrary->scan(m_recordingRetention->keepDays());
}

void AppDelegate::prepareToQuit()
{
    m_meetingDetector->stopMonitoring();
    // A recording still running is closed on disk (segments and metadata), not
    // exported or uploaded, so nothing recorded is lost by quitting.
    m_audioRecorder->finishForQuit();
}
