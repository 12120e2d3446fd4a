#include "MeetingNoteDetail.h"
#include "PendingUpload.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
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

TEST(Records, DetailDecodingRules)
{
    const auto d
        = Json::decode<MeetingNoteDetail>(detailWith(R"(, "actionItems": [{"who": "Bo", "what": "Write", "done": false},
        {"id": "x1", "who": "Cy", "what": "Test", "due": "Fri", "done": true}], "properties": {"speakers": 2, "duration_seconds": 61})"));
    EXPECT_EQ(d.actionItems.size(), 2);
    EXPECT_EQ(d.actionItems[0].key(), u"Write"_s) << "an item without id is keyed by its text";
    EXPECT_EQ(d.actionItems[1].key(), u"x1"_s);
    EXPECT_FALSE(d.topics[0].bullets) << "null bullets are absent";
    EXPECT_FALSE(d.topics[1].bullets) << "missing bullets are absent";
    EXPECT_EQ(d.topics[2].bullets, QStringList()) << "empty bullets stay empty, not absent";
    EXPECT_EQ(d.properties->durationSeconds, 61);

    EXPECT_TRUE(Json::decode<MeetingNoteDetail>(detailWith(R"(, "actionItems": [])")).actionItems.isEmpty());
    EXPECT_THROW(Json::decode<MeetingNoteDetail>(detailWith("")), Json::DecodingError) << "actionItems is required";
    EXPECT_THROW(Json::decode<MeetingNoteDetail>(detailWith(R"(, "actionItems": [{"what": "no who", "done": false}])")),
        Json::DecodingError);
}

TEST(Records, UploadStatusLabelsTheScreensDoNotShow)
{
    // The screens show the other stages' labels; these are the ones they do not.
    const std::pair<UploadStatus, QString> labels[]
        = { { UploadStatus::idle(), u""_s }, { UploadStatus::processing(7), u"Processing…"_s },
              { UploadStatus::done(), u"Ready"_s }, { UploadStatus::failed(u""_s), u"Failed: "_s } };
    for (const auto& [status, label] : labels)
        EXPECT_EQ(status.label(), label);
}

TEST(Records, PendingUploadDisplayName)
{
    const std::pair<QString, QString> names[] = {
        { u"mic_track.m4a"_s, u""_s },
        { u" Meeting_Weekly sync.wav "_s, u"Weekly sync"_s },
        { u"Session_2025-01-02_10-00-00-000_AB12CD"_s, u"2025-01-02_10-00-00-000_AB12CD"_s },
        { u"\tMEETING_x.M4A"_s, u"MEETING_x.M4A"_s },
        { u""_s, u""_s },
        { u"a\n"_s, u"a\n"_s },
    };
    for (const auto& [file, display] : names) {
        PendingUpload p;
        p.fileName = file;
        EXPECT_EQ(p.displayName(), display) << file.toStdString();
    }
}
