#include "APIClient.h"
#include "ActionStore.h"
#include "Await.h"
#include "CalendarStore.h"
#include "DevServerProcess.h"
#include "Endpoints.h"
#include "Log.h"
#include "RecallStore.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// The calendar, meeting-bot and action stores against the local service's demo account.
class StoresAgainstDevServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.isRunning());
        Endpoints::setServiceOrigin(server.origin());
        const QJsonValue session = server.control("POST", "/__dev/token", {{u"email"_s, DevServerProcess::demoEmail}});
        token = session[u"token"_s].toString();
        userId = session[u"user"_s][u"id"_s].toString();
        ASSERT_FALSE(token.isEmpty());
        ASSERT_FALSE(userId.isEmpty());
    }
    void TearDown() override { APIClient::shared().network().clearConnectionCache(); }

    [[nodiscard]] TokenProvider tokens() const
    {
        return [t = token] { return std::optional(t); };
    }
    static UpcomingMeeting meeting(const CalendarStore &store, const QString &id)
    {
        for (const UpcomingMeeting &m : store.meetings())
            if (m.id == id)
                return m;
        ADD_FAILURE() << "no meeting " << id.toStdString();
        return {};
    }

    DevServerProcess server;
    QString token;
    QString userId;
};

}

TEST_F(StoresAgainstDevServer, CalendarAndBotSwitchReachTheService)
{
    CalendarStore calendar(tokens());
    await(calendar.load(userId));
    EXPECT_TRUE(calendar.calendarConnected());
    EXPECT_FALSE(calendar.calendarNeedsReauth());
    ASSERT_EQ(calendar.meetings().size(), 6);
    EXPECT_EQ(calendar.meetings()[0].id, u"evt-standup"_s);
    EXPECT_EQ(calendar.meetings()[0].group, u"Now"_s);
    EXPECT_EQ(meeting(calendar, u"evt-northwind"_s).source, CalendarSource::outlook);
    EXPECT_EQ(meeting(calendar, u"evt-northwind"_s).people, (QStringList{u"dana@northwind.test"_s, u"sam@northwind.test"_s}));
    EXPECT_TRUE(meeting(calendar, u"evt-vendor"_s).declined);
    const UpcomingMeeting focus = meeting(calendar, u"evt-focus"_s);
    EXPECT_FALSE(focus.bot);

    RecallStore recall(tokens());
    await(recall.loadSettings());
    EXPECT_TRUE(recall.isLoaded());
    Log::Capture log;
    await(recall.toggleMeetingBot(focus, true));
    EXPECT_TRUE(log.contains(u"[RecallStore] meetingBot signal: scheduled for evt-focus"_s)) << log.lines().join(u'\n').toStdString();

    await(calendar.load(userId));
    EXPECT_TRUE(meeting(calendar, u"evt-focus"_s).bot) << "the service kept the switch";

    server.control("POST", "/__dev/calendar", {{u"needsReauth"_s, true}});
    await(calendar.load(userId));
    EXPECT_TRUE(calendar.calendarNeedsReauth());
    EXPECT_EQ(calendar.meetings().size(), 6);
}

TEST_F(StoresAgainstDevServer, ATickMadeInTheClientIsSeenByTheService)
{
    ActionStore actions(tokens());
    await(actions.load());
    ASSERT_FALSE(actions.items().isEmpty());
    const ActionListItem first = actions.items()[0];
    await(actions.toggle(first));
    EXPECT_EQ(actions.items()[0].done, !first.done);

    ActionStore fresh(tokens());
    await(fresh.load());
    ASSERT_EQ(fresh.items().size(), actions.items().size());
    EXPECT_EQ(ActionStore::identityOf(fresh.items()[0]), ActionStore::identityOf(first));
    EXPECT_EQ(fresh.items()[0].done, !first.done);

    // A refused tick is rolled back here and leaves the service's value alone.
    server.control("POST", "/__dev/faults", {{u"path"_s, u"/api/v2/meeting-notes/*"_s}, {u"method"_s, u"PATCH"_s}, {u"status"_s, 500}});
    await(fresh.toggle(fresh.items()[0]));
    EXPECT_EQ(fresh.items()[0].done, !first.done);
    await(actions.load());
    EXPECT_EQ(actions.items()[0].done, !first.done);
}
