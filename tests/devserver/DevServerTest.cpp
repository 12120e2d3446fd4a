#include "DevServerProcess.h"
#include "MeetingNote.h"
#include "ProcStatus.h"

#include <gtest/gtest.h>

#include <QDataStream>
#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QSet>
#include <QUrlQuery>
#include <QUuid>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

httplib::Headers bearer(const QString &token, const char *header = "Authorization")
{
    return {{header, "Bearer " + token.toStdString()}};
}

std::string json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

std::string newPathname(const QString &extension = u"wav"_s)
{
    return (u"recordings/"_s + QUuid::createUuid().toString(QUuid::WithoutBraces) + u'.' + extension).toStdString();
}

// Mono 16-bit PCM at 8 kHz: a file libavformat reads with an exact length.
QByteArray wav(double seconds)
{
    const quint32 dataSize = quint32(seconds * 8000) * 2;
    QByteArray file;
    QDataStream out(&file, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + dataSize);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(8000) << quint32(16000) << quint16(2) << quint16(16);
    out.writeRawData("data", 4);
    out << dataSize;
    return file + QByteArray(qsizetype(dataSize), '\0');
}

QJsonObject tokenRequest(const std::string &pathname)
{
    return {{u"type"_s, u"blob.generate-client-token"_s},
        {u"payload"_s,
            QJsonObject{{u"pathname"_s, QString::fromStdString(pathname)}, {u"callbackUrl"_s, u""_s},
                {u"multipart"_s, false}, {u"clientPayload"_s, QJsonValue()}}}};
}

struct NotesReply {
    std::optional<QList<MeetingNote>> data;
    static NotesReply fromJson(const Json::ObjectReader &r) { return {r.optional<QList<MeetingNote>>("data"_L1)}; }
};

class DevServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_server = std::make_unique<DevServerProcess>(QStringList{u"--processing-seconds"_s, u"2"_s}); }
    static void TearDownTestSuite() { s_server.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(s_server->isRunning());
        s_server->reset();
        token = s_server->signIn();
    }

    DevServerProcess &server() { return *s_server; }
    httplib::Client client() { return s_server->client(); }

    QString clientToken(const std::string &pathname, const QString &bearerToken)
    {
        auto reply = client().Post("/api/desktop/meeting-notes/upload-token", bearer(bearerToken, "x-auth-token"),
            json(tokenRequest(pathname)), "application/json");
        EXPECT_TRUE(reply && reply->status == 200) << (reply ? reply->body : "no reply");
        return jsonOf(reply)[u"clientToken"_s].toString();
    }

    httplib::Result put(const std::string &pathname, const QString &client, const QByteArray &body,
        std::optional<std::string> declaredSize = std::nullopt)
    {
        httplib::Headers headers = bearer(client);
        headers.emplace("x-content-length", declaredSize.value_or(std::to_string(body.size())));
        return this->client().Put("/blob/" + pathname, headers, body.toStdString(), "audio/wav");
    }

    // Uploads `body` as this account and returns its blob address.
    QString upload(const QByteArray &body, const QString &bearerToken)
    {
        const std::string pathname = newPathname();
        auto reply = put(pathname, clientToken(pathname, bearerToken), body);
        EXPECT_TRUE(reply && reply->status == 200) << (reply ? reply->body : "no reply");
        return jsonOf(reply)[u"url"_s].toString();
    }

    httplib::Result notify(const QJsonObject &body, const QString &bearerToken)
    {
        return client().Post("/api/desktop/meeting-notes", bearer(bearerToken), json(body), "application/json");
    }

    QJsonArray notes()
    {
        return jsonOf(client().Get("/api/v2/meeting-notes", bearer(token)))[u"data"_s].toArray();
    }

    static bool listed(const QJsonArray &notes, qint64 id)
    {
        return std::any_of(notes.begin(), notes.end(), [&](const QJsonValue &n) { return n[u"id"_s].toInteger() == id; });
    }

    QString token;
    static inline std::unique_ptr<DevServerProcess> s_server;
};

}

TEST_F(DevServerTest, EveryServiceEndpointRefusesMissingAndUnknownTokens)
{
    struct Call {
        const char *method;
        const char *path;
        const char *header = "Authorization";
    };
    const Call calls[] = {
        {"GET", "/api/desktop/me"},
        {"GET", "/api/v2/meeting-notes"},
        {"GET", "/api/v2/meeting-notes/2?source=desktop"},
        {"PATCH", "/api/v2/meeting-notes/2/action-items/dr-1?source=desktop"},
        {"GET", "/api/v2/action-items"},
        {"GET", "/api/recall/calendar/status"},
        {"GET", "/api/recall/upcoming-meetings?tarnwick_user_id=demo-user&limit=20"},
        {"GET", "/api/recall/settings"},
        {"POST", "/api/recall/meeting-bot-preference"},
        {"POST", "/api/desktop/meeting-notes"},
        {"POST", "/api/desktop/meeting-notes/upload-token", "x-auth-token"},
    };
    const httplib::Headers refused[] = {
        {},
        {{"Authorization", "Bearer nope"}},
        {{"Authorization", "Bearer"}},
        {{"Authorization", token.toStdString()}},
        {{"x-auth-token", "Bearer nope"}},
    };
    auto cli = client();
    for (const auto &call : calls) {
        auto send = [&](const httplib::Headers &headers) {
            const std::string method = call.method;
            return method == "GET" ? cli.Get(call.path, headers)
                : method == "POST" ? cli.Post(call.path, headers, "{}", "application/json")
                                   : cli.Patch(call.path, headers, "{\"done\":true}", "application/json");
        };
        for (const auto &headers : refused) {
            auto reply = send(headers);
            ASSERT_TRUE(reply) << call.path;
            EXPECT_EQ(reply->status, 401) << call.method << " " << call.path;
            EXPECT_FALSE(jsonOf(reply)[u"error"_s].toString().isEmpty()) << call.path;
        }
        // The upload token is read from x-auth-token only, everything else from Authorization.
        auto accepted = send(bearer(token, call.header));
        ASSERT_TRUE(accepted);
        EXPECT_NE(accepted->status, 401) << call.method << " " << call.path;
        if (std::string(call.header) == "x-auth-token") {
            EXPECT_EQ(send(bearer(token))->status, 401);
        }
    }
}

TEST_F(DevServerTest, OneTimeCodeSignsInAndANewAddressMakesAnAccount)
{
    auto cli = client();
    const QString email = u"Jane.Doe@Example.com"_s;
    auto request = cli.Post("/api/desktop/auth/otp", json({{u"email"_s, email}, {u"step"_s, u"request"_s}}), "application/json");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->status, 200);

    const QString code = server().control("GET", "/__dev/otp?email=jane.doe%40example.com")[u"code"_s].toString();
    EXPECT_EQ(code.size(), 6);
    EXPECT_TRUE(server().waitForLine(u"[devserver] one-time code for jane.doe@example.com: "_s + code));

    auto verify = [&](const QString &otp) {
        return cli.Post("/api/desktop/auth/otp",
            json({{u"email"_s, email}, {u"step"_s, u"verify"_s}, {u"otpCode"_s, otp}}), "application/json");
    };
    const QString wrong = code == u"000000"_s ? u"111111"_s : u"000000"_s;
    EXPECT_EQ(verify(wrong)->status, 401);
    auto accepted = verify(code);
    ASSERT_EQ(accepted->status, 200);
    const QJsonObject reply = jsonOf(accepted).toObject();
    EXPECT_EQ(reply.keys(), QStringList{u"token"_s}); // a bare object, as the client decodes it
    EXPECT_EQ(verify(code)->status, 401) << "a code signs in once";

    const QJsonObject user = jsonOf(cli.Get("/api/desktop/me", bearer(reply[u"token"_s].toString()))).toObject();
    EXPECT_EQ(user[u"email"_s].toString(), u"jane.doe@example.com"_s);
    EXPECT_EQ(user[u"name"_s].toString(), u"Jane Doe"_s);
    for (const auto &key : {u"id"_s, u"freeCredits"_s, u"paidCredits"_s, u"topUpCredits"_s, u"currentStreak"_s,
             u"longestStreak"_s, u"isFounder"_s})
        EXPECT_TRUE(user.contains(key)) << key.toStdString();
    EXPECT_TRUE(user[u"freeCredits"_s].isDouble());
}

TEST_F(DevServerTest, OneTimeCodeIsVoidAfterFiveWrongTriesOrTenMinutes)
{
    auto cli = client();
    const QString email = DevServerProcess::demoEmail;
    auto requestCode = [&] {
        cli.Post("/api/desktop/auth/otp", json({{u"email"_s, email}, {u"step"_s, u"request"_s}}), "application/json");
        return server().control("GET", "/__dev/otp?email=" + email.toStdString())[u"code"_s].toString();
    };
    auto verify = [&](const QString &otp) {
        return cli
            .Post("/api/desktop/auth/otp", json({{u"email"_s, email}, {u"step"_s, u"verify"_s}, {u"otpCode"_s, otp}}),
                "application/json")
            ->status;
    };
    auto wrongFor = [](const QString &code) { return code == u"123456"_s ? u"654321"_s : u"123456"_s; };

    struct Case {
        int wrongTries;
        qint64 secondsLater;
        int expected;
    };
    const Case cases[] = {{4, 0, 200}, {5, 0, 401}, {0, 599, 200}, {0, 601, 401}};
    for (const auto &c : cases) {
        server().reset();
        const QString code = requestCode();
        for (int i = 0; i < c.wrongTries; ++i)
            EXPECT_EQ(verify(wrongFor(code)), 401);
        server().control("POST", "/__dev/clock", {{u"advanceSeconds"_s, c.secondsLater}});
        EXPECT_EQ(verify(code), c.expected) << c.wrongTries << " wrong tries, " << c.secondsLater << " s later";
    }
    // A fresh request replaces a void code.
    EXPECT_EQ(verify(requestCode()), 200);
}

TEST_F(DevServerTest, ClientTokenIsGoodForOnePathnameForTenMinutes)
{
    const std::string mine = newPathname(), other = newPathname();
    const QString granted = clientToken(mine, token);
    EXPECT_TRUE(granted.startsWith(u"vercel_blob_client_"_s));

    EXPECT_EQ(put(other, granted, wav(0.1))->status, 403);
    EXPECT_EQ(put(mine, u"unknown"_s, wav(0.1))->status, 401);
    EXPECT_EQ(client().Put("/blob/" + mine, {{"x-content-length", "4"}}, "abcd", "audio/wav")->status, 401);

    auto stored = put(mine, granted, wav(0.1));
    ASSERT_EQ(stored->status, 200) << stored->body;
    EXPECT_EQ(jsonOf(stored)[u"url"_s].toString().toStdString(), server().originText() + "/blob/" + mine);
    // The blob is readable at the address it was given.
    auto fetched = client().Get("/blob/" + mine);
    ASSERT_EQ(fetched->status, 200);
    EXPECT_EQ(QByteArray::fromStdString(fetched->body), wav(0.1));
    EXPECT_EQ(client().Get("/blob/" + other)->status, 404);

    // A retry with the same token replaces the blob while the token lasts.
    EXPECT_EQ(put(mine, granted, wav(0.2))->status, 200);
    server().control("POST", "/__dev/clock", {{u"advanceSeconds"_s, 601}});
    EXPECT_EQ(put(mine, granted, wav(0.3))->status, 401);
    EXPECT_EQ(QByteArray::fromStdString(client().Get("/blob/" + mine)->body), wav(0.2));
}

TEST_F(DevServerTest, OnlyRecordingsUuidPathnamesAreAccepted)
{
    const std::string uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    const std::string refused[] = {
        "recordings/../" + uuid + ".m4a",
        "recordings/" + uuid + "/../../../etc/passwd",
        "../recordings/" + uuid + ".m4a",
        "recordings/" + uuid,
        "recordings/" + uuid + ".",
        "recordings/" + QString::fromStdString(uuid).toUpper().toStdString() + ".m4a",
        "recordings/" + uuid + ".M4A",
        "recordings/" + uuid + ".m4a/extra",
        "uploads/" + uuid + ".m4a",
        "recordings/not-a-uuid.m4a",
        "recordings/%2e%2e/" + uuid + ".m4a",
        "",
    };
    auto cli = client();
    cli.set_url_encode(false); // the paths go out exactly as written, ".." included
    for (const auto &pathname : refused) {
        auto grant = cli.Post("/api/desktop/meeting-notes/upload-token", bearer(token, "x-auth-token"),
            json(tokenRequest(pathname)), "application/json");
        EXPECT_EQ(grant->status, 400) << pathname;
        auto stored = cli.Put("/blob/" + pathname, {{"Authorization", "Bearer x"}, {"x-content-length", "4"}}, "abcd",
            "audio/mp4");
        ASSERT_TRUE(stored) << pathname;
        EXPECT_EQ(stored->status, 400) << pathname;
    }
    // The good shape, with any lower-case extension.
    EXPECT_FALSE(clientToken("recordings/" + uuid + ".m4a", token).isEmpty());
    EXPECT_FALSE(clientToken("recordings/" + uuid + ".caf", token).isEmpty());
}

TEST_F(DevServerTest, UploadTokenRequestMustHaveTheBlobClientShape)
{
    const std::string pathname = newPathname();
    QJsonObject good = tokenRequest(pathname);
    auto variant = [&](const QString &key, const QJsonValue &value) {
        QJsonObject payload = good[u"payload"_s].toObject();
        if (value.isUndefined())
            payload.remove(key);
        else
            payload[key] = value;
        QJsonObject body = good;
        body[u"payload"_s] = payload;
        return body;
    };
    QJsonObject wrongType = good;
    wrongType[u"type"_s] = u"blob.upload-completed"_s;
    const QJsonObject refused[] = {
        wrongType,
        variant(u"pathname"_s, QJsonValue::Undefined),
        variant(u"callbackUrl"_s, QJsonValue::Undefined),
        variant(u"multipart"_s, true),
        variant(u"multipart"_s, u"false"_s),
        variant(u"clientPayload"_s, QJsonValue::Undefined),
        variant(u"clientPayload"_s, 3),
        QJsonObject{{u"type"_s, u"blob.generate-client-token"_s}},
    };
    auto cli = client();
    for (const auto &body : refused)
        EXPECT_EQ(cli.Post("/api/desktop/meeting-notes/upload-token", bearer(token, "x-auth-token"), json(body),
                         "application/json")
                      ->status,
            400)
            << json(body);
}

TEST_F(DevServerTest, BlobBodyMustMatchItsDeclaredSize)
{
    const std::string pathname = newPathname();
    const QString granted = clientToken(pathname, token);
    EXPECT_EQ(put(pathname, granted, wav(0.1), std::to_string(wav(0.1).size() + 1))->status, 400);
    EXPECT_EQ(put(pathname, granted, wav(0.1), std::to_string(wav(0.1).size() - 1))->status, 400);
    EXPECT_EQ(put(pathname, granted, wav(0.1), "")->status, 400);
    EXPECT_EQ(put(pathname, granted, wav(0.1), "12abc")->status, 400);
    // A refused body leaves nothing behind.
    EXPECT_EQ(client().Get("/blob/" + pathname)->status, 404);
    EXPECT_EQ(put(pathname, granted, wav(0.1))->status, 200);
}

TEST(DevServerLimits, BlobsOverTheCapAreRefusedAndLargeOnesAreStreamedToDisk)
{
    constexpr std::size_t cap = std::size_t(160) << 20;
    DevServerProcess server({u"--blob-limit-bytes"_s, QString::number(cap)});
    ASSERT_TRUE(server.isRunning());
    const QString token = server.signIn();
    auto cli = server.client();
    auto grant = [&](const std::string &pathname) {
        return jsonOf(cli.Post("/api/desktop/meeting-notes/upload-token", bearer(token, "x-auth-token"),
                          json(tokenRequest(pathname)), "application/json"))[u"clientToken"_s]
            .toString();
    };
    // Bytes made on the fly, so the test itself holds none of them.
    static const std::string chunk(64 * 1024, 'x');
    auto stream = [](std::size_t size) {
        return [size](std::size_t offset, std::size_t length, httplib::DataSink &sink) {
            return sink.write(chunk.data(), std::min({length, chunk.size(), size - offset}));
        };
    };
    auto peakMemoryKb = [&] { return procStatusKiB("VmHWM", QString::number(server.pid())); };

    const std::string big = newPathname(u"m4a"_s);
    const std::size_t bigSize = std::size_t(128) << 20;
    const qint64 before = peakMemoryKb();
    auto stored = cli.Put("/blob/" + big,
        {{"Authorization", "Bearer " + grant(big).toStdString()}, {"x-content-length", std::to_string(bigSize)}},
        bigSize, stream(bigSize), "audio/mp4");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->status, 200) << stored->body;
    EXPECT_LT(peakMemoryKb() - before, 64 * 1024) << "the body went through memory";
    std::size_t fetched = 0;
    cli.Get("/blob/" + big, [&](const char *, std::size_t length) {
        fetched += length;
        return true;
    });
    EXPECT_EQ(fetched, bigSize);

    // Over the cap: refused whether the declared size says so or only the body does (sent chunked, without a length).
    const std::size_t over = cap + 1;
    const std::string tooBig = newPathname(u"m4a"_s);
    auto declared = cli.Put("/blob/" + tooBig,
        {{"Authorization", "Bearer " + grant(tooBig).toStdString()}, {"x-content-length", std::to_string(over)}}, "abcd",
        "audio/mp4");
    EXPECT_EQ(declared->status, 413);
    auto actual = cli.Put("/blob/" + tooBig,
        {{"Authorization", "Bearer " + grant(tooBig).toStdString()}, {"x-content-length", "4"}},
        [over](std::size_t offset, httplib::DataSink &sink) {
            if (offset >= over) {
                sink.done();
                return true;
            }
            return sink.write(chunk.data(), std::min(chunk.size(), over - offset));
        },
        "audio/mp4");
    ASSERT_TRUE(actual);
    EXPECT_EQ(actual->status, 413);
    EXPECT_EQ(cli.Get("/blob/" + tooBig)->status, 404);
}

TEST_F(DevServerTest, NotifiedRecordingBecomesANoteAfterTheProcessingDelay)
{
    const QString mic = upload(wav(3.0), token), system = upload(wav(1.0), token);
    const QString stranger = server().signIn(u"someone@else.test"_s);
    const QString strangers = upload(wav(1.0), stranger);

    const QJsonObject refused[] = {
        {{u"file_name"_s, u"upload_track.m4a"_s}},
        {{u"blob_url"_s, mic}},
        {{u"blob_url"_s, 42}, {u"file_name"_s, u"upload_track.m4a"_s}},
        {{u"blob_url"_s, server().url(u"/blob/recordings/"_s + QUuid::createUuid().toString(QUuid::WithoutBraces) + u".m4a"_s).toString()},
            {u"file_name"_s, u"upload_track.m4a"_s}},
        {{u"blob_url"_s, u"https://elsewhere.test/blob/x.m4a"_s}, {u"file_name"_s, u"upload_track.m4a"_s}},
        {{u"blob_url"_s, mic}, {u"file_name"_s, u"upload_track.m4a"_s}, {u"blob_url_system"_s, u"nope"_s}},
    };
    for (const auto &body : refused)
        EXPECT_EQ(notify(body, token)->status, 400) << json(body);
    EXPECT_EQ(notify({{u"blob_url"_s, strangers}, {u"file_name"_s, u"upload_track.m4a"_s}}, token)->status, 403);

    auto accepted = notify({{u"blob_url"_s, mic}, {u"blob_url_system"_s, system}, {u"file_name"_s, u"upload_track.m4a"_s},
                               {u"file_name_system"_s, u"system_upload.m4a"_s}},
        token);
    ASSERT_EQ(accepted->status, 200) << accepted->body;
    const QJsonObject ack = jsonOf(accepted).toObject();
    EXPECT_TRUE(ack[u"success"_s].toBool());
    const qint64 id = ack[u"noteId"_s].toInteger();
    ASSERT_GT(id, 0);

    // Processing: the note is not listed yet, its detail says so.
    EXPECT_FALSE(listed(notes(), id));
    const QJsonObject waiting = jsonOf(client().Get("/api/v2/meeting-notes/" + std::to_string(id) + "?source=desktop", bearer(token)))[u"data"_s].toObject();
    EXPECT_EQ(waiting[u"status"_s].toString(), u"processing"_s);
    EXPECT_TRUE(server().waitForLine(u"[devserver] note %1 is ready (3 sec)"_s.arg(id), 15000));

    const QJsonArray list = notes();
    ASSERT_FALSE(list.isEmpty());
    const QJsonObject first = list.first().toObject();
    EXPECT_EQ(first[u"id"_s].toInteger(), id) << "the newest note comes first";
    EXPECT_EQ(first[u"source"_s].toString(), u"desktop"_s);
    EXPECT_EQ(first[u"duration"_s].toString(), u"3 sec"_s);
    const QJsonObject detail = jsonOf(client().Get("/api/v2/meeting-notes/" + std::to_string(id) + "?source=desktop", bearer(token)))[u"data"_s].toObject();
    EXPECT_EQ(detail[u"properties"_s][u"durationSeconds"_s].toInteger(), 3);
    EXPECT_TRUE(detail[u"summaryText"_s].toString().contains(u"does not transcribe"_s));
    EXPECT_TRUE(detail[u"actionItems"_s].toArray().isEmpty());
    // The other account sees none of it.
    EXPECT_FALSE(listed(jsonOf(client().Get("/api/v2/meeting-notes", bearer(stranger)))[u"data"_s].toArray(), id));
    EXPECT_EQ(client().Get("/api/v2/meeting-notes/" + std::to_string(id), bearer(stranger))->status, 404);
}

TEST_F(DevServerTest, NotesListDecodesWithTheClientsRecords)
{
    notify({{u"blob_url"_s, upload(wav(1.0), token)}, {u"file_name"_s, u"upload_track.m4a"_s}}, token);
    server().control("POST", "/__dev/process");
    const auto reply = client().Get("/api/v2/meeting-notes", bearer(token));
    const QList<MeetingNote> list = Json::decode<NotesReply>(QByteArray::fromStdString(reply->body)).data.value();
    ASSERT_EQ(list.size(), 8);
    EXPECT_EQ(std::count_if(list.begin(), list.end(), [](const MeetingNote &n) { return n.isLive(); }), 1);
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end(),
        [](const MeetingNote &a, const MeetingNote &b) { return a.createdDateTime > b.createdDateTime; }));
}

TEST_F(DevServerTest, ProcessControlFinishesWaitingNotesAtOnce)
{
    const qint64 id = jsonOf(notify({{u"blob_url"_s, upload(QByteArray("not audio"), token)}, {u"file_name"_s, u"upload_track.m4a"_s}}, token))[u"noteId"_s].toInteger();
    const QJsonArray finished = server().control("POST", "/__dev/process")[u"finished"_s].toArray();
    EXPECT_EQ(finished, QJsonArray{id});
    const QJsonObject note = notes().first().toObject();
    EXPECT_EQ(note[u"id"_s].toInteger(), id);
    EXPECT_FALSE(note.contains(u"duration"_s)) << "a track that is not audio has no length";
}

TEST_F(DevServerTest, UsersChangesAreStoredAndSeenAfterAReload)
{
    auto cli = client();
    auto patch = [&](const std::string &path, const QJsonObject &body) {
        return cli.Patch(path, bearer(token), json(body), "application/json")->status;
    };
    auto item = [&](qint64 note, const QString &key) {
        const auto items = jsonOf(cli.Get("/api/v2/meeting-notes/" + std::to_string(note) + "?source=desktop", bearer(token)))[u"data"_s][u"actionItems"_s].toArray();
        for (const auto &i : items)
            if (i[u"id"_s].toString() == key || (!i.toObject().contains(u"id"_s) && i[u"what"_s].toString() == key))
                return i.toObject();
        return QJsonObject();
    };

    EXPECT_EQ(patch("/api/v2/meeting-notes/2/action-items/dr-1?source=desktop", {{u"done"_s, true}}), 200);
    EXPECT_TRUE(item(2, u"dr-1"_s)[u"done"_s].toBool());
    // An item without an id goes by its text.
    EXPECT_EQ(patch("/api/v2/meeting-notes/2/action-items/Share%20the%20test%20plan%20with%20support?source=desktop", {{u"done"_s, false}}), 200);
    EXPECT_FALSE(item(2, u"Share the test plan with support"_s)[u"done"_s].toBool());
    // The cross-note list shows the same state.
    const auto all = jsonOf(cli.Get("/api/v2/action-items", bearer(token)))[u"data"_s].toArray();
    const auto found = std::find_if(all.begin(), all.end(), [](const QJsonValue &v) { return v[u"meetingId"_s].toInteger() == 2 && v[u"id"_s].toString() == u"dr-1"_s; });
    ASSERT_NE(found, all.end());
    EXPECT_TRUE((*found)[u"done"_s].toBool());
    EXPECT_EQ((*found)[u"meetingSource"_s].toString(), u"desktop"_s);

    EXPECT_EQ(patch("/api/v2/meeting-notes/2/action-items/nope?source=desktop", {{u"done"_s, true}}), 404);
    EXPECT_EQ(patch("/api/v2/meeting-notes/2/action-items/dr-1?source=telegram", {{u"done"_s, true}}), 404);
    EXPECT_EQ(patch("/api/v2/meeting-notes/999/action-items/dr-1", {{u"done"_s, true}}), 404);
    EXPECT_EQ(patch("/api/v2/meeting-notes/2/action-items/dr-1", {{u"done"_s, u"yes"_s}}), 400);

    auto prefer = [&](const QString &event, bool enabled) {
        return cli.Post("/api/recall/meeting-bot-preference", bearer(token),
            json({{u"recall_calendar_event_id"_s, event}, {u"bot_enabled"_s, enabled}, {u"title"_s, u"Design critique"_s}}),
            "application/json");
    };
    auto meeting = [&](const QString &event) {
        for (const auto &m : jsonOf(cli.Get("/api/recall/upcoming-meetings?tarnwick_user_id=demo-user&limit=20", bearer(token)))[u"meetings"_s].toArray())
            if (m[u"calendarEventId"_s].toString() == event)
                return m.toObject();
        return QJsonObject();
    };
    EXPECT_EQ(jsonOf(prefer(u"evt-critique"_s, true))[u"signal"_s].toString(), u"scheduled"_s);
    EXPECT_TRUE(meeting(u"evt-critique"_s)[u"botEnabled"_s].toBool());
    EXPECT_EQ(jsonOf(prefer(u"evt-critique"_s, false))[u"signal"_s].toString(), u"cancelled"_s);
    EXPECT_FALSE(meeting(u"evt-critique"_s)[u"botEnabled"_s].toBool());
    EXPECT_EQ(prefer(u"evt-unknown"_s, true)->status, 404);
    EXPECT_EQ(cli.Post("/api/recall/meeting-bot-preference", bearer(token), json({{u"recall_calendar_event_id"_s, u"evt-critique"_s}, {u"bot_enabled"_s, true}}), "application/json")->status, 400);
}

TEST(DevServerPersistence, StateSurvivesARestartAndDemoDatesFollowToday)
{
    QTemporaryDir data;
    auto tick = [](DevServerProcess &server, const QString &token) {
        return server.client()
            .Patch("/api/v2/meeting-notes/5/action-items/oo-1?source=desktop", bearer(token), json({{u"done"_s, true}}), "application/json")
            ->status;
    };
    QString token;
    {
        DevServerProcess first({u"--data"_s, data.path()});
        ASSERT_TRUE(first.isRunning());
        EXPECT_TRUE(first.waitForLine(u"[devserver] data in "_s + data.path()));
        token = first.signIn();
        EXPECT_EQ(tick(first, token), 200);
        EXPECT_TRUE(first.stop());
    }
    DevServerProcess second({u"--data"_s, data.path()});
    ASSERT_TRUE(second.isRunning());
    auto cli = second.client();
    auto detail = jsonOf(cli.Get("/api/v2/meeting-notes/5?source=desktop", bearer(token)));
    ASSERT_TRUE(detail.isObject()) << "the token from before the restart still signs in";
    EXPECT_TRUE(detail[u"data"_s][u"actionItems"_s][0][u"done"_s].toBool());
    EXPECT_EQ(jsonOf(cli.Get("/api/v2/meeting-notes", bearer(token)))[u"data"_s].toArray().size(), 7) << "samples are not doubled";
}

TEST_F(DevServerTest, DemoDataSpansTodayEarlierDaysAndTheCalendarsPlatforms)
{
    const QDate today = QDate::currentDate();
    QSet<QString> sources;
    QSet<qint64> daysBack;
    for (const auto &note : notes()) {
        sources << note[u"source"_s].toString();
        const auto created = QDateTime::fromString(note[u"createdDateTime"_s].toString(), Qt::ISODateWithMs).toLocalTime();
        daysBack << created.date().daysTo(today);
    }
    EXPECT_TRUE(sources.contains(u"desktop"_s) && sources.contains(u"recall"_s) && sources.contains(u"telegram"_s));
    EXPECT_TRUE(daysBack.contains(0) && daysBack.contains(1));
    EXPECT_GT(*std::max_element(daysBack.begin(), daysBack.end()), 7);

    const auto meetings = jsonOf(client().Get("/api/recall/upcoming-meetings?tarnwick_user_id=demo-user&limit=20", bearer(token)))[u"meetings"_s].toArray();
    QSet<QString> platforms;
    int live = 0, declined = 0, withoutAddress = 0, tomorrow = 0;
    for (const auto &m : meetings) {
        platforms << m[u"platform"_s].toString();
        live += m[u"isLive"_s].toBool();
        declined += m[u"declined"_s].toBool();
        withoutAddress += !m.toObject().contains(u"meetingUrl"_s);
        tomorrow += QDateTime::fromString(m[u"startTime"_s].toString(), Qt::ISODateWithMs).toLocalTime().date() == today.addDays(1);
    }
    EXPECT_TRUE(platforms.contains(u"Zoom"_s) && platforms.contains(u"Google Meet"_s) && platforms.contains(u"Microsoft Teams"_s));
    EXPECT_EQ(live, 1);
    EXPECT_EQ(declined, 1);
    EXPECT_GE(withoutAddress, 1);
    EXPECT_GE(tomorrow, 1);
    EXPECT_EQ(jsonOf(client().Get("/api/recall/upcoming-meetings?tarnwick_user_id=demo-user&limit=2", bearer(token)))[u"meetings"_s].toArray().size(), 2);
}

TEST_F(DevServerTest, CalendarConnectionAndReauthorization)
{
    auto cli = client();
    auto status = [&](const QString &t) { return jsonOf(cli.Get("/api/recall/calendar/status", bearer(t))).toObject(); };
    auto upcoming = [&](const QString &t, const std::string &user) { return cli.Get("/api/recall/upcoming-meetings?tarnwick_user_id=" + user + "&limit=20", bearer(t)); };

    EXPECT_EQ(status(token), (QJsonObject{{u"connected"_s, true}, {u"needsReauth"_s, false}}));
    EXPECT_EQ(upcoming(token, "someone-else")->status, 403);
    EXPECT_EQ(cli.Get("/api/recall/upcoming-meetings", bearer(token))->status, 400);

    server().control("POST", "/__dev/calendar", {{u"needsReauth"_s, true}});
    EXPECT_TRUE(status(token)[u"needsReauth"_s].toBool());
    EXPECT_EQ(upcoming(token, "demo-user")->status, 401);

    // A new account starts unconnected; the connect page connects it and clears the re-authorization.
    const QString fresh = server().signIn(u"new.user@example.com"_s);
    const std::string freshId = jsonOf(cli.Get("/api/desktop/me", bearer(fresh)))[u"id"_s].toString().toStdString();
    EXPECT_FALSE(status(fresh)[u"connected"_s].toBool());
    EXPECT_TRUE(jsonOf(upcoming(fresh, freshId))[u"meetings"_s].toArray().isEmpty());
    auto page = cli.Get("/api/recall/calendar/connect");
    EXPECT_NE(page->body.find("<form"), std::string::npos);
    EXPECT_EQ(cli.Post("/api/recall/calendar/connect", "email=nobody%40example.com", "application/x-www-form-urlencoded")->status, 404);
    for (const auto *email : {"new.user%40example.com", "demo%40echoquill.test"})
        EXPECT_EQ(cli.Post("/api/recall/calendar/connect", std::string("email=") + email, "application/x-www-form-urlencoded")->status, 200);
    EXPECT_TRUE(status(fresh)[u"connected"_s].toBool());
    EXPECT_FALSE(jsonOf(upcoming(fresh, freshId))[u"meetings"_s].toArray().isEmpty());
    EXPECT_EQ(upcoming(token, "demo-user")->status, 200);
}

TEST_F(DevServerTest, SignInPageEndsAtTheAppAddressWithAToken)
{
    auto cli = client();
    auto page = cli.Get("/desktop-auth");
    ASSERT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("type=\"email\""), std::string::npos);
    EXPECT_NE(page->body.find(">Continue</button>"), std::string::npos);

    auto done = cli.Post("/desktop-auth", "email=Page.User%40Example.com", "application/x-www-form-urlencoded");
    ASSERT_EQ(done->status, 302);
    const QUrl callback(QString::fromStdString(done->get_header_value("Location")));
    EXPECT_EQ(callback.scheme(), u"echoquill"_s);
    const QString pageToken = QUrlQuery(callback).queryItemValue(u"token"_s);
    EXPECT_EQ(jsonOf(cli.Get("/api/desktop/me", bearer(pageToken)))[u"email"_s].toString(), u"page.user@example.com"_s);

    auto refused = cli.Post("/desktop-auth", "email=%3Cscript%3E", "application/x-www-form-urlencoded");
    EXPECT_EQ(refused->status, 400);
    EXPECT_EQ(refused->body.find("<script>"), std::string::npos) << "what was typed comes back escaped";
}

TEST_F(DevServerTest, ControlsInjectFailuresAndLatencyAndLogRequests)
{
    auto cli = client();
    int status = 0;
    server().control("POST", "/__dev/faults", {{u"path"_s, u"/api/desktop/me"_s}, {u"status"_s, 500}, {u"count"_s, 2}});
    server().control("POST", "/__dev/faults", {{u"path"_s, u"/api/v2/*"_s}, {u"method"_s, u"get"_s}, {u"status"_s, 200}, {u"body"_s, u"{not json"_s}});
    server().control("POST", "/__dev/faults", {{u"path"_s, u"/api/recall/settings"_s}, {u"status"_s, 503}, {u"count"_s, -1}});
    server().control("POST", "/__dev/faults", {{u"path"_s, u"no-slash"_s}, {u"status"_s, 500}}, &status);
    EXPECT_EQ(status, 400);

    EXPECT_EQ(cli.Get("/api/desktop/me", bearer(token))->status, 500);
    EXPECT_EQ(cli.Get("/api/desktop/me", bearer(token))->status, 500);
    EXPECT_EQ(cli.Get("/api/desktop/me", bearer(token))->status, 200);
    auto raw = cli.Get("/api/v2/action-items", bearer(token));
    EXPECT_EQ(raw->status, 200);
    EXPECT_EQ(raw->body, "{not json");
    EXPECT_EQ(cli.Patch("/api/v2/meeting-notes/2/action-items/dr-1", bearer(token), "{\"done\":true}", "application/json")->status, 200)
        << "the fault was for GET only";
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(cli.Get("/api/recall/settings", bearer(token))->status, 503);
    EXPECT_EQ(server().control("GET", "/__dev/faults")[u"faults"_s].toArray().size(), 1);
    server().control("DELETE", "/__dev/faults");
    EXPECT_EQ(cli.Get("/api/recall/settings", bearer(token))->status, 200);

    // A fault can carry a reply far larger than any JSON body the service itself takes, and sends it as it is,
    // uncompressed even to a client that accepts compression.
    const QString page = u"<html>"_s + QString(10 << 20, u'x');
    server().control("POST", "/__dev/faults", {{u"path"_s, u"/api/recall/settings"_s}, {u"status"_s, 502}, {u"body"_s, page},
        {u"contentType"_s, u"text/html"_s}}, &status);
    EXPECT_EQ(status, 200);
    httplib::Headers compressible = bearer(token);
    compressible.emplace("Accept-Encoding", "gzip, deflate, br");
    cli.set_decompress(false);
    auto large = cli.Get("/api/recall/settings", compressible);
    cli.set_decompress(true);
    EXPECT_EQ(large->status, 502);
    EXPECT_EQ(large->body, page.toStdString());
    EXPECT_EQ(large->get_header_value("Content-Type"), "text/html");
    EXPECT_FALSE(large->has_header("Content-Encoding"));

    server().control("DELETE", "/__dev/requests");
    cli.Post("/api/desktop/auth/otp", "{\"email\":\"x@y.test\",\"step\":\"request\"}", "application/json");
    cli.Get("/api/recall/upcoming-meetings?tarnwick_user_id=demo-user&limit=20", bearer(token));
    const QJsonArray log = server().control("GET", "/__dev/requests").toArray();
    ASSERT_EQ(log.size(), 2) << "control calls are not logged";
    EXPECT_EQ(log[0][u"method"_s].toString(), u"POST"_s);
    EXPECT_EQ(log[0][u"body"_s].toString(), u"{\"email\":\"x@y.test\",\"step\":\"request\"}"_s);
    EXPECT_EQ(log[0][u"headers"_s][u"content-type"_s].toString(), u"application/json"_s);
    EXPECT_FALSE(log[0][u"headers"_s].toObject().contains(u"authorization"_s));
    EXPECT_EQ(log[1][u"path"_s].toString(), u"/api/recall/upcoming-meetings"_s);
    EXPECT_EQ(log[1][u"query"_s].toString(), u"tarnwick_user_id=demo-user&limit=20"_s);
    EXPECT_EQ(log[1][u"params"_s][u"limit"_s].toString(), u"20"_s);
    EXPECT_EQ(log[1][u"headers"_s][u"authorization"_s].toString(), u"Bearer "_s + token);
    EXPECT_EQ(log[1][u"status"_s].toInt(), 200);
    EXPECT_EQ(server().control("GET", "/__dev/requests?path=/api/desktop/*").toArray().size(), 1);

    server().control("POST", "/__dev/latency", {{u"ms"_s, 400}, {u"path"_s, u"/api/recall/settings"_s}});
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(cli.Get("/api/recall/settings", bearer(token))->status, 200);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(400));

    server().reset();
    EXPECT_TRUE(server().control("GET", "/__dev/requests").toArray().isEmpty());
    EXPECT_TRUE(server().control("GET", "/__dev/faults")[u"faults"_s].toArray().isEmpty());
    server().control("GET", "/__dev/otp?email=x%40y.test", {}, &status);
    EXPECT_EQ(status, 404) << "reset forgets codes";
}

TEST_F(DevServerTest, BadInputIsAnsweredAndNeverEndsTheProcess)
{
    auto cli = client();
    const std::string paths[] = {"/api/desktop/auth/otp", "/api/desktop/meeting-notes", "/api/recall/meeting-bot-preference",
        "/__dev/faults"};
    const std::string bodies[] = {"", "{", "[1,2]", "null", "\"text\"", "{\"email\":}", std::string("\xff\xfe\x00\x01", 4),
        std::string(5000, '[')};
    for (const auto &path : paths)
        for (const auto &body : bodies) {
            auto reply = cli.Post(path, bearer(token), body, "application/json");
            ASSERT_TRUE(reply) << path;
            EXPECT_EQ(reply->status, 400) << path << " " << body.substr(0, 20);
            EXPECT_TRUE(jsonOf(reply).isObject()) << "errors are JSON: " << reply->body;
        }
    auto huge = cli.Post("/api/desktop/auth/otp", std::string((1 << 20) + 1, ' '), "application/json");
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->status, 413);
    EXPECT_TRUE(jsonOf(huge).isObject());
    EXPECT_EQ(cli.Get("/api/v2/meeting-notes/99999999999999999999999", bearer(token))->status, 404);
    for (const auto &unknown : {cli.Post("/nowhere", "{}", "application/json"), cli.Put("/blob", "x", "text/plain"),
             cli.Delete("/api/desktop/me"), cli.Get("/__dev/nothing")}) {
        ASSERT_TRUE(unknown);
        EXPECT_EQ(unknown->status, 404);
        EXPECT_TRUE(jsonOf(unknown).isObject());
    }

    // Not HTTP at all, then a connection dropped halfway through a body.
    for (const std::string &raw : {std::string("\x16\x03\x01garbage\r\n\r\n"), std::string("PUT /blob/x HTTP/1.1\r\nContent-Length: 100000\r\n\r\nabc")}) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(quint16(server().port()));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        ASSERT_EQ(::send(fd, raw.data(), raw.size(), MSG_NOSIGNAL), ssize_t(raw.size()));
        ::close(fd);
    }
    EXPECT_EQ(cli.Get("/api/desktop/me", bearer(token))->status, 200);
}

TEST_F(DevServerTest, RequestsAreServedInParallel)
{
    server().control("POST", "/__dev/latency", {{u"ms"_s, 1000}, {u"path"_s, u"/api/desktop/me"_s}});
    constexpr int count = 10;
    std::vector<int> statuses(count);
    std::vector<std::thread> threads;
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&, i] { statuses[i] = client().Get("/api/desktop/me", bearer(token))->status; });
    for (auto &t : threads)
        t.join();
    // One at a time would take ten seconds.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(6));
    EXPECT_EQ(statuses, std::vector<int>(count, 200));
}
