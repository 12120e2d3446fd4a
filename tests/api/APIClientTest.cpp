#include "APIClient.h"
#include "Await.h"
#include "Endpoints.h"
#include "Log.h"
#include "QtPrinters.h"
#include "RaisedError.h"
#include "TestServer.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

struct Echo {
    QString value;
    static Echo fromJson(const Json::ObjectReader& r) { return { r.required<QString>("value"_L1) }; }
};

struct Any {
    static Any fromJson(const Json::ObjectReader&) { return {}; }
};

class APIClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server.server().Get("/status/(\\d+)", [this](const httplib::Request& req, httplib::Response& res) {
            res.status = std::stoi(req.matches[1]);
            res.set_content(nextBody, "text/plain");
        });
        // Replies that go wrong after their headers: the announced length (0: chunked), the head, the drip and its pace.
        server.server().Get("/bad/(\\w+)", [](const httplib::Request& req, httplib::Response& res) {
            const std::map<std::string, std::tuple<size_t, std::string, std::string, int>> bad = {
                { "cut", { 100, R"({"value":"whole"})", "", 0 } }, { "stall", { 100, R"({"value":"whole"})", "", 20 } },
                { "declared", { 5000, "", " ", 20 } }, { "flood", { 0, "", std::string(100, ' '), 1 } },
                { "drip", { 0, " ", " ", 50 } } };
            const auto [declared, head, drip, pace] = bad.at(req.matches[1]);
            const auto send = [=](size_t, httplib::DataSink& sink) {
                bool open = head.empty() || sink.write(head.data(), head.size());
                for (auto until = std::chrono::steady_clock::now() + 2s; open && pace && std::chrono::steady_clock::now() < until;)
                    std::this_thread::sleep_for(std::chrono::milliseconds(pace)), open = drip.empty() || sink.write(drip.data(), drip.size());
                return false; // the connection closes before the reply is complete
            };
            if (declared)
                return res.set_content_provider(declared, "application/octet-stream", [send](size_t o, size_t, auto& s) { return send(o, s); });
            res.set_chunked_content_provider("application/octet-stream", send); // never compressed (held back)
        });
        server.reply("GET", "/api/recall/upcoming-meetings", 200);
        server.reply("GET", "/api/v2/meeting-notes/7", 200);
        server.start();
    }
    void TearDown() override
    {
        client.setTimeout(60000), client.setLimits({});
        client.network().clearConnectionCache();
    }

    APIClient& client = APIClient::shared();
    TestServer server;
    std::string nextBody;
};

}

TEST_F(APIClientTest, ErrorStatusesAreLoggedWithTruncatedBodiesAndMapped)
{
    const std::tuple<int, std::string, QString, QString> cases[] = {
        { 401, "expired", u"Session expired, please sign in again"_s, u"expired"_s },
        { 500, std::string(1500, 'a') + std::string(500, 'b'), u"Server error (500)"_s, QString(500, u'a') },
        { 503, std::string(36, 'x') + "\xff", u"Server error (503)"_s, u"<binary 37B>"_s },
    };
    for (const auto& [status, body, description, logged] : cases) {
        Log::Capture log;
        nextBody = body;
        const QString path = u"/status/%1"_s.arg(status);
        const EQAPIError e = apiError([&] { await(client.get<Echo>(server.url(path), u"t"_s)); });
        EXPECT_EQ(e.description(), description);
        EXPECT_EQ(e.kind(), status == 401 ? EQAPIError::Unauthorized : EQAPIError::HttpError);
        if (e.is(EQAPIError::HttpError))
            EXPECT_EQ(e.status(), status);
        EXPECT_EQ(log.lines(), QStringList { u"[APIClient] HTTP %1 from %2: "_s.arg(status).arg(path) + logged });
    }
}

TEST_F(APIClientTest, UndecodableRepliesAreDecodingErrorsWithTheDecodeLine)
{
    const std::string bodies[] = { "", R"({"value":"o)", R"(["value"])",
        std::string(2'500'000, '[') + std::string(2'500'000, ']'), R"({"other":")" + std::string(400, 'z') + "\"}" };
    for (const std::string& body : bodies) {
        Log::Capture log;
        nextBody = body;
        const EQAPIError e = apiError([&] { await(client.get<Echo>(server.url(u"/status/200"_s), u"t"_s)); });
        EXPECT_TRUE(e.is(EQAPIError::DecodingError) && e.description().startsWith(u"Data error: "_s))
            << body.substr(0, 9);
        EXPECT_EQ(log.lines(),
            QStringList {
                u"[APIClient] decode error for /status/200: "_s + QString::fromStdString(body.substr(0, 300)) });
        if (body.starts_with(R"({"other")"))
            EXPECT_TRUE(e.description().contains(u"value"_s)) << "the missing key is named";
    }
}

TEST_F(APIClientTest, RepliesCutStalledOversizedOrDrippingAreNetworkErrors)
{
    client.setTimeout(300), client.setLimits({ 1000, 1s });
    const std::pair<const char*, QString> cases[] = { { "cut", u"Network error: Connection closed"_s },
        { "stall", u"Network error: Operation canceled"_s },
        { "declared", u"Network error: The reply is larger than 1000 bytes"_s },
        { "flood", u"Network error: The reply is larger than 1000 bytes"_s },
        { "drip", u"Network error: No complete reply within 1 s"_s } };
    for (const auto& [path, description] : cases) {
        const EQAPIError e = apiError([&] { await(client.get<Echo>(server.url(u"/bad/"_s + path), u"t"_s)); });
        EXPECT_EQ(e.description(), description) << path;
    }
}

TEST_F(APIClientTest, EndpointsCheckTheOriginAndQueryValuesArriveIntact)
{
    for (const char* bad : { "not a url", "/relative", "https://host/with/path" })
        EXPECT_FALSE(Endpoints::originProblem(QString::fromLatin1(bad)).isEmpty()) << bad;
    EXPECT_TRUE(Endpoints::originProblem(u"http://127.0.0.1:8787"_s).isEmpty());
    Endpoints::setServiceOrigin(QUrl(u"https://api.echoquill.app/"_s));
    EXPECT_EQ(Endpoints::meetingNoteDetailURL(u"42"_s, u"desktop"_s).toString(),
        u"https://api.echoquill.app/api/v2/meeting-notes/42?source=desktop"_s);
    Endpoints::setServiceOrigin(server.origin());
    const QString tricky = u"Zoë & Łukasz=1+2 #x"_s;
    await(client.get<Any>(Endpoints::upcomingMeetingsURL(tricky, 20), u"t"_s));
    await(client.get<Any>(Endpoints::meetingNoteDetailURL(u"7"_s, u"a&b c"_s), u"t"_s));
    const auto got = server.received();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(QString::fromStdString(got[0].query), u"limit=20&tarnwick_user_id="_s + tricky);
    EXPECT_EQ(got[1].query, "source=a&b c");
}
