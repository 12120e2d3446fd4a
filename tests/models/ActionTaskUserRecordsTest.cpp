#include "ActionListItem.h"
#include "EQTask.h"
#include "EQUser.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

const QByteArray item = R"({"id":"a","meetingId":1,"meetingSource":"s","meetingTitle":"t",
    "meetingDate":"2024-05-01T09:30:00Z","who":"w","what":"x","done":true})";
const QByteArray task = R"({"id":"t","name":"Deploy","isActive":true,"yellowAfterSeconds":60,"redAfterSeconds":120,
    "statusChangedAt":"2024-05-01T09:30:00Z"})";
const QByteArray user = R"({"id":"u","name":"Ann","email":"a@x.io","freeCredits":3,"paidCredits":0,"topUpCredits":0,
    "currentStreak":1,"longestStreak":4,"isFounder":false})";

// `base` with one key set to a JSON value, or removed when the value is empty.
QByteArray with(const QByteArray& base, const QString& key, const QByteArray& value)
{
    QJsonObject o = QJsonDocument::fromJson(base).object();
    if (value.isEmpty())
        o.remove(key);
    else
        o[key] = QJsonDocument::fromJson("[" + value + "]").array().at(0);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

template <class T> bool decodes(const QByteArray& json)
{
    try {
        (void)Json::decode<T>(json);
        return true;
    } catch (const Json::DecodingError&) {
        return false;
    }
}

}

TEST(ActionListItem, ReadsSnakeCaseKeysAndExact64BitIds)
{
    const auto i = Json::decode<ActionListItem>(R"({"id": "a2", "meeting_id": 9007199254740993,
        "meeting_source": "zoom", "meeting_title": "Retro", "meeting_date": "2024-05-01T11:30:00+02:00", "who": "Bo",
        "what": "Book room", "due": "Friday", "done": true, "unknown": [1, 2]})");
    EXPECT_EQ(i.meetingId, 9007199254740993);
    EXPECT_EQ(
        QStringList({ i.meetingSource, i.meetingTitle, *i.due }), QStringList({ u"zoom"_s, u"Retro"_s, u"Friday"_s }));
    EXPECT_EQ(i.meetingDate, QDateTime(QDate(2024, 5, 1), QTime(9, 30), Qt::UTC));
}

TEST(AccountRecords, RequiredFieldsTypesAndDatesAreEnforced)
{
    using Items = QList<ActionListItem>;
    EXPECT_TRUE(decodes<Items>("[" + item + "]"));
    EXPECT_FALSE(decodes<Items>("[" + item + "," + with(item, u"done"_s, {}) + "]")) << "one row fails the list";
    EXPECT_FALSE(decodes<Items>("[" + with(item, u"meetingId"_s, "1.5") + "]"));
    EXPECT_FALSE(decodes<Items>("[" + with(item, u"meetingDate"_s, R"("2024-05-01")") + "]"));
    EXPECT_TRUE(decodes<EQTask>(task));
    EXPECT_TRUE(decodes<EQTask>(R"({"id":"t","name":"Deploy","is_active":false,"yellow_after_seconds":60,
        "red_after_seconds":120,"status_changed_at":"2024-05-01T09:30:00.5Z"})"));
    EXPECT_FALSE(decodes<EQTask>(with(task, u"statusChangedAt"_s, "1714555800")));
    EXPECT_FALSE(decodes<EQTask>(with(task, u"isActive"_s, "null")));
    EXPECT_TRUE(decodes<EQUser>(user)) << "the picture is optional";
    EXPECT_FALSE(decodes<EQUser>(with(user, u"freeCredits"_s, R"("3")")));
    EXPECT_FALSE(decodes<EQUser>(with(user, u"isFounder"_s, {})));
    EXPECT_FALSE(decodes<EQUser>("[]"));
}

TEST(EQUser, ReadsSnakeCaseAndKeepsThePictureOptional)
{
    const EQUser u = Json::decode<EQUser>(R"({"id":"u1","name":"Ann Lee","email":"ann@example.com","free_credits":3,
        "paid_credits":10,"top_up_credits":2,"current_streak":4,"longest_streak":9,"is_founder":true,
        "google_picture":"https://img.example.com/a.png"})");
    EXPECT_EQ(QList<qint64>({ u.freeCredits, u.paidCredits, u.topUpCredits, u.currentStreak, u.longestStreak }),
        QList<qint64>({ 3, 10, 2, 4, 9 }));
    EXPECT_TRUE(u.isFounder);
    EXPECT_EQ(u.googlePicture, u"https://img.example.com/a.png"_s);
    const EQUser noPicture = Json::decode<EQUser>(with(user, u"googlePicture"_s, "null"));
    EXPECT_FALSE(noPicture.googlePicture.has_value());
    EXPECT_TRUE(noPicture.googlePictureForQml().isNull());
}
