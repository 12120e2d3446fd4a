// Every endpoint the client calls, answered badly (wrong types, cut JSON, 10 MB, HTML): data kept, reported right.
#include "ActionStore.h"
#include "AuthStore.h"
#include "Await.h"
#include "CalendarStore.h"
#include "DevServerProcess.h"
#include "Endpoints.h"
#include "KeychainService.h"
#include "Log.h"
#include "MeetingStore.h"
#include "QtPrinters.h"
#include "QuickRecorder.h"
#include "RecallStore.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJSEngine>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace {

struct BadReply {
    const char* name;
    int status;
    QString body, contentType = u"application/json"_s;
    bool tickAccepts = false; // a tick reads nothing but a boolean "success", which this reply has right
};

const auto htmlPage = [](int status, const QString& title) {
    return u"<!DOCTYPE html>\n<html><head><title>%1 %2"
           u"</title></head><body><h1>%1 %2</h1><hr><center>nginx</center></body></html>\n"_s.arg(status)
               .arg(title);
};

// About ten megabytes after `head`, cut off before any end; random so that a compressed transfer stays large.
QString huge(QString head, quint32 seed)
{
    QRandomGenerator random(seed);
    while (head.size() < (10 << 20))
        head += uR"({"id":%1,"title":"%2"},)"_s.arg(head.size()).arg(random.generate64(), 0, 36);
    return head;
}

const QList<BadReply> badReplies = {
    { "wrong types at the top", 200,
        uR"({"success":"yes","data":"none","meetings":{"title":1},"connected":"yes","needsReauth":1,"autoJoinEnabled":"off","signal":5,"noteId":"12","token":42,"clientToken":7,"url":false,"id":[],"email":1,"name":{}})"_s },
    { "wrong types inside", 200,
        uR"({"success":true,"data":[{"id":"seven","title":3,"created_date_time":"yesterday","done":"no"}],"meetings":[{"title":null,"startTime":5}],"connected":true,"needsReauth":"no","autoJoinEnabled":[false],"signal":{},"noteId":1.5,"token":null,"clientToken":null,"url":{"href":"x"},"id":"u1","email":"a@b.test","name":7})"_s,
        u"application/json"_s, true },
    { "truncated JSON", 200,
        uR"({"success":true,"data":[{"id":1,"title":"Weekly sync","created_date_time":"2025-03-05T09:3)"_s },
    { "10 MB cut-off list", 200, huge(uR"({"success":true,"data":[)"_s, 7) },
    { "10 MB error page", 503, huge(u"<html><body><h1>503 Service Unavailable</h1><pre>\n"_s, 11), u"text/html"_s },
    { "HTML page", 200, htmlPage(200, u"OK"_s), u"text/html"_s },
    { "HTML error page", 502, htmlPage(502, u"Bad Gateway"_s), u"text/html"_s },
    { "HTML error page", 401, htmlPage(401, u"Authorization Required"_s), u"text/html"_s },
    { "secrets in another shape", 200,
        uR"({"success":{"otpCode":123456},"data":{"token":"sekret-1"},"client_token":"sekret-2","note":"kept"})"_s },
    { "empty body", 200, {} },
    { "a list, not an object", 200, u"[]"_s },
};

// Whether a caller reports a bad reply with `status` (as an error text, a log line or a request to reconnect),
// or shows nothing.
using Reports = bool (*)(int status);
const Reports always = [](int) { return true; }, never = [](int) { return false; };
const Reports failedStatus = [](int status) { return status >= 300; }; // a success's body is not read
const Reports not401 = [](int status) { return status != 401; }; // a 401 signs out instead

// The resolved value of a task handed to QML, read through a script engine as QML would.
std::optional<QString> resultOf(QCoro::QmlTask task)
{
    static QJSEngine* engine = new QJSEngine; // outlives a task that has not settled yet
    task.then(engine->evaluate(u"settled = false; (function (value) { settled = true; result = value; })"_s));
    EXPECT_TRUE(waitUntil([&] { return engine->globalObject().property(u"settled"_s).toBool(); }, 90000));
    const QVariant result = engine->globalObject().property(u"result"_s).toVariant();
    return result.isNull() ? std::nullopt : std::optional(result.toString());
}

// Everything one endpoint under one bad reply needs; every store is fresh.
struct World {
    DevServerProcess& service;
    QString token, userId;
    Log::Capture& log;
    TokenProvider tokens = [t = token] { return std::optional(t); };
    MeetingStore notes { tokens };
    ActionStore actions { tokens };
    CalendarStore calendar { tokens };
    RecallStore recall { tokens };
    std::optional<AuthStore> auth {};
    QTemporaryDir dir {};
    QString mic = dir.filePath(u"mic.m4a"_s);
    bool made = !writeBytes(mic, 1 << 16).isEmpty();

    // What follows `prefix` in the one log line starting with it; none without such a line, all of them with more.
    std::optional<QString> logged(const QString& prefix) const
    {
        const QStringList found = log.lines().filter(QRegularExpression(u"^"_s + QRegularExpression::escape(prefix)));
        return found.isEmpty() ? std::nullopt
                               : std::optional(found.size() > 1 ? found.join(u'\n') : found[0].mid(prefix.size()));
    }
    QString signedIn() const
    {
        return (auth && auth->currentUser() ? auth->currentUser()->email : u"signed out"_s) + u'|'
            + KeychainService::loadToken().value_or(u"no token"_s);
    }
};

// The entries of a list by `key`, marked while the store loads or shows an error: what a bad reply must not change.
QString keysOf(const auto& list, auto key, bool loading, bool error = false)
{
    QStringList out;
    std::ranges::transform(list, std::back_inserter(out), key);
    return out.join(u',') + (loading ? u" loading"_s : QString()) + (error ? u" error"_s : QString());
}

const auto idOf = [](const auto& entry) { return QString::number(entry.id); };

struct Endpoint {
    const char* name;
    QString path, method;
    Reports reports;
    std::function<QString(World&)> state; // what must be kept; empty when the arrange failed
    std::function<std::optional<QString>(World&)> call; // the call answered badly; what it reported
    std::function<void(World&)> arrange = {}; // what is there before; the call itself if none
    bool tick = false; // a taken tick flips the state
};

// The upload queue's run of the local track: it fails with what it reports, and the track stays.
Endpoint upload(const char* name, const QString& path, const QString& method)
{
    return { name, path, method, always, [](World& w) { return QFile::exists(w.mic) ? u"track kept"_s : QString(); },
        [](World& w) -> std::optional<QString> {
            UploadPipeline pipeline(w.service.url(u"/blob/"_s).toString(), { 3, 0.01 });
            const auto run = runUploadQueue(pipeline, w.dir.path(), u"mic.m4a"_s, std::nullopt, w.token);
            return !run.isEmpty() && run.last().stage() == UploadStatus::Failed ? std::optional(run.last().message())
                                                                                : std::nullopt;
        },
        [](World&) {} }; // the track is there from the start
}

const auto signIn = [](World& w) { w.auth.emplace(); };
const auto detail = [](World& w) { await(w.notes.loadMeetings()), await(w.notes.loadDetail(2)); };
const auto calendar = [](World& w) -> std::optional<QString> {
    await(w.calendar.load(w.userId));
    return w.calendar.calendarNeedsReauth() ? u"asks to reconnect"_s : w.logged(u"[CalendarStore]"_s);
};
const auto meetings = [](World& w) {
    return w.calendar.calendarConnected() ? keysOf(w.calendar.meetings(), &UpcomingMeeting::id, w.calendar.isLoading())
                                          : QString();
};
// What `part` makes of the open note and its store; none without an open note.
const auto shownNote = [](auto part) {
    return [part](World& w) { return w.notes.meetingDetail() ? part(*w.notes.meetingDetail(), w.notes) : QString(); };
};
const auto firstTick = [](const auto& list) { return list.isEmpty() ? QString() : QString::number(list[0].done); };
const QList<Endpoint> endpoints = {
    { "the user", u"/api/desktop/me"_s, u"GET"_s, not401, &World::signedIn,
        [](World& w) { return await(w.auth->loadUser()), w.auth->error(); },
        [](World& w) {
            KeychainService::saveToken(w.token), w.auth.emplace();
            ASSERT_TRUE(waitUntil([&] { return w.auth->currentUser().has_value(); }, 10000));
        } },
    { "the code request", u"/api/desktop/auth/otp"_s, u"POST"_s, failedStatus, &World::signedIn,
        [](World& w) { return resultOf(w.auth->requestOTP(DevServerProcess::demoEmail)); }, signIn },
    { "the code verification", u"/api/desktop/auth/otp"_s, u"POST"_s, always, &World::signedIn,
        [](World& w) {
            w.auth->verifyOTP(DevServerProcess::demoEmail, u"123456"_s);
            return waitUntil([&] { return !w.auth->isLoading(); }, 30000) ? w.auth->error() : std::nullopt;
        },
        signIn },
    { "the notes list", u"/api/v2/meeting-notes"_s, u"GET"_s, always,
        [](World& w) { return keysOf(w.notes.meetings(), idOf, w.notes.isLoading(), !!w.notes.error()); },
        [](World& w) { return await(w.notes.loadMeetings()), w.logged(u"[MeetingStore] notes fetch failed: "_s); } },
    { "a note's detail", u"/api/v2/meeting-notes/*"_s, u"GET"_s, always,
        shownNote([](const auto& d, auto& s) { return idOf(d) + (s.isLoadingDetail() ? u" loading"_s : QString()); }),
        [](World& w) { return await(w.notes.loadDetail(3)), w.notes.error(); }, detail },
    { "a tick in a note", u"/api/v2/meeting-notes/*"_s, u"PATCH"_s, never, shownNote([](const auto& d, auto& s) {
         return firstTick(d.actionItems) + (s.error() ? u" error"_s : QString());
     }),
        [](World& w) {
            const V2ActionItem item = w.notes.meetingDetail()->actionItems.first();
            return await(w.notes.toggleActionItem(2, item.key(), !item.done)), w.logged(u"[MeetingStore]"_s);
        },
        detail, true },
    { "the action items", u"/api/v2/action-items"_s, u"GET"_s, always,
        [](World& w) {
            return keysOf(
                w.actions.items(), [](const auto& i) { return ActionStore::identityOf(i) + (i.done ? u'+' : u'-'); },
                w.actions.isLoading());
        },
        [](World& w) { return await(w.actions.load()), w.logged(u"[ActionStore] load failed: "_s); } },
    { "a tick in the action items", u"/api/v2/meeting-notes/*"_s, u"PATCH"_s, never,
        [](World& w) { return firstTick(w.actions.items()); },
        [](World& w) { return await(w.actions.toggle(w.actions.items().first())), w.logged(u"[ActionStore]"_s); },
        [](World& w) { await(w.actions.load()); }, true },
    { "the calendar status", u"/api/recall/calendar/status"_s, u"GET"_s, never, meetings, calendar },
    { "the upcoming meetings", u"/api/recall/upcoming-meetings"_s, u"GET"_s, [](int status) { return status == 401; },
        meetings, calendar },
    { "the bot settings", u"/api/recall/settings"_s, u"GET"_s, always,
        [](World& w) { return w.recall.isLoaded() ? QString::number(w.recall.autoJoinEnabled()) : QString(); },
        [](World& w) { return await(w.recall.loadSettings()), w.logged(u"[RecallStore] loadSettings failed: "_s); } },
    { "the bot switch", u"/api/recall/meeting-bot-preference"_s, u"POST"_s, always,
        [](World& w) { return w.calendar.meetings().isEmpty() ? QString() : u"a meeting to switch"_s; },
        [](World& w) {
            return await(w.recall.toggleMeetingBot(w.calendar.meetings().first(), true)),
                   w.logged(u"[RecallStore] toggleMeetingBot failed: "_s);
        },
        [](World& w) { await(w.calendar.load(w.userId)); } },
    upload("the upload token", u"/api/desktop/meeting-notes/upload-token"_s, u"POST"_s),
    upload("the blob upload", u"/blob/*"_s, u"PUT"_s),
    upload("the upload notice", u"/api/desktop/meeting-notes"_s, u"POST"_s),
};

}

TEST(BadRepliesTest, EveryEndpointUnderEveryBadReplyKeepsItsDataAndReportsAsItShould)
{
    DevServerProcess service;
    Endpoints::setServiceOrigin(service.origin());
    const QJsonValue session = service.control("POST", "/__dev/token", { { u"email"_s, DevServerProcess::demoEmail } });
    ASSERT_FALSE(session[u"token"_s].toString().isEmpty());
    for (const Endpoint& endpoint : endpoints) {
        for (const BadReply& reply : badReplies) {
            SCOPED_TRACE(std::string(endpoint.name) + " ← " + reply.name + " (" + std::to_string(reply.status) + ")");
            KeychainService::deleteToken();
            APIClient::shared().network().clearConnectionCache();
            Log::Capture log;
            World w { service, session[u"token"_s].toString(), session[u"user"_s][u"id"_s].toString(), log };
            endpoint.arrange ? endpoint.arrange(w) : void(endpoint.call(w));
            const QString before = endpoint.state(w);
            ASSERT_FALSE(before.isEmpty()) << "the arrange failed";
            const QJsonObject fault { { u"path"_s, endpoint.path }, { u"method"_s, endpoint.method },
                { u"status"_s, reply.status }, { u"count"_s, -1 }, { u"body"_s, reply.body },
                { u"contentType"_s, reply.contentType } };
            ASSERT_TRUE(service.control("POST", "/__dev/faults", fault)[u"success"_s].toBool());
            log.clear();
            const std::optional<QString> reported = endpoint.call(w);
            // A failure is reported as one, with a text, and never as a success; where nothing is shown, nothing is.
            EXPECT_EQ(reported.has_value() && !reported->isEmpty(), endpoint.reports(reply.status))
                << reported.value_or(u"(nothing)"_s).toStdString();
            const bool flips = endpoint.tick && reply.tickAccepts && reply.status < 300;
            const bool signsOut = endpoint.reports == not401 && reply.status == 401;
            const QString after = endpoint.state(w);
            EXPECT_TRUE(flips ? after != before : after == (signsOut ? u"signed out|no token"_s : before))
                << after.toStdString();
            service.control("DELETE", "/__dev/faults");
            const QString logged = log.lines().join(u'\n');
            EXPECT_FALSE(logged.contains(u"sekret"_s) || logged.contains(w.token)) << "a secret in the log";
        }
    }
}
