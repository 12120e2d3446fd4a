#include "CalendarStore.h"
#include "APIClient.h"
#include "Await.h"
#include "DateText.h"
#include "Endpoints.h"
#include "TestServer.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

const char* twoMeetings = R"({"success": true, "meetings": [
    {"calendarEventId": "ev-1", "title": "Planning", "startTime": "2030-01-01T15:00:00Z", "durationMinutes": 30},
    {"calendar_event_id": "ev-2", "title": "Declined review", "declined": true, "platform": "Microsoft Teams"}]})";

// Wednesday, March 5, 2025, 10:00 AM in New York.
const QDateTime now(QDate(2025, 3, 5), QTime(15, 0), Qt::UTC);

UpcomingMeeting convert(const QString& fields, const QDateTime& at = now)
{
    const QString json = u"{\"title\": \"Sync\""_s + (fields.isEmpty() ? u""_s : u", "_s + fields) + u'}';
    return CalendarStore::convert(Json::decode<APIMeeting>(json.toUtf8()), at);
}

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

    // How many status and meetings requests were sent since the log was cleared.
    std::pair<size_t, size_t> loads() const { return { server.count(statusPath), server.count(meetingsPath) }; }
    void status(int code, const std::string& body) { server.reply("GET", statusPath, code, body); }
    void meetings(int code, const std::string& body) { server.reply("GET", meetingsPath, code, body); }

    TestServer server;
    CalendarStore store { [] { return std::optional<QString>(u"tok"_s); } };
};

}

TEST_F(CalendarStoreTest, LoadsConvertedMeetingsAndAnnouncesOnlyChanges)
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

    await(store.load(u"u1"_s));
    EXPECT_TRUE(store.calendarConnected());
    ASSERT_EQ(store.meetings().size(), 2) << "declined meetings stay";
    EXPECT_EQ(loads(), std::pair(size_t(1), size_t(1)));
    await(store.load(u"u1"_s));
    EXPECT_EQ(changes, 1) << "an unchanged list is not announced";

    // A disconnected calendar empties the list without asking for meetings.
    status(200, R"({"connected": false})");
    server.clearReceived();
    await(store.load(u"u1"_s));
    EXPECT_TRUE(store.meetings().isEmpty());
    EXPECT_EQ(changes, 2);
    EXPECT_FALSE(store.calendarConnected() || store.calendarNeedsReauth() || store.isLoading());
    EXPECT_EQ(loads(), std::pair(size_t(1), size_t(0)));
}

TEST_F(CalendarStoreTest, OnlyTheStatusReplyClearsTheReauthorizationFlagWhichARejectedMeetingsRequestSets)
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
        EXPECT_EQ(loads(), std::pair(size_t(1), size_t(1))) << code;
    }

    status(200, R"({"connected": true, "needsReauth": null})");
    await(store.load(u"u1"_s));
    EXPECT_FALSE(store.calendarNeedsReauth());

    // A rejected meetings request asks for it (the list it keeps, as under other failures, is checked with
    // every bad reply in the reliability tests).
    meetings(401, "{}");
    await(store.load(u"u1"_s));
    EXPECT_TRUE(store.calendarNeedsReauth());

    meetings(200, R"({"success": true})");
    await(store.load(u"u1"_s));
    EXPECT_TRUE(store.meetings().isEmpty()) << "a reply without meetings means none";
}

TEST_F(CalendarStoreTest, GroupTimeAndDurationFollowTheStartInTheUsersDayAndZone)
{
    // `now` is 10 AM in New York and already midnight of March 6 in Tokyo.
    const std::tuple<const char*, QString, QString, QString> cases[] = {
        { "America/New_York", u"\"startTime\": \"2025-03-05T14:30:00.123Z\""_s, u"Today"_s, u"9:30 AM"_s },
        { "America/New_York", u"\"startTime\": \"2025-03-05T16:30:00+01:00\""_s, u"Today"_s, u"10:30 AM"_s },
        { "America/New_York", u"\"start_time\": \"2025-03-06T03:30:00Z\""_s, u"Today"_s, u"10:30 PM"_s },
        { "America/New_York", u"\"startTime\": \"2025-03-05\""_s, u"Today"_s, u""_s },
        { "America/New_York", u"\"startTime\": \"2025-03-06T10:00:00Z\""_s, u"Tomorrow"_s, u"5:00 AM"_s },
        { "America/New_York", u"\"startTime\": \"2025-03-08T19:00:00Z\""_s, u"This week"_s, u"Sat · 2:00 PM"_s },
        { "America/New_York", u"\"startTime\": \"2025-03-06T19:00:00Z\", \"isLive\": true"_s, u"Now"_s, u"2:00 PM"_s },
        { "Asia/Tokyo", u"\"startTime\": \"2025-03-05T14:30:00Z\""_s, u"This week"_s, u"Wed · 11:30 PM"_s },
        { "Asia/Tokyo", u"\"startTime\": \"2025-03-06T10:00:00Z\""_s, u"Today"_s, u"7:00 PM"_s },
    };
    for (const auto& [zone, fields, group, time] : cases) {
        DateText::setTimeZone(zone);
        const UpcomingMeeting m = convert(fields);
        EXPECT_EQ(QStringList({ m.group, m.time }), QStringList({ group, time }))
            << zone << " " << fields.toStdString();
    }

    const std::pair<QString, QString> durations[] = { { u""_s, u""_s }, { u"\"durationMinutes\": -30"_s, u""_s },
        { u"\"durationMinutes\": 59"_s, u"59m"_s }, { u"\"durationMinutes\": 60"_s, u"1h"_s },
        { u"\"durationMinutes\": 61"_s, u"1h 1m"_s }, { u"\"duration_minutes\": 120"_s, u"2h"_s } };
    for (const auto& [fields, text] : durations)
        EXPECT_EQ(convert(fields).duration, text) << fields.toStdString();
}

TEST_F(CalendarStoreTest, LocationAndSourceComeFromThePlatformAndTheBotIsTheUsersChoiceBeforeTheSchedule)
{
    const std::tuple<QString, QString, CalendarSource, bool> cases[] = {
        { u"\"platformLabel\": \"\", \"platform\": \"Zoom\", \"botEnabled\": false, \"botScheduled\": true"_s, u""_s,
            CalendarSource::gWork, false },
        { u"\"platform\": \"Google Meet\", \"meetingUrl\": \"https://meet.google.com/x\""_s, u"Google Meet"_s,
            CalendarSource::gWork, false },
        { u"\"meeting_url\": \"https://meet.google.com/x\", \"botEnabled\": null, \"bot_scheduled\": true"_s,
            u"https://meet.google.com/x"_s, CalendarSource::gWork, true },
        { u""_s, u"Video call"_s, CalendarSource::gWork, false },
        { u"\"platform\": \"Microsoft Teams\", \"botEnabled\": true, \"botScheduled\": false"_s, u"Microsoft Teams"_s,
            CalendarSource::outlook, true },
        { u"\"platform\": \"MICROSOFT teams\""_s, u"MICROSOFT teams"_s, CalendarSource::outlook, false },
        { u"\"platform\": \"Teams\""_s, u"Teams"_s, CalendarSource::outlook, false },
        { u"\"platform\": \"Teams Live\""_s, u"Teams Live"_s, CalendarSource::gWork, false },
        { u"\"platformLabel\": \"Teams\", \"platform\": \"zoom\""_s, u"Teams"_s, CalendarSource::gWork, false },
    };
    for (const auto& [fields, location, source, bot] : cases) {
        const UpcomingMeeting m = convert(fields);
        EXPECT_EQ(std::tuple(m.location, m.source, m.bot), std::tuple(location, source, bot)) << fields.toStdString();
    }
}

TEST_F(CalendarStoreTest, FieldsAreCopiedPeopleAreNamesOrElseAddressesAndAMissingIdIsFresh)
{
    const UpcomingMeeting m = convert(uR"("calendar_event_id": "ev-1", "startTime": "2025-03-05T16:30:00+01:00",
        "endTime": "whenever", "meetingUrl": "https://meet.google.com/x", "isLive": true, "declined": true,
        "attendees": [{"name": "Ann", "email": "ann@x.org"}, {"name": "", "email": "bo@x.org"},
        {"name": null, "email": null}, {}, {"email": "cy@x.org"}, {"name": "Dee"}], "attendeeCount": 9)"_s);
    EXPECT_EQ(m.people, (QStringList { u"Ann"_s, u"bo@x.org"_s, u"cy@x.org"_s, u"Dee"_s }));
    // The start is the service's own text, not a reformatted date.
    EXPECT_EQ(QStringList({ m.id, m.title, m.meetingUrl.value_or(u"-"_s), m.startTime.value_or(u"-"_s),
                  m.endTime.value_or(u"-"_s) }),
        QStringList(
            { u"ev-1"_s, u"Sync"_s, u"https://meet.google.com/x"_s, u"2025-03-05T16:30:00+01:00"_s, u"whenever"_s }));
    EXPECT_TRUE(m.live && m.declined && !m.snippet);

    const UpcomingMeeting bare = convert(u""_s);
    EXPECT_FALSE(
        bare.meetingUrl || bare.startTime || bare.endTime || bare.live || bare.declined || !bare.people.isEmpty());
    static const QRegularExpression upperUuid(u"^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"_s);
    EXPECT_TRUE(upperUuid.match(bare.id).hasMatch()) << bare.id.toStdString();
    EXPECT_NE(convert(u""_s).id, bare.id) << "a meeting without id is new each time";

    EXPECT_THROW(Json::decode<APIMeeting>(R"({"startTime": "2025-03-05T14:30:00Z"})"), Json::DecodingError)
        << "the title is required";
}
