#pragma once

#include "ActionItemsModel.h"
#include "ActionStore.h"
#include "AppDelegate.h"
#include "AudioRecorder.h"
#include "AuthStore.h"
#include "AutostartEntry.h"
#include "CalendarStore.h"
#include "GlobalShortcut.h"
#include "MeetingDetector.h"
#include "MeetingStore.h"
#include "RecallStore.h"
#include "RecordingLibrary.h"
#include "RecordingRetention.h"

#include <QQmlEngine>

// The objects the application delegate owns, as the singletons of the QML
// module Echoquill.Shared (AuthStore, …). Each engine gets those of the
// delegate that exposed itself to it; the delegate keeps them.
namespace SharedObjects {

template <class T> T* of(QQmlEngine* engine, T* (AppDelegate::*instance)() const)
{
    AppDelegate* delegate = AppDelegate::exposedTo(engine);
    if (!delegate)
        return nullptr;
    T* object = (delegate->*instance)();
    QJSEngine::setObjectOwnership(object, QJSEngine::CppOwnership);
    return object;
}

struct SharedAuthStore {
    Q_GADGET
    QML_FOREIGN(AuthStore)
    QML_NAMED_ELEMENT(AuthStore)
    QML_SINGLETON
public:
    static AuthStore* create(QQmlEngine* engine, QJSEngine*) { return of(engine, &AppDelegate::authStore); }
};

struct SharedAudioRecorder {
    Q_GADGET
    QML_FOREIGN(AudioRecorder)
    QML_NAMED_ELEMENT(AudioRecorder)
    QML_SINGLETON
public:
    static AudioRecorder* create(QQmlEngine* engine, QJSEngine*) { return of(engine, &AppDelegate::audioRecorder); }
};

struct SharedMeetingStore {
    Q_GADGET
    QML_FOREIGN(MeetingStore)
    QML_NAMED_ELEMENT(MeetingStore)
    QML_SINGLETON
public:
    static MeetingStore* create(QQmlEngine* engine, QJSEngine*) { return of(engine, &AppDelegate::meetingStore); }
};

struct SharedActionStore {
    Q_GADGET
    QML_FOREIGN(ActionStore)
    QML_NAMED_ELEMENT(ActionStore)
    QML_SINGLETON
public:
    static ActionStore* create(QQmlEngine* engine, QJSEngine*) { return of(engine, &AppDelegate::actionStore); }
};

// The rows of ActionStore.sections.
struct SharedActionItemsModel {
    Q_GADGET
    QML_FOREIGN(ActionItemsModel)
    QML_ANONYMOUS
};

struct SharedCalendarStore {
    Q_GADGET
    QML_FOREIGN(CalendarStore)
    QML_NAMED_ELEMENT(CalendarStore)
    QML_SINGLETON
public:
    static CalendarStore* create(QQmlEngine* engine, QJSEngine*) { return of(engine, &AppDelegate::calendarStore); }
};

struct SharedRecallStore {
    Q_GADGET
    QML_FOREIGN(RecallStore)
    QML_NAMED_ELEMENT(RecallStore)
    QML_SINGLETON
public:
    static RecallStore* create(QQmlEngine* engine, QJSEngine*) { return of(engine, &AppDelegate::recallStore); }
};

struct SharedMeetingDetector {
    Q_GADGET
    QML_FOREIGN(MeetingDetector)
    QML_NAMED_ELEMENT(MeetingDetector)
    QML_SINGLETON
public:
    static MeetingDetector* create(QQmlEngine* engine, QJSEngine*) { return of(engine, &AppDelegate::meetingDetector); }
};

struct SharedRecordingLibrary {
    Q_GADGET
    QML_FOREIGN(RecordingLibrary)
    QML_NAMED_ELEMENT(RecordingLibrary)
    QML_SINGLETON
public:
    static RecordingLibrary* create(QQmlEngine* engine, QJSEngine*)
    {
        return of(engine, &AppDelegate::recordingLibrary);
    }
};

struct SharedRecordingRetention {
    Q_GADGET
    QML_FOREIGN(RecordingRetention)
    QML_NAMED_ELEMENT(RecordingRetention)
    QML_SINGLETON
public:
    static RecordingRetention* create(QQmlEngine* engine, QJSEngine*)
    {
        return of(engine, &AppDelegate::recordingRetention);
    }
};

struct SharedAutostartEntry {
    Q_GADGET
    QML_FOREIGN(AutostartEntry)
    QML_NAMED_ELEMENT(AutostartEntry)
    QML_SINGLETON
public:
    static AutostartEntry* create(QQmlEngine* engine, QJSEngine*) { return of(engine, &AppDelegate::autostartEntry); }
};

struct SharedGlobalShortcut {
    Q_GADGET
    QML_FOREIGN(GlobalShortcut)
    QML_NAMED_ELEMENT(GlobalShortcut)
    QML_SINGLETON
public:
    static GlobalShortcut* create(QQmlEngine* engine, QJSEngine*) { return of(engine, &AppDelegate::globalShortcut); }
};

}
