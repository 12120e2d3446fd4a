#include "MeetingNote.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(MeetingNote, DecodesEitherKeyFormAndDerivesLiveAndListKey)
{
    const auto notes = Json::decode<QList<MeetingNote>>(R"([
        {"id": 42, "source": "abc", "title": "Standup", "participants": [], "created_date_time": "2024-05-01T09:30:00Z"},
        {"id": 42, "source": "zoom", "title": "Standup", "participants": ["Ann"], "createdDateTime": "2024-05-01T09:30:00.1Z", "status": "recording"},
        {"id": 7, "title": "Retro", "participants": ["Bo"], "createdDateTime": "2024-05-01T09:30:00Z", "status": "Recording"},
        {"id": 8, "title": "Plan", "participants": [], "createdDateTime": "2024-05-01T09:30:00Z", "status": "joining"}
    ])");
    ASSERT_EQ(notes.size(), 4);
    EXPECT_EQ(notes[0].listKey(), u"abc-42"_s);
    EXPECT_EQ(notes[1].listKey(), u"zoom-42"_s);
    EXPECT_EQ(notes[2].listKey(), u"u-7"_s);
    EXPECT_FALSE(notes[0].isLive());
    EXPECT_TRUE(notes[1].isLive());
    EXPECT_FALSE(notes[2].isLive()) << "the status comparison is case-sensitive";
    EXPECT_TRUE(notes[3].isLive());
}
