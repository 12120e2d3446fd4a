#include "APIClient.h"
#include "Await.h"
#include "Endpoints.h"
#include "TestServer.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
struct Any {
    static Any fromJson(const Json::ObjectReader &) { return {}; }
};
}

TEST(Endpoints, OriginChecksAndPathJoining)
{
    EXPECT_TRUE(Endpoints::originProblem(u"https://api.echoquill.app"_s).isEmpty());
    EXPECT_TRUE(Endpoints::originProblem(u"http://127.0.0.1:8787"_s).isEmpty());
    EXPECT_FALSE(Endpoints::originProblem(u"not a url"_s).isEmpty());
    EXPECT_FALSE(Endpoints::originProblem(u"/relative"_s).isEmpty());
    EXPECT_FALSE(Endpoints::originProblem(u"https://host/with/path"_s).isEmpty());

    Endpoints::setServiceOrigin(QUrl(u"https://api.echoquill.app/"_s));
    EXPECT_EQ(Endpoints::url(u"/api/desktop/me"_s).toString(), u"https://api.echoquill.app/api/desktop/me"_s);
    EXPECT_EQ(Endpoints::meetingNoteDetailURL(u"42"_s, u"desktop"_s).toString(),
              u"https://api.echoquill.app/api/v2/meeting-notes/42?source=desktop"_s);
}

TEST(Endpoints, QueryValuesArriveIntactAtTheServer)
{
    TestServer server;
    std::string userId, limit, source;
    server.server().Get("/api/recall/upcoming-meetings", [&](const httplib::Request &req, httplib::Response &res) {
        userId = req.get_param_value("tarnwick_user_id");
        limit = req.get_param_value("limit");
        res.set_content("{}", "application/json");
    });
    server.server().Get("/api/v2/meeting-notes/7", [&](const httplib::Request &req, httplib::Response &res) {
        source = req.get_param_value("source");
        res.set_content("{}", "application/json");
    });
    server.start();
    Endpoints::setServiceOrigin(server.origin());

    const QString tricky = u"Zoë & Łukasz=1+2 #x"_s;
    const QUrl url = Endpoints::upcomingMeetingsURL(tricky, 20);
    EXPECT_TRUE(url.toString(QUrl::FullyEncoded).contains(u"tarnwick_user_id=Zo%C3%AB%20%26%20%C5%81ukasz%3D1%2B2%20%23x&limit=20"_s))
        << url.toString(QUrl::FullyEncoded).toStdString();
    await(APIClient::shared().get<Any>(url, u"t"_s));
    EXPECT_EQ(QString::fromStdString(userId), tricky);
    EXPECT_EQ(limit, "20");

    await(APIClient::shared().get<Any>(Endpoints::meetingNoteDetailURL(u"7"_s, u"a&b c"_s), u"t"_s));
    EXPECT_EQ(source, "a&b c");
    APIClient::shared().network().clearConnectionCache();
}
