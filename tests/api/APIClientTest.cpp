#include "APIClient.h"
#include "Await.h"
#include "Endpoints.h"
#include "Log.h"
#include "LogExcerpt.h"
#include "QtPrinters.h"
#include "Raised.h"
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
        // Replies that break off after their headers: announced length (0: chunked), head, drip and its pace.
        server.server().Get("/bad/(\\w+)", [](const httplib::Request& req, httplib::Response& res) {
            const std::map<std::string, std::tuple<size_t, std::string, std::string, int>> bad
                = { { "cut", { 100, R"({"value":"whole"})", "", 0 } },
                      { "stall", { 100, R"({"value":"whole"})", "", 20 } }, { "declared", { 10'000'000, "", " ", 20 } },
                      { "flood", { 0, "", std::string(1 << 16, ' '), 1 } }, { "drip", { 0, " ", " ", 50 } } };
            const auto [declared, head, drip, pace] = bad.at(req.matches[1]);
            const auto send = [=](size_t, httplib::DataSink& sink) {
                bool open = head.empty() || sink.write(head.data(), head.size());
                for (auto until = std::chrono::steady_clock::now() + 4s;
                     open && pace && std::chrono::steady_clock::now() < until;)
                    std::this_thread::sleep_for(std::chrono::milliseconds(pace)),
                        open = drip.empty() || sink.write(drip.data(), drip.size());
                return false; // the connection closes before the reply is complete
            };
            if (declared)
                return res.set_content_provider(
                    declared, "application/octet-stream", [send](size_t o, size_t, auto& s) { return send(o, s); });
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

// A refused reply's one log line quotes at most 300 (2xx) or 500 characters, secrets redacted; a reply broken off
// after its headers (even when what came parses), too large or dripping past the total time is a network error.
TEST_F(APIClientTest, RefusedRepliesAreMappedAndQuotedRedactedAndBrokenOnesAreNetworkErrors)
{
    const auto status = [](int code) { return u"/status/%1"_s.arg(code); };
    const std::string nested = std::string(2'500'000, '[') + std::string(2'500'000, ']'),
                      many = std::string(1500, 'a') + 'b';
    // Where, the body it answers with, the error (a pattern), what the log quotes (empty: the body's head; none: no
    // line).
    const std::tuple<QString, std::string, QString, std::optional<QString>> cases[] = {
        { status(401), "expired", u"^Session expired, please sign in again$"_s, u""_s },
        { status(500), many, u"^Server error \\(500\\)$"_s, u""_s },
        { status(503), std::string(36, 'x') + "\xff", u"^Server error \\(503\\)$"_s, u"<binary 37B>"_s },
        { status(403),
            R"({"access_token":"a1","data":{"T\u006fken":{"x":[1]}},"otpCode":12,"error":"no","refresh_token":"cut)",
            u"^Server error \\(403\\)$"_s,
            uR"({"access_token":"<redacted>","data":{"T\u006fken":"<redacted>"},"otpCode":"<redacted>","error":"no","refresh_token":"<redacted>")"_s },
        { status(502), "bad\n[Upload] fake line\r\x1b", u"^Server error \\(502\\)$"_s,
            u"bad\\n[Upload] fake line\\r\\u001b"_s },
        { status(200), "", u"^Data error: "_s, u""_s },
        { status(200), R"({"value":"o)", u"^Data error: "_s, u""_s },
        { status(200), R"(["value"])", u"^Data error: "_s, u""_s },
        { status(200), nested, u"^Data error: "_s, u""_s },
        { status(200), R"({"other":")" + many + "\"}", u"^Data error: .*value"_s, u""_s },
        { u"/bad/cut"_s, {}, u"^Network error: Connection closed$"_s, std::nullopt },
        { u"/bad/stall"_s, {}, u"^Network error: Operation canceled$"_s, std::nullopt },
        { u"/bad/declared"_s, {}, u"^Network error: The reply is larger than 1 MB$"_s, std::nullopt },
        { u"/bad/flood"_s, {}, u"^Network error: The reply is larger than 1 MB$"_s, std::nullopt },
        { u"/bad/drip"_s, {}, u"^Network error: No complete reply within 2 s$"_s, std::nullopt },
    };
    for (const auto& [path, body, description, quoted] : cases) {
        Log::Capture log;
        const bool bad = path.startsWith(u"/bad/"_s);
        client.setTimeout(bad ? 1000 : 60000), client.setLimits(bad ? ReplyLimits { 1 << 20, 2s } : ReplyLimits {});
        nextBody = body;
        const EQAPIError e = raised<EQAPIError>([&] { await(client.get<Echo>(server.url(path), u"t"_s)); }).value();
        EXPECT_TRUE(QRegularExpression(description).match(e.description()).hasMatch())
            << e.description().toStdString() << " ← " << path.toStdString();
        const QString head = QString::fromStdString(body).left(path.endsWith(u"200"_s) ? 300 : 500);
        const QString line = (path.endsWith(u"200"_s) ? u"[APIClient] decode error for "_s + path
                                                      : u"[APIClient] HTTP %1 from %2"_s.arg(path.mid(8), path))
            + u": "_s + (quoted && quoted->isEmpty() ? head : quoted.value_or(QString()));
        EXPECT_EQ(log.lines(), quoted ? QStringList { line } : QStringList {}) << path.toStdString();
    }
}

TEST_F(APIClientTest, EndpointsCheckTheOriginAndQueryValuesArriveIntact)
{
    // What may be logged of an address that grants access by itself: its last path segment.
    EXPECT_EQ(std::pair(Log::lastSegment(u"https://b.example/c/m/upload_track.m4a?sig=s3cret#x"_s),
                  Log::lastSegment(u"https://b.example/c/m/?sig=s3cret"_s)),
        std::pair(u"upload_track.m4a"_s, u"m"_s));
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
