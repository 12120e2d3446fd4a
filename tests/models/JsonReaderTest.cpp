#include "JsonReader.h"
#include "IsoDate.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

struct Sample {
    QString name;
    std::optional<QString> nickname;
    qint64 count = 0;
    std::optional<QDateTime> seen;
    QJsonValue extra;

    static Sample fromJson(const Json::ObjectReader& r)
    {
        return { r.required<QString>("name"_L1), r.optional<QString>("nickName"_L1), r.required<qint64>("count"_L1),
            r.optional<QDateTime>("seen"_L1), r.optional<QJsonValue>("extra"_L1).value_or(QJsonValue()) };
    }
    bool operator==(const Sample&) const = default;
};

QString decodeFailure(const QByteArray& json)
{
    try {
        (void)Json::decode<Sample>(json);
    } catch (const Json::DecodingError& e) {
        return e.description();
    }
    return {};
}

}

TEST(JsonReader, ConvertsSnakeCaseKeysTheWayTheServiceSendsThem)
{
    const std::pair<QString, QString> cases[] = { { u"created_date_time"_s, u"createdDateTime"_s },
        { u"createdDateTime"_s, u"createdDateTime"_s }, { u"_meeting_id_"_s, u"_meetingId_"_s },
        { u"MEETING_ID"_s, u"meetingId"_s }, { u"a__b"_s, u"aB"_s }, { u"___"_s, u"___"_s }, { u""_s, u""_s } };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(Json::convertFromSnakeCase(in), out) << in.toStdString();
}

TEST(JsonReader, RequiredOptionalAndTypeRules)
{
    EXPECT_EQ(Json::decode<Sample>(R"({"name":"Ada","nick_name":"A","count":3,"extra":[1,{"a":2}]})"),
        (Sample { u"Ada"_s, u"A"_s, 3, std::nullopt, QJsonDocument::fromJson(R"([1,{"a":2}])").array() }));

    EXPECT_FALSE(Json::decode<Sample>(R"({"name":"Ada","nick_name":null,"count":1})").nickname);
    EXPECT_EQ(Json::decode<Sample>(R"({"name":"Ada","count":9007199254740993})").count, 9007199254740993LL);

    const std::pair<const char*, const char*> failures[] = { { R"({"count":1})", "\"name\"" },
        { R"({"name":null,"count":1})", "null" },
        { R"({"name":5,"count":1})", "Expected a string but found a number instead. (at \"name\")" },
        { R"({"name":"x","nickName":5,"count":1})", "nickName" }, { R"({"name":"x","count":1.5})", "does not fit" },
        { R"({"name":"x","count":"1"})", "Expected an integer" }, { "[1,2]", "Expected an object" },
        { R"({"name":"x",)", "not valid JSON" }, { R"({"count":1,"name":"x":}})", "not valid JSON" } };
    for (const auto& [json, part] : failures)
        EXPECT_TRUE(decodeFailure(json).contains(QLatin1StringView(part))) << json;
}

TEST(JsonReader, DatesAreStrictIsoWithOrWithoutFractions)
{
    const auto seen = [](const char* text) {
        return Json::decode<Sample>(QByteArray(R"({"name":"a","count":1,"seen":")") + text + "\"}").seen;
    };
    const QDateTime base(QDate(2024, 5, 1), QTime(9, 30), Qt::UTC);
    EXPECT_EQ(seen("2024-05-01T09:30:00.123456Z"), base.addMSecs(123));
    EXPECT_EQ(seen("2024-05-01T11:30:00+02:00"), base);

    for (const char* bad :
        { "2024-05-01", "2024-05-01T09:30:00", "2024-05-01T09:30:00.Z", "2024-05-01T09:30:00Zjunk" }) {
        const QString failure = decodeFailure(QByteArray(R"({"name":"a","count":1,"seen":")") + bad + "\"}");
        EXPECT_TRUE(failure.startsWith(u"Cannot parse date: "_s + QLatin1StringView(bad))) << failure.toStdString();
        EXPECT_TRUE(failure.contains(u"seen"_s)) << "the coding path names the field";
    }
    EXPECT_TRUE(decodeFailure(R"({"name":"a","count":1,"seen":17})").contains(u"Expected a date string"_s));
}

// That a list reads each row as it reads alone, and in place as through QJsonDocument, is the fuzz target's.
TEST(JsonReader, AFieldsOwnSpellingWinsAndAListFailsAtItsFirstBadRow)
{
    EXPECT_EQ(Json::decode<Sample>(R"({"name":"d","nickName":"D","nick_name":"X","count":4})").nickname, u"D"_s);
    EXPECT_EQ(Json::decode<Sample>(R"({"NAME":"no","name":"e","count":5,"NICK_NAME":"E"})").nickname, u"E"_s);
    try {
        (void)Json::decode<QList<Sample>>(R"([{"count":1,"name":"a"},{"count":2,"name":"b"},{"count":3,"namf":"c"}])");
        ADD_FAILURE() << "a row without its required key decoded";
    } catch (const Json::DecodingError& e) {
        EXPECT_EQ(e.kind(), Json::DecodingError::KeyNotFound);
        EXPECT_EQ(e.codingPath(), u"[2].name"_s);
    }
}

TEST(IsoDate, CalendarAndClockRulesAreQDateAndQTimeRules)
{
    // Every day of the month range around the calendar's corner cases, checked against QDate.
    for (const int year : { 1, 4, 100, 1600, 1900, 1969, 1970, 2000, 2023, 2024, 2100, 9999 }) {
        for (int month = 0; month <= 13; ++month) {
            for (int day = 0; day <= 32; ++day) {
                const QString text = u"%1-%2-%3T23:59:58.5-01:30"_s.arg(year, 4, 10, QChar(u'0'))
                                         .arg(month, 2, 10, QChar(u'0'))
                                         .arg(day, 2, 10, QChar(u'0'));
                const QDate date(year, month, day);
                const auto parsed = IsoDate::parse(text);
                ASSERT_EQ(parsed.has_value(), date.isValid()) << text.toStdString();
                if (parsed)
                    EXPECT_TRUE(*parsed == QDateTime(date, QTime(23, 59, 58, 500), Qt::UTC).addSecs(90 * 60)
                        && parsed->timeSpec() == Qt::UTC)
                        << text.toStdString();
            }
        }
    }
    EXPECT_FALSE(IsoDate::parse(u"0000-01-01T00:00:00Z"_s)) << "there is no year 0";
    for (const char* clock : { "T24:00:00Z", "T12:60:00Z", "T12:00:60Z", "T12:00:00+24:00", "T12:00:00+01:60" })
        EXPECT_FALSE(IsoDate::parse(u"2024-05-01"_s + QLatin1StringView(clock))) << clock;
    EXPECT_EQ(IsoDate::parse(u"1969-12-31T23:59:59.999Z"_s)->toMSecsSinceEpoch(), -1);
    EXPECT_EQ(IsoDate::parse(u"2024-03-01T00:30:00+01:00"_s), QDateTime(QDate(2024, 2, 29), QTime(23, 30), Qt::UTC));
}
