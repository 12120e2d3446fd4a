#include "DevServerProcess.h"

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QUuid>

#include <array>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

const auto bearer = [](const QString& token, const char* header = "Authorization") {
    return httplib::Headers { { header, "Bearer " + token.toStdString() } };
};
const auto json = [](const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString(); };
const auto newPathname
    = [] { return "recordings/" + QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString() + ".m4a"; };

QJsonObject tokenRequest(const std::string& pathname)
{
    return { { u"type"_s, u"blob.generate-client-token"_s },
        { u"payload"_s,
            QJsonObject { { u"pathname"_s, QString::fromStdString(pathname) }, { u"callbackUrl"_s, u""_s },
                { u"multipart"_s, false }, { u"clientPayload"_s, QJsonValue() } } } };
}

// One second of silent mono 16-bit PCM at 8 kHz, as a WAV file: the 44-byte header, then the samples.
const QByteArray secondOfSilence
    = QByteArray("RIFF\xa4\x3e\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x80\x3e\0\0\x02\0\x10\0"
                 "data\x80\x3e\0\0",
          44)
    + QByteArray(16000, '\0');

const std::string uploadTokenPath = "/api/desktop/meeting-notes/upload-token";
constexpr std::size_t blobCap = std::size_t(3) << 20;

// One request and the status it must get; upload-token requests are signed with x-auth-token.
struct Expect {
    std::string method, target, body;
    int status;
};

class DevServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_server = std::make_unique<DevServerProcess>(
            QStringList { u"--blob-limit-bytes"_s, QString::number(blobCap), u"--data"_s, s_data.path() + u"/data"_s });
    }
    static void TearDownTestSuite() { s_server.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(s_server->isRunning());
        s_server->reset();
        token = s_server->signIn();
    }

    DevServerProcess& server() { return *s_server; }
    httplib::Client client() { return s_server->client(); }

    httplib::Result send(
        const std::string& method, const std::string& target, const std::string& body, const httplib::Headers& headers)
    {
        auto cli = client();
        cli.set_url_encode(false); // paths go out exactly as written, ".." included
        return method == "GET" ? cli.Get(target, headers)
            : method == "POST" ? cli.Post(target, headers, body, "application/json")
            : method == "PUT"  ? cli.Put(target, headers, body, "audio/mp4")
                               : cli.Patch(target, headers, body, "application/json");
    }
    void expectAll(const std::vector<Expect>& expectations)
    {
        for (const Expect& e : expectations) {
            const bool upload = e.target == uploadTokenPath;
            const auto reply
                = send(e.method, e.target, e.body, bearer(token, upload ? "x-auth-token" : "Authorization"));
            ASSERT_TRUE(reply) << e.target;
            EXPECT_EQ(reply->status, e.status) << e.method << " " << e.target << " " << e.body.substr(0, 60);
        }
    }
    QJsonValue get(const std::string& target, const QString& as) { return jsonOf(client().Get(target, bearer(as))); }

    QString clientToken(const std::string& pathname, const QString& bearerToken)
    {
        auto reply = client().Post(
            uploadTokenPath, bearer(bearerToken, "x-auth-token"), json(tokenRequest(pathname)), "application/json");
        EXPECT_TRUE(reply && reply->status == 200) << (reply ? reply->body : "no reply");
        return jsonOf(reply)[u"clientToken"_s].toString();
    }
    httplib::Result put(const std::string& pathname, const QString& client, const QByteArray& body,
        std::optional<std::string> declaredSize = std::nullopt)
    {
        httplib::Headers headers = bearer(client);
        headers.emplace("x-content-length", declaredSize.value_or(std::to_string(body.size())));
        return send("PUT", "/blob/" + pathname, body.toStdString(), headers);
    }
    // Uploads `body` as this account and returns its blob address.
    QString upload(const QByteArray& body, const QString& bearerToken)
    {
        const std::string pathname = newPathname();
        EXPECT_EQ(put(pathname, clientToken(pathname, bearerToken), body)->status, 200);
        return server().url(u"/blob/"_s + QString::fromStdString(pathname)).toString();
    }
    QJsonArray notes(const QString& as) { return get("/api/v2/meeting-notes", as)[u"data"_s].toArray(); }
    static bool listed(const QJsonArray& notes, qint64 id)
    {
        return std::ranges::any_of(notes, [&](const QJsonValue& n) { return n[u"id"_s].toInteger() == id; });
    }

    QString token;
    static inline QTemporaryDir s_data;
    static inline std::unique_ptr<DevServerProcess> s_server;
};

}

TEST_F(DevServerTest, EveryServiceEndpointRefusesMissingAndUnknownTokens)
{
    const std::pair<std::string, std::string> calls[] = { { "GET", "/api/desktop/me" },
        { "GET", "/api/v2/meeting-notes" }, { "GET", "/api/v2/meeting-notes/2?source=desktop" },
        { "PATCH", "/api/v2/meeting-notes/2/action-items/dr-1?source=desktop" }, { "GET", "/api/v2/action-items" },
        { "GET", "/api/recall/calendar/status" },
        { "GET", "/api/recall/upcoming-meetings?tarnwick_user_id=demo-user&limit=20" },
        { "GET", "/api/recall/settings" }, { "POST", "/api/recall/meeting-bot-preference" },
        { "POST", "/api/desktop/meeting-notes" }, { "POST", uploadTokenPath } };
    const httplib::Headers refused[]
        = { {}, bearer(u"nope"_s), { { "Authorization", token.toStdString() } }, bearer(u"nope"_s, "x-auth-token") };
    for (const auto& [method, path] : calls) {
        const std::string body = method == "PATCH" ? "{\"done\":true}" : "{}";
        for (const auto& headers : refused) {
            auto reply = send(method, path, body, headers);
            ASSERT_TRUE(reply) << path;
            EXPECT_EQ(reply->status, 401) << method << " " << path;
            EXPECT_FALSE(jsonOf(reply)[u"error"_s].toString().isEmpty()) << path;
        }
        // The upload token is read from x-auth-token only, everything else from Authorization.
        const bool upload = path == uploadTokenPath;
        EXPECT_NE(send(method, path, body, bearer(token, upload ? "x-auth-token" : "Authorization"))->status, 401)
            << path;
        EXPECT_TRUE(!upload || send(method, path, body, bearer(token))->status == 401);
    }
}

TEST_F(DevServerTest, OneTimeCodeSignsInOnceMakesAccountsAndIsVoidAfterFiveWrongTriesOrTenMinutes)
{
    auto cli = client();
    auto askForCode = [&](const QString& email) {
        return cli.Post(
            "/api/desktop/auth/otp", json({ { u"email"_s, email }, { u"step"_s, u"request"_s } }), "application/json");
    };
    auto requestCode = [&](const QString& email) {
        askForCode(email);
        return server()
            .control("GET", "/__dev/otp?email=" + QUrl::toPercentEncoding(email.toLower()).toStdString())[u"code"_s]
            .toString();
    };
    auto verify = [&](const QString& email, const QString& otp) {
        return cli.Post("/api/desktop/auth/otp",
            json({ { u"email"_s, email }, { u"step"_s, u"verify"_s }, { u"otpCode"_s, otp } }), "application/json");
    };
    auto wrongFor = [](const QString& code) { return code == u"123456"_s ? u"654321"_s : u"123456"_s; };

    const QString email = u"Jane.Doe@Example.com"_s, code = requestCode(email);
    auto accepted = verify(email, code);
    ASSERT_EQ(accepted->status, 200);
    EXPECT_EQ(verify(email, code)->status, 401) << "a code signs in once";
    const QJsonValue user = get("/api/desktop/me", jsonOf(accepted)[u"token"_s].toString());
    EXPECT_EQ(user[u"email"_s].toString() + u'|' + user[u"name"_s].toString(), u"jane.doe@example.com|Jane Doe"_s);

    for (const auto& [wrongTries, secondsLater, expected] : { std::array { 4, 0, 200 }, std::array { 5, 0, 401 },
             std::array { 0, 599, 200 }, std::array { 0, 601, 401 } }) {
        server().reset();
        const QString fresh = requestCode(DevServerProcess::demoEmail);
        for (int i = 0; i < wrongTries; ++i)
            EXPECT_EQ(verify(DevServerProcess::demoEmail, wrongFor(fresh))->status, 401);
        server().control("POST", "/__dev/clock", { { u"advanceSeconds"_s, secondsLater } });
        EXPECT_EQ(verify(DevServerProcess::demoEmail, fresh)->status, expected)
            << wrongTries << " tries, " << secondsLater;
    }
    EXPECT_EQ(verify(DevServerProcess::demoEmail, requestCode(DevServerProcess::demoEmail))->status, 200)
        << "a fresh request replaces a void code";

    // Five codes in ten minutes, five tries each: the sixth request is refused until the window has passed.
    server().reset();
    for (const auto& [secondsLater, expected] : { std::pair { 0, 200 }, { 0, 200 }, { 0, 200 }, { 0, 200 }, { 0, 200 },
             { 0, 429 }, { 599, 429 }, { 2, 200 } }) {
        server().control("POST", "/__dev/clock", { { u"advanceSeconds"_s, secondsLater } });
        auto asked = askForCode(DevServerProcess::demoEmail);
        EXPECT_EQ(asked->status, expected) << secondsLater;
        EXPECT_EQ(jsonOf(asked)[u"error"_s].isString(), expected == 429) << asked->body;
    }
}

TEST_F(DevServerTest, BlobsTakeOnePathnamePerClientTokenForTenMinutesWithTheirDeclaredSizeUpToTheCap)
{
    const std::string mine = newPathname(), other = newPathname();
    const QString granted = clientToken(mine, token);
    const QByteArray first(4000, 'a'), second(3000, 'b');
    EXPECT_EQ(put(other, granted, first)->status, 403);
    EXPECT_EQ(put(mine, u"unknown"_s, first)->status, 401);
    for (const char* declared : { "4001", "3999", "", "12abc" })
        EXPECT_EQ(put(mine, granted, first, declared)->status, 400) << declared;
    EXPECT_EQ(client().Get("/blob/" + mine)->status, 404) << "a refused body leaves nothing behind";

    auto stored = put(mine, granted, first);
    ASSERT_EQ(stored->status, 200) << stored->body;
    EXPECT_EQ(jsonOf(stored)[u"url"_s].toString().toStdString(), server().originText() + "/blob/" + mine);
    EXPECT_EQ(QByteArray::fromStdString(client().Get("/blob/" + mine)->body), first);
    // A retry with the same token replaces the blob while the token lasts.
    EXPECT_EQ(put(mine, granted, second)->status, 200);
    server().control("POST", "/__dev/clock", { { u"advanceSeconds"_s, 601 } });
    EXPECT_EQ(put(mine, granted, first)->status, 401);
    EXPECT_EQ(QByteArray::fromStdString(client().Get("/blob/" + mine)->body), second);

    // A blob up to the cap is stored whole.
    const std::string full(blobCap, 'x'), fits = newPathname(), tooBig = newPathname();
    EXPECT_EQ(put(fits, clientToken(fits, token), QByteArray::fromStdString(full))->status, 200);
    EXPECT_EQ(client().Get("/blob/" + fits)->body.size(), blobCap);
    // Over the cap: refused whether the declared size says so or only the body does (sent chunked, without a length).
    const QString bigGrant = clientToken(tooBig, token);
    EXPECT_EQ(put(tooBig, bigGrant, "abcd", std::to_string(blobCap + 1))->status, 413);
    httplib::Headers headers = bearer(bigGrant);
    headers.emplace("x-content-length", "4");
    auto actual = client().Put(
        "/blob/" + tooBig, headers,
        [&](std::size_t offset, httplib::DataSink& sink) {
            if (offset > blobCap)
                sink.done();
            return offset > blobCap || sink.write(full.data(), std::min<std::size_t>(64 * 1024, blobCap + 1 - offset));
        },
        "audio/mp4");
    ASSERT_TRUE(actual);
    EXPECT_EQ(actual->status, 413);
    EXPECT_EQ(client().Get("/blob/" + tooBig)->status, 404);
}

TEST_F(DevServerTest, OnlyRecordingsUuidPathnamesAndTheBlobClientsRequestShapeAreAccepted)
{
    const std::string uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    const std::string upper = QString::fromStdString(uuid).toUpper().toStdString();
    std::vector<Expect> refused;
    for (const auto& pathname : { "recordings/../" + uuid + ".m4a", "recordings/" + uuid + "/../../../etc/passwd",
             "recordings/" + uuid, "recordings/" + upper + ".m4a", "recordings/" + uuid + ".m4a/extra",
             "uploads/" + uuid + ".m4a", "recordings/%2e%2e/" + uuid + ".m4a", std::string() }) {
        refused.push_back({ "POST", uploadTokenPath, json(tokenRequest(pathname)), 400 });
        refused.push_back({ "PUT", "/blob/" + pathname, "abcd", 400 });
    }
    const QJsonObject good = tokenRequest(newPathname());
    for (const auto& [key, value] :
        std::initializer_list<std::pair<QString, QJsonValue>> { { u"type"_s, u"blob.upload-completed"_s },
            { u"pathname"_s, QJsonValue::Undefined }, { u"callbackUrl"_s, QJsonValue::Undefined },
            { u"multipart"_s, true }, { u"clientPayload"_s, QJsonValue::Undefined } }) {
        QJsonObject body = good, payload = good[u"payload"_s].toObject();
        value.isUndefined() ? void(payload.remove(key)) : void(payload[key] = value);
        body[key == u"type"_s ? key : u"payload"_s] = key == u"type"_s ? value : QJsonValue(payload);
        refused.push_back({ "POST", uploadTokenPath, json(body), 400 });
    }
    expectAll(refused);
    EXPECT_FALSE(clientToken("recordings/" + uuid + ".caf", token).isEmpty());
}

TEST_F(DevServerTest, NotifiedRecordingBecomesANoteOnceProcessedForItsAccountOnly)
{
    const QString mic = upload(secondOfSilence, token), stranger = server().signIn(u"someone@else.test"_s),
                  strangers = upload("not audio", stranger), name = u"upload_track.m4a"_s;
    const QString unknown = server().url(u"/blob/"_s + QString::fromStdString(newPathname())).toString();
    const std::string notify = "/api/desktop/meeting-notes";
    std::vector<Expect> refused;
    for (const QJsonObject& body : { QJsonObject { { u"file_name"_s, name } }, QJsonObject { { u"blob_url"_s, mic } },
             QJsonObject { { u"blob_url"_s, 42 }, { u"file_name"_s, name } },
             QJsonObject { { u"blob_url"_s, unknown }, { u"file_name"_s, name } },
             QJsonObject { { u"blob_url"_s, u"https://elsewhere.test/blob/x.m4a"_s }, { u"file_name"_s, name } },
             QJsonObject { { u"blob_url"_s, mic }, { u"file_name"_s, name }, { u"blob_url_system"_s, u"nope"_s } } })
        refused.push_back({ "POST", notify, json(body), 400 });
    refused.push_back({ "POST", notify, json({ { u"blob_url"_s, strangers }, { u"file_name"_s, name } }), 403 });
    expectAll(refused);

    // A track that is not audio has no length; the newest note comes first.
    for (const auto& [track, length] :
        { std::pair { upload("not audio", token), QString() }, std::pair { mic, u"1 sec"_s } }) {
        auto accepted = client().Post(
            notify, bearer(token), json({ { u"blob_url"_s, track }, { u"file_name"_s, name } }), "application/json");
        ASSERT_EQ(accepted->status, 200) << accepted->body;
        const qint64 id = jsonOf(accepted)[u"noteId"_s].toInteger();
        EXPECT_FALSE(listed(notes(token), id)) << "not listed while processing";
        const std::string detailPath = "/api/v2/meeting-notes/" + std::to_string(id) + "?source=desktop";
        EXPECT_EQ(get(detailPath, token)[u"data"_s][u"status"_s].toString(), u"processing"_s);
        EXPECT_EQ(server().control("POST", "/__dev/process")[u"finished"_s].toArray(), QJsonArray { id });
        const QJsonObject first = notes(token).first().toObject();
        EXPECT_EQ(first[u"id"_s].toInteger(), id);
        EXPECT_EQ(first[u"duration"_s].toString(), length);
        EXPECT_FALSE(listed(notes(stranger), id));
        EXPECT_EQ(client().Get("/api/v2/meeting-notes/" + std::to_string(id), bearer(stranger))->status, 404);
    }
}

TEST_F(DevServerTest, ItemsAreFoundByIdOrTextUnknownItemsAndMeetingsAreRefusedAndATickSurvivesARestart)
{
    const std::string patch = "/api/v2/meeting-notes/2/action-items/dr-1";
    const std::string prefer = "/api/recall/meeting-bot-preference";
    expectAll({ { "PATCH", "/api/v2/meeting-notes/2/action-items/nope?source=desktop", R"({"done":true})", 404 },
        { "PATCH", patch + "?source=telegram", R"({"done":true})", 404 },
        { "PATCH", "/api/v2/meeting-notes/999/action-items/dr-1", R"({"done":true})", 404 },
        { "PATCH", patch, R"({"done":"yes"})", 400 },
        { "PATCH", "/api/v2/meeting-notes/2/action-items/Share%20the%20test%20plan%20with%20support",
            R"({"done":true})", 200 },
        { "POST", prefer, R"({"recall_calendar_event_id":"evt-unknown","bot_enabled":true,"title":"x"})", 404 },
        { "POST", prefer, R"({"recall_calendar_event_id":"evt-critique","bot_enabled":true})", 400 },
        { "GET", "/api/v2/meeting-notes/99999999999999999999999", "", 404 },
        { "PATCH", "/api/v2/meeting-notes/5/action-items/oo-1?source=desktop", R"({"done":true})", 200 } });
    EXPECT_TRUE(server().stop());
    SetUpTestSuite();
    ASSERT_TRUE(server().isRunning());
    const QJsonValue detail = get("/api/v2/meeting-notes/5?source=desktop", token);
    ASSERT_TRUE(detail.isObject()) << "the token from before the restart still signs in";
    EXPECT_TRUE(detail[u"data"_s][u"actionItems"_s][0][u"done"_s].toBool());
    EXPECT_EQ(notes(token).size(), 7) << "samples are not doubled";
}

TEST_F(DevServerTest, CalendarConnectionAndReauthorization)
{
    auto cli = client();
    auto status = [&](const QString& t) { return get("/api/recall/calendar/status", t).toObject(); };
    auto upcoming = [&](const QString& t, const std::string& user) {
        return cli.Get("/api/recall/upcoming-meetings?tarnwick_user_id=" + user + "&limit=20", bearer(t));
    };
    auto connect = [&](const char* email) {
        return cli
            .Post("/api/recall/calendar/connect", std::string("email=") + email, "application/x-www-form-urlencoded")
            ->status;
    };

    EXPECT_EQ(upcoming(token, "someone-else")->status, 403);
    EXPECT_EQ(cli.Get("/api/recall/upcoming-meetings", bearer(token))->status, 400);
    server().control("POST", "/__dev/calendar", { { u"needsReauth"_s, true } });
    EXPECT_EQ(upcoming(token, "demo-user")->status, 401);

    // A new account starts unconnected; the connect page connects it and clears the re-authorization.
    const QString fresh = server().signIn(u"new.user@example.com"_s);
    const std::string freshId = get("/api/desktop/me", fresh)[u"id"_s].toString().toStdString();
    EXPECT_FALSE(status(fresh)[u"connected"_s].toBool());
    EXPECT_TRUE(jsonOf(upcoming(fresh, freshId))[u"meetings"_s].toArray().isEmpty());
    EXPECT_NE(cli.Get("/api/recall/calendar/connect")->body.find("<form"), std::string::npos);
    EXPECT_EQ(connect("nobody%40example.com"), 404);
    EXPECT_EQ(connect("new.user%40example.com"), 200);
    EXPECT_EQ(connect("demo%40echoquill.test"), 200);
    EXPECT_TRUE(status(fresh)[u"connected"_s].toBool());
    EXPECT_FALSE(jsonOf(upcoming(fresh, freshId))[u"meetings"_s].toArray().isEmpty());
    EXPECT_EQ(upcoming(token, "demo-user")->status, 200);
}

TEST_F(DevServerTest, SignInPageEndsAtTheAppAddressWithAToken)
{
    auto cli = client();
    const std::string form = cli.Get("/desktop-auth?state=f00d")->body;
    EXPECT_NE(form.find(R"(name="state" value="f00d")"), std::string::npos) << "the client's state goes in the form";

    auto done
        = cli.Post("/desktop-auth", "state=f00d&email=Page.User%40Example.com", "application/x-www-form-urlencoded");
    ASSERT_EQ(done->status, 302);
    const QUrl callback(QString::fromStdString(done->get_header_value("Location")));
    EXPECT_EQ(callback.scheme(), u"echoquill"_s);
    EXPECT_EQ(QUrlQuery(callback).queryItemValue(u"state"_s), u"f00d"_s) << "and comes back";
    const QString pageToken = QUrlQuery(callback).queryItemValue(u"token"_s);
    EXPECT_EQ(get("/api/desktop/me", pageToken)[u"email"_s].toString(), u"page.user@example.com"_s);

    auto refused = cli.Post("/desktop-auth", "email=%3Cscript%3E", "application/x-www-form-urlencoded");
    EXPECT_EQ(refused->status, 400);
    EXPECT_EQ(refused->body.find("<script>"), std::string::npos) << "what was typed comes back escaped";
}

TEST_F(DevServerTest, ControlsInjectFailuresAndResetForgetsThem)
{
    auto cli = client();
    int status = 0;
    auto fault = [&](const QJsonObject& f) { server().control("POST", "/__dev/faults", f, &status); };
    fault({ { u"path"_s, u"/api/v2/*"_s }, { u"method"_s, u"get"_s }, { u"status"_s, 200 },
        { u"body"_s, u"{not json"_s } });
    fault({ { u"path"_s, u"/api/recall/settings"_s }, { u"status"_s, 503 }, { u"count"_s, -1 } });
    fault({ { u"path"_s, u"no-slash"_s }, { u"status"_s, 500 } });
    EXPECT_EQ(status, 400);
    expectAll({ { "PATCH", "/api/v2/meeting-notes/2/action-items/dr-1", R"({"done":true})", 200 },
        { "GET", "/api/recall/settings", "", 503 }, { "GET", "/api/recall/settings", "", 503 } });
    EXPECT_EQ(cli.Get("/api/v2/action-items", bearer(token))->body, "{not json");
    EXPECT_EQ(server().control("GET", "/__dev/faults")[u"faults"_s].toArray().size(), 1);
    server().control("DELETE", "/__dev/faults");
    expectAll({ { "GET", "/api/recall/settings", "", 200 } });

    // A fault can carry a reply far larger than any JSON body the service itself takes, and sends it as it is,
    // uncompressed even to a client that accepts compression.
    const QString page = u"<html>"_s + QString(10 << 20, u'x');
    fault({ { u"path"_s, u"/api/recall/settings"_s }, { u"status"_s, 502 }, { u"body"_s, page },
        { u"contentType"_s, u"text/html"_s } });
    httplib::Headers compressible = bearer(token);
    compressible.emplace("Accept-Encoding", "gzip, deflate, br");
    cli.set_decompress(false);
    auto large = cli.Get("/api/recall/settings", compressible);
    EXPECT_EQ(large->status, 502);
    EXPECT_EQ(large->body, page.toStdString());
    EXPECT_EQ(large->get_header_value("Content-Type"), "text/html");
    EXPECT_FALSE(large->has_header("Content-Encoding"));

    // Reset empties the request log (the screen tests read it), drops the faults and forgets codes.
    client().Post("/api/desktop/auth/otp", R"({"email":"x@y.test","step":"request"})", "application/json");
    server().reset();
    EXPECT_TRUE(server().control("GET", "/__dev/requests").toArray().isEmpty());
    EXPECT_TRUE(server().control("GET", "/__dev/faults")[u"faults"_s].toArray().isEmpty());
    server().control("GET", "/__dev/otp?email=x%40y.test", {}, &status);
    EXPECT_EQ(status, 404) << "reset forgets codes";
}

TEST_F(DevServerTest, TheRequestLogKeepsNoSecretsAndTheDataIsItsOwnersAlone)
{
    const QString blob = upload(secondOfSilence, token); // signed with x-auth-token, then the client token
    expectAll({ { "GET", "/api/desktop/me", "", 200 } });
    client().Post(
        "/api/desktop/auth/otp", R"({"email":"x@y.test","step":"verify","otpCode":"987654"})", "application/json");
    const QByteArray log = QJsonDocument(server().control("GET", "/__dev/requests").toArray()).toJson();
    EXPECT_EQ(std::tuple(log.contains(token.toUtf8()), log.contains("987654"), log.count("\"Bearer <redacted>\"")),
        std::tuple(false, false, 3))
        << log.toStdString();

    QDirIterator files(s_data.path() + u"/data"_s, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QFileInfo file(files.next());
        EXPECT_EQ(file.permissions().toInt() & 0x777, file.isDir() ? 0x700 : 0x600) << file.filePath().toStdString();
    }
    EXPECT_TRUE(QFileInfo::exists(s_data.path() + u"/data/blobs/"_s + QUrl(blob).path().mid(6)));
}

TEST_F(DevServerTest, BadInputIsAnsweredAndNeverEndsTheProcess)
{
    auto cli = client();
    for (const char* path : { "/api/desktop/auth/otp", "/api/desktop/meeting-notes",
             "/api/recall/meeting-bot-preference", "/__dev/faults" })
        for (const auto& body : { std::string(), std::string("{"), std::string("[1,2]"), std::string("null"),
                 std::string("\xff\xfe\x00\x01", 4), std::string(5000, '[') }) {
            auto reply = cli.Post(path, bearer(token), body, "application/json");
            ASSERT_TRUE(reply) << path;
            EXPECT_EQ(reply->status, 400) << path << " " << body.substr(0, 20);
            EXPECT_TRUE(jsonOf(reply).isObject()) << "errors are JSON: " << reply->body;
        }
    // A body over 1 MiB, then requests for what does not exist.
    for (int status = 413;
         const auto& reply : { cli.Post("/api/desktop/auth/otp", std::string((1 << 20) + 1, ' '), "application/json"),
             cli.Post("/nowhere", "{}", "application/json"), cli.Put("/blob", "x", "text/plain"),
             cli.Delete("/api/desktop/me"), cli.Get("/__dev/nothing") }) {
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, std::exchange(status, 404));
    }

    // Not HTTP at all, then a connection dropped halfway through a body.
    for (const QByteArray& raw : { QByteArray("\x16\x03\x01garbage\r\n\r\n"),
             QByteArray("PUT /blob/x HTTP/1.1\r\nContent-Length: 100000\r\n\r\nabc") }) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(server().port()));
        ASSERT_TRUE(socket.waitForConnected() && socket.write(raw) == raw.size() && socket.waitForBytesWritten());
    }
    EXPECT_EQ(cli.Get("/api/desktop/me", bearer(token))->status, 200);
}
