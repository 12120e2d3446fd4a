#include "APIClient.h"
#include "Await.h"
#include "Endpoints.h"
#include "Log.h"
#include "RaisedError.h"
#include "TestServer.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

struct Echo {
    QString value;
    static Echo fromJson(const Json::ObjectReader& r) { return { r.required<QString>("value"_L1) }; }
};

struct Any {
    static Any fromJson(const Json::ObjectReader&) { return {}; }
};

struct Body {
    QString email;
    std::optional<QString> otpCode;
    QJsonObject toJson() const
    {
        return Json::ObjectWriter().set("email"_L1, email).set("otpCode"_L1, otpCode).object();
    }
};

class APIClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server.reply("GET", "/echo", 200, R"({"value":"ok"})");
        server.reply("POST", "/echo", 200, R"({"value":"posted"})");
        server.server().Get("/status/(\\d+)", [this](const httplib::Request& req, httplib::Response& res) {
            res.status = std::stoi(req.matches[1]);
            res.set_content(nextBody, "text/plain");
        });
        server.start();
    }
    void TearDown() override { APIClient::shared().network().clearConnectionCache(); }

    APIClient& client = APIClient::shared();
    TestServer server;
    std::string nextBody;
};

}

TEST_F(APIClientTest, ErrorStatusesAreLoggedWithTruncatedBodiesAndMapped)
{
    const struct {
        int status;
        std::string body;
        QString description, logged;
    } cases[] = {
        { 401, "expired", u"Session expired, please sign in again"_s, u"expired"_s },
        { 500, std::string(1500, 'a') + std::string(500, 'b'), u"Server error (500)"_s, QString(500, u'a') },
        { 503, std::string(36, 'x') + "\xff", u"Server error (503)"_s, u"<binary 37B>"_s },
    };
    for (const auto& c : cases) {
        Log::Capture log;
        nextBody = c.body;
        const QString path = u"/status/%1"_s.arg(c.status);
        const EQAPIError e = apiError([&] { await(client.get<Echo>(server.url(path), u"t"_s)); });
        EXPECT_EQ(e.description(), c.description);
        EXPECT_EQ(e.kind(), c.status == 401 ? EQAPIError::Unauthorized : EQAPIError::HttpError);
        if (e.is(EQAPIError::HttpError))
            EXPECT_EQ(e.status(), c.status);
        EXPECT_EQ(log.lines(), QStringList { u"[APIClient] HTTP %1 from %2: "_s.arg(c.status).arg(path) + c.logged });
    }
}

TEST_F(APIClientTest, UndecodableRepliesAreDecodingErrorsWithTheDecodeLine)
{
    server.reply("GET", "/empty", 200, "");
    server.reply("GET", "/truncated", 200, R"({"value":"o)");
    server.reply("GET", "/array", 200, R"(["value"])");
    server.reply("GET", "/nested", 200, std::string(2'500'000, '[') + std::string(2'500'000, ']'));
    server.reply("GET", "/long", 200, R"({"other":")" + std::string(400, 'z') + "\"}");

    Log::Capture log;
    EQAPIError e = apiError([&] { await(client.get<Echo>(server.url(u"/empty"_s), u"t"_s)); });
    EXPECT_TRUE(e.is(EQAPIError::DecodingError));
    EXPECT_TRUE(e.description().startsWith(u"Data error: "_s));
    EXPECT_EQ(log.lines().value(0), u"[APIClient] decode error for /empty: "_s);

    for (const char* path : { "/truncated", "/array", "/nested" }) {
        e = apiError([&] { await(client.get<Echo>(server.url(QString::fromLatin1(path)), u"t"_s)); });
        EXPECT_TRUE(e.is(EQAPIError::DecodingError)) << path;
    }

    e = apiError([&] { await(client.get<Echo>(server.url(u"/long"_s), u"t"_s)); });
    EXPECT_TRUE(e.description().contains(u"value"_s)) << "the missing key is named";
    EXPECT_EQ(log.lines().last(),
        u"[APIClient] decode error for /long: "_s + (R"({"other":")" + QString(300, u'z')).left(300));
}

TEST_F(APIClientTest, TransportFailuresAreWrappedExceptForPostWithoutResponse)
{
    const QUrl dead(QStringLiteral("http://127.0.0.1:%1/echo").arg(closedPort()));
    EQAPIError e = apiError([&] { await(client.get<Echo>(dead, u"t"_s)); });
    EXPECT_TRUE(e.is(EQAPIError::NetworkError));
    EXPECT_TRUE(e.description().startsWith(u"Network error: "_s));

    try {
        await(client.postWithoutResponse(dead, Body { u"a@b.c"_s, {} }, std::nullopt));
        ADD_FAILURE() << "no error";
    } catch (const TransportError& t) {
        EXPECT_FALSE(t.description().isEmpty());
        EXPECT_FALSE(t.description().startsWith(u"Network error: "_s));
    }
}

TEST_F(APIClientTest, RequestsAreJsonWithABearerOnlyWithATokenAndBodiesLeaveAbsentOptionalsOut)
{
    server.server().Post("/otp", [](const httplib::Request& req, httplib::Response& res) {
        res.status = req.body.find("bad") != std::string::npos ? 401 : 204;
    });

    EXPECT_EQ(await(client.get<Echo>(server.url(u"/echo"_s), u"tok-1"_s)).value, u"ok"_s);
    EXPECT_EQ(await(client.get<Echo>(server.url(u"/echo"_s), std::nullopt)).value, u"ok"_s);
    EXPECT_EQ(
        await(client.post<Echo>(server.url(u"/echo"_s), Body { u"a@b.c"_s, u"123456"_s }, u"t"_s)).value, u"posted"_s);
    await(client.postWithoutResponse(server.url(u"/otp"_s), Body { u"a@b.c"_s, {} }, std::nullopt));
    Log::Capture log;
    EQAPIError e = apiError([&] {
        await(client.postWithoutResponse(server.url(u"/otp"_s), Body { u"bad"_s, {} }, std::nullopt));
    });
    EXPECT_TRUE(e.is(EQAPIError::Unauthorized));
    EXPECT_TRUE(log.lines().isEmpty()) << "postWithoutResponse prints nothing";

    const auto got = server.received();
    ASSERT_EQ(got.size(), 5u);
    for (const auto& r : got)
        EXPECT_EQ(r.header("Content-Type"), "application/json") << r.method << " " << r.path;
    EXPECT_EQ(got[0].header("Authorization"), "Bearer tok-1");
    EXPECT_FALSE(got[1].hasHeader("Authorization")) << "no empty Bearer without a token";
    EXPECT_EQ(got[2].body, R"({"email":"a@b.c","otpCode":"123456"})");
    EXPECT_EQ(got[3].body, R"({"email":"a@b.c"})");
    EXPECT_FALSE(got[3].hasHeader("Authorization"));
}

TEST(Endpoints, OriginChecksAndQueryValuesArriveIntact)
{
    for (const char* bad : { "not a url", "/relative", "https://host/with/path" })
        EXPECT_FALSE(Endpoints::originProblem(QString::fromLatin1(bad)).isEmpty()) << bad;
    EXPECT_TRUE(Endpoints::originProblem(u"http://127.0.0.1:8787"_s).isEmpty());
    Endpoints::setServiceOrigin(QUrl(u"https://api.echoquill.app/"_s));
    EXPECT_EQ(Endpoints::meetingNoteDetailURL(u"42"_s, u"desktop"_s).toString(),
        u"https://api.echoquill.app/api/v2/meeting-notes/42?source=desktop"_s);

    TestServer server;
    server.reply("GET", "/api/recall/upcoming-meetings", 200);
    server.reply("GET", "/api/v2/meeting-notes/7", 200);
    server.start();
    Endpoints::setServiceOrigin(server.origin());
    const QString tricky = u"Zoë & Łukasz=1+2 #x"_s;
    await(APIClient::shared().get<Any>(Endpoints::upcomingMeetingsURL(tricky, 20), u"t"_s));
    await(APIClient::shared().get<Any>(Endpoints::meetingNoteDetailURL(u"7"_s, u"a&b c"_s), u"t"_s));
    const auto got = server.received();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(QString::fromStdString(got[0].query), u"limit=20&tarnwick_user_id="_s + tricky);
    EXPECT_EQ(got[1].query, "source=a&b c");
    APIClient::shared().network().clearConnectionCache();
}
