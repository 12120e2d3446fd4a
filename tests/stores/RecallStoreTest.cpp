#include "RecallStore.h"
#include "APIClient.h"
#include "Await.h"
#include "Endpoints.h"
#include "TestServer.h"

#include <QJsonObject>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

class RecallStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server.reply("GET", "/api/recall/settings", 200, R"({"success": true})");
        server.reply("POST", "/api/recall/meeting-bot-preference", 200);
        server.start();
        Endpoints::setServiceOrigin(server.origin());
    }
    void TearDown() override { APIClient::shared().network().clearConnectionCache(); }

    QJsonObject lastBody() const { return jsonObject(server.received().empty() ? "" : server.received().back().body); }

    void settings(int status, const std::string& body) { server.reply("GET", "/api/recall/settings", status, body); }

    TestServer server;
    RecallStore store { [] { return std::optional<QString>(u"tok"_s); } };
};

const UpcomingMeeting bareMeeting { .id = u"ev-9"_s, .group = u"Today"_s, .title = u"Weekly"_s };

}

TEST_F(RecallStoreTest, SettingsDefaultToAutoJoinAndAFailureChangesNothing)
{
    // Without a token the request still goes out, unsigned, and fails at the service.
    RecallStore signedOut([] { return std::optional<QString>(); });
    settings(401, "{}");
    await(signedOut.loadSettings());
    EXPECT_FALSE(server.received().at(0).hasHeader("Authorization"));
    EXPECT_FALSE(signedOut.isLoaded());

    EXPECT_TRUE(store.autoJoinEnabled());
    EXPECT_FALSE(store.isLoaded());
    settings(200, R"({"success": true})");
    await(store.loadSettings());
    EXPECT_TRUE(store.autoJoinEnabled()) << "a reply without the key keeps auto-join on";
    EXPECT_TRUE(store.isLoaded());
    EXPECT_EQ(server.received().at(1).header("Authorization"), "Bearer tok");

    settings(200, R"({"auto_join_enabled": false})");
    await(store.loadSettings());
    EXPECT_FALSE(store.autoJoinEnabled());
    settings(200, R"({"autoJoinEnabled": null})");
    await(store.loadSettings());
    EXPECT_TRUE(store.autoJoinEnabled()) << "null counts as absent";
}

TEST_F(RecallStoreTest, PreferenceBodyLeavesOutWhatTheMeetingLacks)
{
    await(store.toggleMeetingBot(bareMeeting, true));
    EXPECT_EQ(lastBody(),
        (QJsonObject {
            { u"recall_calendar_event_id"_s, u"ev-9"_s }, { u"bot_enabled"_s, true }, { u"title"_s, u"Weekly"_s } }));

    UpcomingMeeting full = bareMeeting;
    full.meetingUrl = u"https://meet.google.com/abc"_s;
    full.startTime = u"2025-03-05T16:30:00+01:00"_s;
    full.endTime = u"2025-03-05T17:00:00.000Z"_s;
    server.reply("POST", "/api/recall/meeting-bot-preference", 200, R"({"success": true, "signal": "bot_scheduled"})");
    await(store.toggleMeetingBot(full, false));
    EXPECT_EQ(lastBody(),
        (QJsonObject { { u"recall_calendar_event_id"_s, u"ev-9"_s }, { u"bot_enabled"_s, false },
            { u"meeting_url"_s, u"https://meet.google.com/abc"_s }, { u"start_time"_s, u"2025-03-05T16:30:00+01:00"_s },
            { u"end_time"_s, u"2025-03-05T17:00:00.000Z"_s }, { u"title"_s, u"Weekly"_s } }));
    EXPECT_EQ(server.received().back().header("Authorization"), "Bearer tok");
}
