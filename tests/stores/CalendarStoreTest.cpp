#include "CalendarStore.h"
#include "APIClient.h"
#include "Await.h"
#include "DateText.h"
#include "Endpoints.h"
#include "Log.h"
#include "TestServer.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

const char* twoMeetings = R"({"success": true, "meetings": [
    {"calendarEventId": "ev-1", "title": "Planning", "startTime": "2030-01-01T15:00:00Z", "durationMinutes": 30},
    {"calendar_event_id": "ev-2", "title": "Declined review", "declined": true, "platform": "Microsoft Teams"}]})";

const std::string statusPath = "/api/recall/calendar/status";
const std::string meetingsPath = "/api/recall/upcoming-meetings";

class CalendarStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DateText::setLocale("en_US");
        DateText::setTimeZone("America/New_York");
        server.reply("GET", statusPath, 200, R"({"connected": true})");
        server.reply("GET", meetingsPath, 200, twoMeetings);
        server.start();
        Endpoints::setServiceOrigin(server.origin());
    }
    void TearDown() override { APIClient::shared().network().clearConnectionCache(); }

    std::vector<std::string> paths() const
    {
        std::vector<std::string> out;
        for (const auto& r : server.received())
            out.push_back(r.path);
        return out;
    }
    QStringList ids() const
    {
        QStringList out;
        for (const UpcomingMeeting& m : store.meetings())
            out << m.id;
        return out;
    }

    void status(int code, const std::string& body) { server.reply("GET", statusPath, code, body); }
    void meetings(int code, const std::string& body) { server.reply("GET", meetingsPath, code, body); }

    TestServer server;
    CalendarStore store { [] { return std::optional<QString>(u"tok"_s); } };
};

}

TEST_F(CalendarStoreTest, LoadsConvertedMeetingsInTheServicesOrderAndAnnouncesOnlyChanges)
{
    CalendarStore signedOut([] { return std::optional<QString>(); });
    int loading = 0, changes = 0;
    for (CalendarStore* s : { &signedOut, &store })
        QObject::connect(s, &CalendarStore::isLoadingChanged, [&] { ++loading; });
    QObject::connect(&store, &CalendarStore::meetingsChanged, [&] { ++changes; });
    await(signedOut.load(u"u1"_s));
    await(store.load(QString()));
    EXPECT_EQ(loading + changes, 0) << "no token or no user sends nothing";
    EXPECT_TRUE(server.received().empty());

    await(store.load(u"user 7&x"_s));
    EXPECT_TRUE(store.calendarConnected());
    EXPECT_EQ(ids(), (QStringList { u"ev-1"_s, u"ev-2"_s })) << "declined meetings stay, nothing is sorted";
    EXPECT_EQ(store.meetings()[0].duration, u"30m"_s);
    EXPECT_EQ(store.meetings()[1].source, CalendarSource::outlook);
    EXPECT_EQ(store.meetingList()[1].value<UpcomingMeeting>(), store.meetings()[1]);
    const auto got = server.received();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].path, statusPath);
    EXPECT_EQ(got[1].target, meetingsPath + "?tarnwick_user_id=user%207%26x&limit=20");
    for (const auto& r : got)
        EXPECT_EQ(r.header("Authorization"), "Bearer tok");
    await(store.load(u"u1"_s));
    EXPECT_EQ(changes, 1) << "an unchanged list is not announced";

    meetings(200, R"({"meetings": [{"title": "Ad hoc"}]})");
    await(store.load(u"u1"_s));
    const QString first = store.meetings()[0].id;
    await(store.load(u"u1"_s));
    EXPECT_NE(store.meetings()[0].id, first) << "a meeting without id is new each time";
    EXPECT_EQ(changes, 3);

    // A disconnected calendar empties the list without asking for meetings.
    status(200, R"({"connected": false})");
    server.clearReceived();
    await(store.load(u"u1"_s));
    EXPECT_TRUE(store.meetings().isEmpty());
    EXPECT_EQ(changes, 4);
    EXPECT_FALSE(store.calendarConnected() || store.calendarNeedsReauth() || store.isLoading());
    EXPECT_EQ(paths(), std::vector<std::string> { statusPath });
}

TEST_F(CalendarStoreTest, OnlyTheStatusReplyClearsTheReauthorizationFlag)
{
    status(200, R"({"connected": true, "needs_reauth": true})");
    await(store.load(u"u1"_s));
    EXPECT_TRUE(store.calendarNeedsReauth()) << "a successful meetings fetch does not clear it";
    EXPECT_EQ(store.meetings().size(), 2);

    // A failed status request keeps both flags, so the meetings are still asked for.
    for (const auto& [code, body] :
        { std::pair<int, std::string> { 500, "{}" }, { 200, R"({"needsReauth": false})" } }) {
        status(code, body);
        server.clearReceived();
        await(store.load(u"u1"_s));
        EXPECT_TRUE(store.calendarConnected()) << code;
        EXPECT_TRUE(store.calendarNeedsReauth()) << code;
        EXPECT_EQ(paths(), (std::vector<std::string> { statusPath, meetingsPath })) << code;
    }

    status(200, R"({"connected": true, "needsReauth": null})");
    await(store.load(u"u1"_s));
    EXPECT_FALSE(store.calendarNeedsReauth());
}

TEST_F(CalendarStoreTest, RejectedMeetingsRequestAsksForReauthorizationAndKeepsTheOldList)
{
    await(store.load(u"u1"_s));
    const QList<UpcomingMeeting> before = store.meetings();
    Log::Capture log;

    meetings(401, "{}");
    await(store.load(u"u1"_s));
    EXPECT_TRUE(store.calendarNeedsReauth());
    EXPECT_EQ(store.meetings(), before);
    EXPECT_FALSE(store.isLoading());

    status(200, R"({"connected": true})");
    for (const auto& [code, body] :
        { std::pair<int, std::string> { 500, "{}" }, { 200, R"({"meetings": [{"startTime": "x"}]})" } }) {
        meetings(code, body);
        await(store.load(u"u1"_s));
        EXPECT_FALSE(store.calendarNeedsReauth()) << "other failures leave the flag to the status reply";
        EXPECT_EQ(store.meetings(), before);
    }
    EXPECT_FALSE(log.containsPrefix(u"[CalendarStore]"_s));

    meetings(200, R"({"success": true})");
    await(store.load(u"u1"_s));
    EXPECT_TRUE(store.meetings().isEmpty()) << "a reply without meetings means none";
}
