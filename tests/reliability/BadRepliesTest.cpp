// Every endpoint the client calls, answered by the local service with bad
// replies (wrong types, truncated JSON, 10 MB bodies, HTML error pages; with
// status 200 and with error statuses). Each store and the session store must
// come through with its previous data and the error handling of its own:
// an error text, a log line, or a silent revert.
#include "APIClient.h"
#include "ActionStore.h"
#include "AuthStore.h"
#include "Await.h"
#include "CalendarStore.h"
#include "DevServerProcess.h"
#include "Endpoints.h"
#include "KeychainService.h"
#include "Log.h"
#include "MeetingStore.h"
#include "RecallStore.h"
#include "UploadPipeline.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QFile>
#include <QJSEngine>
#include <QTemporaryDir>

#include <functional>
#include <iostream>

using namespace Qt::StringLiterals;

namespace {

struct BadReply {
    const char *name;
    int status;
    QString body;
    QString contentType = u"application/json"_s;
    // The action-item ticks read nothing but a boolean "success", which this reply has right.
    bool tickAccepts = false;
};

QString htmlPage(int status, const QString &title)
{
    return u"<!DOCTYPE html>\n<html><head><title>%1 %2</title></head><body><h1>%1 %2</h1><hr><center>nginx</center>"
           u"</body></html>\n"_s.arg(status).arg(title);
}

// Text that compresses about as well as real replies do: the service may
// compress what it sends, and a body of one repeated row would shrink to a few
// kilobytes on the wire and be cut by the transport's decompression guard before
// the client ever read it.
QString scrambled(quint32 &seed, int length)
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789 ";
    QString out(length, Qt::Uninitialized);
    for (QChar &c : out) {
        seed = seed * 1664525u + 1013904223u;
        c = QLatin1Char(alphabet[(seed >> 24) % (sizeof alphabet - 1)]);
    }
    return out;
}

// About ten megabytes after `head`, cut off before any end.
QString huge(QString head, quint32 seed)
{
    while (head.size() < (10 << 20))
        head += uR"({"id":%1,"title":"%2"},)"_s.arg(head.size()).arg(scrambled(seed, 60));
    return head;
}

const QList<BadReply> &badReplies()
{
    static const QList<BadReply> replies = {
        {"wrong types at the top", 200,
         uR"({"success":"yes","data":"none","meetings":{"title":1},"connected":"yes","needsReauth":1,"autoJoinEnabled":"off","signal":5,"noteId":"12","token":42,"clientToken":7,"url":false,"id":[],"email":1,"name":{}})"_s},
        {"wrong types inside", 200,
         uR"({"success":true,"data":[{"id":"seven","title":3,"created_date_time":"yesterday","done":"no"}],"meetings":[{"title":null,"startTime":5}],"connected":true,"needsReauth":"no","autoJoinEnabled":[false],"signal":{},"noteId":1.5,"token":null,"clientToken":null,"url":{"href":"x"},"id":"u1","email":"a@b.test","name":7})"_s,
         u"application/json"_s, true},
        {"truncated JSON", 200, uR"({"success":true,"data":[{"id":1,"title":"Weekly sync","created_date_time":"2025-03-05T09:3)"_s},
        {"truncated JSON", 500, uR"({"success":false,"error":"Internal server err)"_s},
        {"10 MB cut-off list", 200, huge(uR"({"success":true,"data":[)"_s, 7)},
        {"10 MB error page", 503, huge(u"<html><body><h1>503 Service Unavailable</h1><pre>\n"_s, 11), u"text/html"_s},
        {"HTML page", 200, htmlPage(200, u"OK"_s), u"text/html"_s},
        {"HTML error page", 502, htmlPage(502, u"Bad Gateway"_s), u"text/html"_s},
        {"HTML error page", 401, htmlPage(401, u"Authorization Required"_s), u"text/html"_s},
        {"empty body", 200, {}},
        {"a list, not an object", 200, u"[]"_s},
    };
    return replies;
}

// How a call reaches the service, which decides what a bad reply turns into.
enum class Via {
    Client,             // get, post, patch of the API client: the reply is decoded into a record
    ClientIgnoringBody, // the code request: only the status counts
    TokenCall,          // the pipeline's own upload-token request
    BlobCall,           // the pipeline's own blob upload
};

// What the caller is told: nothing (the reply is taken), or an error description:
// exactly `text`, or starting with `text` and more, or the JSON parser's own
// error passed on without "Data error: ".
struct Expectation {
    enum Kind { taken, exactly, startingWith, theParsersError } kind;
    QString text;

    [[nodiscard]] bool matches(const std::optional<QString> &description) const
    {
        if (kind == taken || !description)
            return kind == taken && !description;
        if (kind == theParsersError)
            return !description->isEmpty() && !description->startsWith(u"Data error: "_s);
        if (kind == startingWith)
            return description->startsWith(text) && description->size() > text.size();
        return *description == text;
    }
    [[nodiscard]] bool accepted() const { return kind == taken; }
    [[nodiscard]] std::string describe() const { return (QString::number(kind) + u' ' + text).toStdString(); }
};

bool isJsonObjectOrList(const QString &body)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body.toUtf8(), &error);
    return error.error == QJsonParseError::NoError && (doc.isObject() || doc.isArray());
}

Expectation expectationFor(Via via, const BadReply &reply, bool tick)
{
    const bool success = reply.status >= 200 && reply.status <= 299;
    if (!success) {
        if (reply.status == 401 && (via == Via::Client || via == Via::ClientIgnoringBody))
            return Expectation{Expectation::exactly, u"Session expired, please sign in again"_s};
        return Expectation{Expectation::exactly, u"Server error (%1)"_s.arg(reply.status)};
    }
    switch (via) {
    case Via::Client:
        if (tick && reply.tickAccepts)
            return {Expectation::taken, {}};
        return Expectation{Expectation::startingWith, u"Data error: "_s};
    case Via::ClientIgnoringBody:
        return {Expectation::taken, {}};
    case Via::TokenCall:
        if (!isJsonObjectOrList(reply.body))
            return {Expectation::theParsersError, {}};
        return Expectation{Expectation::exactly, u"Data error: Missing clientToken in response"_s};
    case Via::BlobCall:
        if (!isJsonObjectOrList(reply.body))
            return {Expectation::theParsersError, {}};
        return Expectation{Expectation::exactly, u"Data error: Missing url in Vercel Blob response"_s};
    }
    return {};
}

// How the client's log names an error in its "printed" form.
QString printedPrefix(const BadReply &reply)
{
    if (reply.status == 401)
        return u"unauthorized"_s;
    if (reply.status >= 300)
        return u"httpError(%1)"_s.arg(reply.status);
    return u"decodingError("_s;
}

// The resolved value of a task handed to QML, read through a script engine as QML would.
QVariant resultOf(QCoro::QmlTask task)
{
    // Outlives any task that has not settled yet, whose callback would otherwise find it gone.
    static QJSEngine *engine = new QJSEngine;
    engine->globalObject().setProperty(u"settled"_s, false);
    task.then(engine->evaluate(u"(function (value) { settled = true; result = value; })"_s));
    EXPECT_TRUE(waitUntil([&] { return engine->globalObject().property(u"settled"_s).toBool(); }, 90000));
    return engine->globalObject().property(u"result"_s).toVariant();
}

// Whether the log quotes the reply as the client received it: the client's
// excerpt of its start, or the pipeline's copy of all of it. A body that the
// transport lost or cut would show here.
bool logQuotesTheBody(const Log::Capture &log, Via via, const BadReply &reply)
{
    const bool success = reply.status >= 200 && reply.status <= 299;
    const QStringList lines = log.lines();
    switch (via) {
    case Via::Client: {
        const QString prefix = success ? u"[APIClient] decode error for "_s : u"[APIClient] HTTP %1 from "_s.arg(reply.status);
        const QString excerpt = u": "_s + reply.body.left(success ? 300 : 500);
        return std::any_of(lines.begin(), lines.end(),
                           [&](const QString &l) { return l.startsWith(prefix) && l.endsWith(excerpt); });
    }
    case Via::ClientIgnoringBody:
        return true;
    case Via::TokenCall:
        return success || lines.contains(u"[Upload] fetchUploadToken error body: "_s + reply.body);
    case Via::BlobCall:
        return success || lines.contains(u"[Upload] uploadToVercelBlob error body: "_s + reply.body);
    }
    return false;
}

// One endpoint under one bad reply.
struct Case {
    DevServerProcess &service;
    const BadReply &reply;
    Expectation expect;
    QString token;
    QString userId;
    QString faultPath;
    QString faultMethod;
    Log::Capture &log;

    // From here on the endpoint answers with the bad reply.
    void inject() const
    {
        int status = 0;
        service.control("POST", "/__dev/faults",
                        {{u"path"_s, faultPath}, {u"method"_s, faultMethod}, {u"status"_s, reply.status},
                         {u"count"_s, -1}, {u"body"_s, reply.body}, {u"contentType"_s, reply.contentType}},
                        &status);
        ASSERT_EQ(status, 200);
        log.clear();
    }
    [[nodiscard]] TokenProvider tokens() const
    {
        return [t = token] { return std::optional(t); };
    }
};

struct Endpoint {
    const char *name;
    QString faultPath;
    QString faultMethod;
    Via via;
    bool tick;
    std::function<void(Case &)> exercise;
};

// What identifies each entry of a list, to tell a kept list from a changed one.
template<class List, class Key>
QStringList keysOf(const List &list, Key key)
{
    QStringList out;
    for (const auto &entry : list)
        out << key(entry);
    return out;
}

const auto noteKey = [](const MeetingNote& n) { return QString::number(n.id); };
const auto itemKey = [](const ActionListItem& i) { return ActionStore::identityOf(i) + (i.done ? u"+"_s : u"-"_s); };
const auto meetingKey = [](const UpcomingMeeting& m) { return m.id; };

// The one log line starting with `prefix` names the expected error.
void expectFailureLine(const Case &c, const QString &prefix)
{
    const QStringList failed = c.log.lines().filter(prefix);
    ASSERT_EQ(failed.size(), 1);
    EXPECT_TRUE(failed[0].startsWith(prefix) && c.expect.matches(failed[0].mid(prefix.size()))) << failed[0].toStdString();
}

std::optional<QString> asOptional(const QVariant &value)
{
    return value.isNull() ? std::nullopt : std::optional(value.toString());
}

// The session store: signed in, then the user request answered badly.
void exerciseUserRequest(Case &c)
{
    KeychainService::saveToken(c.token);
    AuthStore auth;
    ASSERT_TRUE(waitUntil([&] { return auth.currentUser().has_value(); }, 10000));
    c.inject();
    await(auth.loadUser());
    if (c.reply.status == 401) {
        // The one reply that ends the session: signed out quietly, token gone.
        EXPECT_FALSE(auth.currentUser());
        EXPECT_FALSE(auth.error());
        EXPECT_FALSE(KeychainService::loadToken());
        return;
    }
    ASSERT_TRUE(auth.currentUser()) << "a signed-in user stays signed in";
    EXPECT_EQ(auth.currentUser()->email, DevServerProcess::demoEmail);
    EXPECT_TRUE(c.expect.matches(auth.error())) << auth.error().value_or(u"(none)"_s).toStdString();
    EXPECT_EQ(KeychainService::loadToken(), c.token);
}

void exerciseCodeRequest(Case &c)
{
    KeychainService::deleteToken();
    AuthStore auth;
    c.inject();
    const std::optional<QString> outcome = asOptional(resultOf(auth.requestOTP(DevServerProcess::demoEmail)));
    EXPECT_TRUE(c.expect.matches(outcome)) << outcome.value_or(u"(mailed)"_s).toStdString();
    EXPECT_FALSE(auth.currentUser());
}

void exerciseCodeVerification(Case &c)
{
    KeychainService::deleteToken();
    AuthStore auth;
    c.inject();
    auth.verifyOTP(DevServerProcess::demoEmail, u"123456"_s);
    ASSERT_TRUE(waitUntil([&] { return !auth.isLoading(); }, 30000));
    EXPECT_TRUE(c.expect.matches(auth.error())) << auth.error().value_or(u"(none)"_s).toStdString();
    EXPECT_FALSE(auth.currentUser());
    EXPECT_FALSE(KeychainService::loadToken()) << "nothing is stored from a bad reply";
}

void exerciseNotesList(Case &c)
{
    MeetingStore store(c.tokens());
    await(store.loadMeetings());
    const QStringList before = keysOf(store.meetings(), noteKey);
    ASSERT_FALSE(before.isEmpty());
    c.inject();
    await(store.loadMeetings());
    EXPECT_EQ(keysOf(store.meetings(), noteKey), before);
    EXPECT_FALSE(store.error()) << "a list failure is only logged";
    EXPECT_FALSE(store.isLoading());
    const QStringList failed = c.log.lines().filter(u"[MeetingStore] notes fetch failed: "_s);
    ASSERT_EQ(failed.size(), 1);
    EXPECT_TRUE(failed[0].startsWith(u"[MeetingStore] notes fetch failed: "_s + printedPrefix(c.reply))) << failed[0].toStdString();
    EXPECT_TRUE(c.log.contains(u"[MeetingStore] loadMeetings: total=%1 meetings"_s.arg(before.size())));
}

void exerciseNoteDetail(Case &c)
{
    MeetingStore store(c.tokens());
    await(store.loadMeetings());
    await(store.loadDetail(2));
    ASSERT_TRUE(store.meetingDetail());
    c.inject();
    await(store.loadDetail(3));
    ASSERT_TRUE(store.meetingDetail()) << "the previous detail stays";
    EXPECT_EQ(store.meetingDetail()->id, 2);
    EXPECT_TRUE(c.expect.matches(store.error())) << store.error().value_or(u"(none)"_s).toStdString();
    EXPECT_FALSE(store.isLoadingDetail());
}

void exerciseNoteTick(Case &c)
{
    MeetingStore store(c.tokens());
    await(store.loadMeetings());
    await(store.loadDetail(2));
    ASSERT_TRUE(store.meetingDetail());
    ASSERT_FALSE(store.meetingDetail()->actionItems.isEmpty());
    const V2ActionItem item = store.meetingDetail()->actionItems.first();
    c.inject();
    await(store.toggleActionItem(2, item.key(), !item.done));
    EXPECT_EQ(store.meetingDetail()->actionItems.first().done, c.expect.accepted() ? !item.done : item.done);
    EXPECT_FALSE(store.error()) << "a refused tick is undone silently";
    EXPECT_EQ(c.log.count(u"[MeetingStore]"_s), 0);
}

void exerciseActionItems(Case &c)
{
    ActionStore store(c.tokens());
    await(store.load());
    const QStringList before = keysOf(store.items(), itemKey);
    ASSERT_FALSE(before.isEmpty());
    c.inject();
    await(store.load());
    EXPECT_EQ(keysOf(store.items(), itemKey), before);
    EXPECT_FALSE(store.isLoading());
    expectFailureLine(c, u"[ActionStore] load failed: "_s);
}

void exerciseActionTick(Case &c)
{
    ActionStore store(c.tokens());
    await(store.load());
    ASSERT_FALSE(store.items().isEmpty());
    const ActionListItem item = store.items().first();
    c.inject();
    await(store.toggle(item));
    EXPECT_EQ(store.items().first().done, c.expect.accepted() ? !item.done : item.done);
    EXPECT_EQ(c.log.count(u"[ActionStore]"_s), 0) << "a refused tick is undone silently";
}

void exerciseCalendar(Case &c, bool statusRequest)
{
    CalendarStore store(c.tokens());
    await(store.load(c.userId));
    ASSERT_TRUE(store.calendarConnected());
    const QStringList before = keysOf(store.meetings(), meetingKey);
    ASSERT_FALSE(before.isEmpty());
    c.inject();
    await(store.load(c.userId));
    EXPECT_TRUE(store.calendarConnected()) << "the last known connection state stays";
    EXPECT_EQ(keysOf(store.meetings(), meetingKey), before);
    // Only a 401 on the meetings request asks the user to reconnect.
    EXPECT_EQ(store.calendarNeedsReauth(), !statusRequest && c.reply.status == 401);
    EXPECT_FALSE(store.isLoading());
    EXPECT_EQ(c.log.count(u"[CalendarStore]"_s), 0) << "the calendar store writes no log lines";
}

void exerciseBotSettings(Case &c)
{
    RecallStore store(c.tokens());
    await(store.loadSettings());
    ASSERT_TRUE(store.isLoaded());
    const bool autoJoin = store.autoJoinEnabled();
    c.inject();
    await(store.loadSettings());
    EXPECT_TRUE(store.isLoaded());
    EXPECT_EQ(store.autoJoinEnabled(), autoJoin);
    expectFailureLine(c, u"[RecallStore] loadSettings failed: "_s);
}

void exerciseBotSwitch(Case &c)
{
    CalendarStore calendar(c.tokens());
    await(calendar.load(c.userId));
    ASSERT_FALSE(calendar.meetings().isEmpty());
    RecallStore store(c.tokens());
    c.inject();
    await(store.toggleMeetingBot(calendar.meetings().first(), true));
    expectFailureLine(c, u"[RecallStore] toggleMeetingBot failed: "_s);
}

// The upload pipeline into a pending upload of the meeting store, as the widget wires it.
void exerciseUpload(Case &c, bool retried)
{
    QTemporaryDir session;
    const QString mic = session.filePath(u"upload_track.m4a"_s);
    {
        QFile file(mic);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(64 << 10, 'a'));
    }
    MeetingStore store(c.tokens());
    const QUuid pending = store.addPendingUpload(u"Session_bad_reply"_s, 1.0);
    UploadPipeline pipeline(c.service.url(u"/blob/"_s).toString(), {3, 0.01});
    c.inject();
    QList<UploadStatus> seen;
    await(pipeline.run(mic, std::nullopt, c.token, [&](const UploadStatus &s) {
        seen << s;
        store.updatePendingUpload(pending, s);
    }));
    ASSERT_FALSE(seen.isEmpty());
    const UploadStatus last = seen.last();
    ASSERT_EQ(last.stage(), UploadStatus::Failed) << last.label().toStdString();
    EXPECT_TRUE(c.expect.matches(last.message())) << last.message().toStdString();
    EXPECT_EQ(store.pendingUpload(pending)->status.label(), u"Failed: "_s + last.message());
    EXPECT_TRUE(c.log.contains(u"[Upload] ── pipeline FAILED: "_s + last.message() + u" ──"_s));
    EXPECT_EQ(c.log.count(u"[Upload] retry attempt"_s), retried ? 2 : 0);
    EXPECT_TRUE(QFile::exists(mic)) << "the local track is never deleted";
}

const QList<Endpoint> &endpoints()
{
    static const QList<Endpoint> list = {
        {"the user", u"/api/desktop/me"_s, u"GET"_s, Via::Client, false, exerciseUserRequest},
        {"the code request", u"/api/desktop/auth/otp"_s, u"POST"_s, Via::ClientIgnoringBody, false, exerciseCodeRequest},
        {"the code verification", u"/api/desktop/auth/otp"_s, u"POST"_s, Via::Client, false, exerciseCodeVerification},
        {"the notes list", u"/api/v2/meeting-notes"_s, u"GET"_s, Via::Client, false, exerciseNotesList},
        {"a note's detail", u"/api/v2/meeting-notes/*"_s, u"GET"_s, Via::Client, false, exerciseNoteDetail},
        {"a tick in a note", u"/api/v2/meeting-notes/*"_s, u"PATCH"_s, Via::Client, true, exerciseNoteTick},
        {"the action items", u"/api/v2/action-items"_s, u"GET"_s, Via::Client, false, exerciseActionItems},
        {"a tick in the action items", u"/api/v2/meeting-notes/*"_s, u"PATCH"_s, Via::Client, true, exerciseActionTick},
        {"the calendar status", u"/api/recall/calendar/status"_s, u"GET"_s, Via::Client, false,
         [](Case &c) { exerciseCalendar(c, true); }},
        {"the upcoming meetings", u"/api/recall/upcoming-meetings"_s, u"GET"_s, Via::Client, false,
         [](Case &c) { exerciseCalendar(c, false); }},
        {"the bot settings", u"/api/recall/settings"_s, u"GET"_s, Via::Client, false, exerciseBotSettings},
        {"the bot switch", u"/api/recall/meeting-bot-preference"_s, u"POST"_s, Via::Client, false, exerciseBotSwitch},
        {"the upload token", u"/api/desktop/meeting-notes/upload-token"_s, u"POST"_s, Via::TokenCall, false,
         [](Case &c) { exerciseUpload(c, true); }},
        {"the blob upload", u"/blob/*"_s, u"PUT"_s, Via::BlobCall, false, [](Case &c) { exerciseUpload(c, true); }},
        {"the upload notice", u"/api/desktop/meeting-notes"_s, u"POST"_s, Via::Client, false,
         [](Case &c) { exerciseUpload(c, false); }},
    };
    return list;
}

class BadRepliesTest : public ::testing::Test {
protected:
    void SetUp() override { KeychainService::deleteToken(); }
    void TearDown() override
    {
        KeychainService::deleteToken();
        APIClient::shared().network().clearConnectionCache();
    }
};

}

TEST_F(BadRepliesTest, EveryEndpointUnderEveryBadReplyKeepsItsDataAndReportsAsItShould)
{
    DevServerProcess service;
    ASSERT_TRUE(service.isRunning());
    Endpoints::setServiceOrigin(service.origin());
    const QJsonValue session = service.control("POST", "/__dev/token", {{u"email"_s, DevServerProcess::demoEmail}});
    const QString token = session[u"token"_s].toString();
    const QString userId = session[u"user"_s][u"id"_s].toString();
    ASSERT_FALSE(token.isEmpty());

    QElapsedTimer clock;
    clock.start();
    qsizetype longestClientLine = 0;
    for (const Endpoint &endpoint : endpoints()) {
        for (const BadReply &reply : badReplies()) {
            SCOPED_TRACE(std::string(endpoint.name) + " ← " + reply.name + " (" + std::to_string(reply.status) + ")");
            Log::Capture log;
            Case c{service, reply, expectationFor(endpoint.via, reply, endpoint.tick), token, userId,
                   endpoint.faultPath, endpoint.faultMethod, log};
            SCOPED_TRACE("expected: " + c.expect.describe());
            endpoint.exercise(c);
            service.control("DELETE", "/__dev/faults");
            if (!c.expect.accepted()) {
                EXPECT_TRUE(logQuotesTheBody(log, endpoint.via, reply)) << "the reply did not reach the client whole";
            }
            // The client quotes at most 500 characters of a body, whatever its size.
            for (const QString &line : log.lines().filter(QRegularExpression(u"^\\[APIClient\\]"_s))) {
                EXPECT_LE(line.size(), 600) << line.left(200).toStdString();
                longestClientLine = std::max(longestClientLine, line.size());
            }
        }
    }
    std::cout << "[figure] bad replies: " << endpoints().size() << " endpoints x " << badReplies().size() << " replies in "
              << clock.elapsed() / 1000.0 << " s; no crash, every store kept its data; longest [APIClient] line "
              << longestClientLine << " chars\n";
}
