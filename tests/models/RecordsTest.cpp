#include "ActionListItem.h"
#include "EQTask.h"
#include "EQUser.h"
#include "MeetingNote.h"
#include "MeetingNoteDetail.h"
#include "PendingUpload.h"

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

const char* detailWith(const char* extra)
{
    static std::string json;
    json = std::string(
               R"({"id": 5, "title": "Sync", "participants": ["Ann"], "created_date_time": "2025-01-02T03:04:05Z",
                          "decisions": ["Ship"], "topics": [{"title": "A", "bullets": null}, {"title": "B"}, {"title": "C", "bullets": []}])")
        + extra + "}";
    return json.c_str();
}
}

TEST(AccountRecords, RequiredFieldsTypesAndDatesAreEnforced)
{
    using Items = QList<ActionListItem>;
    EXPECT_TRUE(decodes<Items>("[" + item + "]"));
    EXPECT_FALSE(decodes<Items>("[" + item + "," + with(item, u"done"_s, {}) + "]")) << "one row fails the list";
    // The reader's type and date rules are its own test's; here, what each record requires.
    EXPECT_TRUE(decodes<EQTask>(task));
    EXPECT_FALSE(decodes<EQTask>(with(task, u"isActive"_s, "null")));
    EXPECT_TRUE(decodes<EQUser>(user)) << "the picture is optional";
    EXPECT_FALSE(decodes<EQUser>(with(user, u"isFounder"_s, {})));

    const EQUser u = Json::decode<EQUser>(R"({"id":"u1","name":"Ann Lee","email":"ann@example.com","free_credits":3,
        "paid_credits":10,"top_up_credits":2,"current_streak":4,"longest_streak":9,"is_founder":true})");
    EXPECT_EQ(QList<qint64>({ u.freeCredits, u.paidCredits, u.topUpCredits, u.currentStreak, u.longestStreak }),
        QList<qint64>({ 3, 10, 2, 4, 9 }));
    EXPECT_TRUE(u.isFounder);
    EXPECT_TRUE(u.googlePictureForQml().isNull()) << "no picture";
}

TEST(MeetingNote, DecodesEitherKeyFormAndDerivesLiveAndListKey)
{
    const auto notes = Json::decode<QList<MeetingNote>>(R"([
        {"id": 42, "source": "abc", "title": "Standup", "participants": [], "created_date_time": "2024-05-01T09:30:00Z"},
        {"id": 42, "source": "zoom", "title": "Standup", "participants": ["Ann"], "createdDateTime": "2024-05-01T09:30:00.1Z", "status": "recording"},
        {"id": 7, "title": "Retro", "participants": ["Bo"], "createdDateTime": "2024-05-01T09:30:00Z", "status": "Recording"},
        {"id": 8, "title": "Plan", "participants": [], "createdDateTime": "2024-05-01T09:30:00Z", "status": "joining"}
    ])");
    QStringList keys;
    QList<bool> live;
    for (const MeetingNote& n : notes)
        keys << n.listKey(), live << n.isLive();
    EXPECT_EQ(keys, QStringList({ u"abc-42"_s, u"zoom-42"_s, u"u-7"_s, u"u-8"_s }));
    EXPECT_EQ(live, QList<bool>({ false, true, false, true })) << "the status comparison is case-sensitive";
}

TEST(Records, DetailDecodingRules)
{
    const auto d
        = Json::decode<MeetingNoteDetail>(detailWith(R"(, "actionItems": [{"who": "Bo", "what": "Write", "done": false},
        {"id": "x1", "who": "Cy", "what": "Test", "due": "Fri", "done": true}], "properties": {"speakers": 2, "duration_seconds": 61})"));
    ASSERT_EQ(d.actionItems.size(), 2);
    EXPECT_EQ(d.actionItems[0].key() + u' ' + d.actionItems[1].key(), u"Write x1"_s) << "without id, keyed by text";
    EXPECT_TRUE(!d.topics[0].bullets && !d.topics[1].bullets) << "null or missing bullets are absent";
    EXPECT_EQ(d.topics[2].bullets, QStringList()) << "empty bullets stay empty, not absent";
    EXPECT_EQ(d.properties->durationSeconds, 61);

    EXPECT_TRUE(Json::decode<MeetingNoteDetail>(detailWith(R"(, "actionItems": [])")).actionItems.isEmpty());
    EXPECT_THROW(Json::decode<MeetingNoteDetail>(detailWith("")), Json::DecodingError) << "actionItems is required";
    EXPECT_THROW(Json::decode<MeetingNoteDetail>(detailWith(R"(, "actionItems": [{"what": "no who", "done": false}])")),
        Json::DecodingError);
}

TEST(Records, PendingUploadDisplayName)
{
    const std::pair<QString, QString> names[]
        = { { u"mic_track.m4a"_s, u""_s }, { u" Meeting_Weekly sync.wav "_s, u"Weekly sync"_s },
              { u"Session_2025-01-02_10-00-00-000_AB12CD"_s, u"2025-01-02_10-00-00-000_AB12CD"_s },
              { u"\tMEETING_x.M4A"_s, u"MEETING_x.M4A"_s }, { u""_s, u""_s }, { u"a\n"_s, u"a\n"_s } };
    for (const auto& [file, display] : names) {
        PendingUpload p;
        p.fileName = file;
        EXPECT_EQ(p.displayName(), display) << file.toStdString();
    }
}
