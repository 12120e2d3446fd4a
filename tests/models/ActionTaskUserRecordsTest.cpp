#include "ActionListItem.h"
#include "EQTask.h"
#include "EQUser.h"

#include <gtest/gtest.h>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

struct Case {
    const char *what;
    std::function<void()> decode;
    bool decodes;
};

void runCases(const std::vector<Case> &cases)
{
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.decodes)
            EXPECT_NO_THROW(c.decode());
        else
            EXPECT_THROW(c.decode(), Json::DecodingError);
    }
}

}

TEST(ActionListItem, ReadsEitherKeyFormWithOptionalDueAndRequiredDone)
{
    const auto items = Json::decode<QList<ActionListItem>>(R"([
        {"id": "a1", "meetingId": 12, "meetingSource": "desktop", "meetingTitle": "Standup",
         "meetingDate": "2024-05-01T09:30:00.123Z", "who": "Ann", "what": "Send notes", "due": null, "done": false},
        {"id": "a2", "meeting_id": 9007199254740993, "meeting_source": "zoom", "meeting_title": "Retro",
         "meeting_date": "2024-05-01T11:30:00+02:00", "who": "Bo", "what": "Book room", "due": "Friday", "done": true,
         "unknown": [1, 2]}
    ])");
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].meetingId, 12);
    EXPECT_FALSE(items[0].due.has_value()) << "null is absent";
    EXPECT_EQ(items[0].meetingDate, QDateTime(QDate(2024, 5, 1), QTime(9, 30, 0, 123), Qt::UTC));
    EXPECT_EQ(items[1].meetingId, 9007199254740993) << "64-bit ids stay exact";
    EXPECT_EQ(items[1].meetingSource, u"zoom"_s);
    EXPECT_EQ(items[1].meetingTitle, u"Retro"_s);
    EXPECT_EQ(items[1].meetingDate, QDateTime(QDate(2024, 5, 1), QTime(9, 30), Qt::UTC));
    EXPECT_EQ(items[1].due, u"Friday"_s);
    EXPECT_TRUE(items[1].done);
}

TEST(AccountRecords, RequiredFieldsTypesAndDatesAreEnforced)
{
    const auto item = [](const char *json) { return [json] { Json::decode<QList<ActionListItem>>(json); }; };
    const auto task = [](const char *json) { return [json] { Json::decode<EQTask>(json); }; };
    const auto user = [](const char *json) { return [json] { Json::decode<EQUser>(json); }; };
    runCases({
        {"action item without done fails the whole list",
            item(
                R"([{"id":"a","meetingId":1,"meetingSource":"s","meetingTitle":"t","meetingDate":"2024-05-01T09:30:00Z","who":"w","what":"x","done":true},
                  {"id":"b","meetingId":1,"meetingSource":"s","meetingTitle":"t","meetingDate":"2024-05-01T09:30:00Z","who":"w","what":"x"}])"),
            false},
        {"action item with a fractional meeting id",
            item(
                R"([{"id":"a","meetingId":1.5,"meetingSource":"s","meetingTitle":"t","meetingDate":"2024-05-01T09:30:00Z","who":"w","what":"x","done":true}])"),
            false},
        {"action item with a date-only meeting date",
            item(
                R"([{"id":"a","meetingId":1,"meetingSource":"s","meetingTitle":"t","meetingDate":"2024-05-01","who":"w","what":"x","done":true}])"),
            false},
        {"task with a plain ISO date",
            task(
                R"({"id":"t","name":"Deploy","isActive":true,"yellowAfterSeconds":60,"redAfterSeconds":120,"statusChangedAt":"2024-05-01T09:30:00Z"})"),
            true},
        {"task in snake_case without logo",
            task(
                R"({"id":"t","name":"Deploy","is_active":false,"yellow_after_seconds":60,"red_after_seconds":120,"status_changed_at":"2024-05-01T09:30:00.5Z"})"),
            true},
        {"task with an epoch number as date",
            task(
                R"({"id":"t","name":"Deploy","isActive":true,"yellowAfterSeconds":60,"redAfterSeconds":120,"statusChangedAt":1714555800})"),
            false},
        {"task with a null active flag",
            task(
                R"({"id":"t","name":"Deploy","isActive":null,"yellowAfterSeconds":60,"redAfterSeconds":120,"statusChangedAt":"2024-05-01T09:30:00Z"})"),
            false},
        {"user without googlePicture",
            user(
                R"({"id":"u","name":"Ann","email":"a@x.io","freeCredits":3,"paidCredits":0,"topUpCredits":0,"currentStreak":1,"longestStreak":4,"isFounder":false})"),
            true},
        {"user with credits as a string",
            user(
                R"({"id":"u","name":"Ann","email":"a@x.io","freeCredits":"3","paidCredits":0,"topUpCredits":0,"currentStreak":1,"longestStreak":4,"isFounder":false})"),
            false},
        {"user without the founder flag",
            user(
                R"({"id":"u","name":"Ann","email":"a@x.io","freeCredits":3,"paidCredits":0,"topUpCredits":0,"currentStreak":1,"longestStreak":4})"),
            false},
        {"user as an array", user(R"([])"), false},
    });
}

TEST(EQUser, ReadsSnakeCaseAndKeepsThePictureOptional)
{
    const EQUser u = Json::decode<EQUser>(R"({"id":"u1","name":"Ann Lee","email":"ann@example.com","free_credits":3,
        "paid_credits":10,"top_up_credits":2,"current_streak":4,"longest_streak":9,"is_founder":true,
        "google_picture":"https://img.example.com/a.png"})");
    EXPECT_EQ(u.name, u"Ann Lee"_s);
    EXPECT_EQ(u.freeCredits, 3);
    EXPECT_EQ(u.paidCredits, 10);
    EXPECT_EQ(u.topUpCredits, 2);
    EXPECT_EQ(u.currentStreak, 4);
    EXPECT_EQ(u.longestStreak, 9);
    EXPECT_TRUE(u.isFounder);
    EXPECT_EQ(u.googlePicture, u"https://img.example.com/a.png"_s);

    const EQUser noPicture = Json::decode<EQUser>(R"({"id":"u2","name":"Bo","email":"bo@example.com","freeCredits":0,
        "paidCredits":0,"topUpCredits":0,"currentStreak":0,"longestStreak":0,"isFounder":false,"googlePicture":null})");
    EXPECT_FALSE(noPicture.googlePicture.has_value());
    EXPECT_TRUE(noPicture.googlePictureForQml().isNull());
}
