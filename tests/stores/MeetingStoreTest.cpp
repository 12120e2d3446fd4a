#include "MeetingStore.h"
#include "APIClient.h"
#include "Await.h"
#include "Endpoints.h"
#include "TestServer.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

std::string row(qint64 id, const QDateTime& created, const char* source = "desktop")
{
    return QStringLiteral(
        R"({"id": %1, "source": "%2", "title": "Note %1", "participants": [], "created_date_time": "%3"})")
        .arg(id)
        .arg(QLatin1StringView(source), created.toUTC().toString(Qt::ISODate))
        .toStdString();
}

const std::string listPath = "/api/v2/meeting-notes";
const std::string itemPath = R"(/api/v2/meeting-notes/(\d+)/action-items/(.+))";

class MeetingStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setRows({});
        server.reply("PATCH", itemPath, 200, R"({"success": true})");
        server.server().Get(
            R"(/api/v2/meeting-notes/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
                while (req.matches[1] == std::to_string(heldNote))
                    std::this_thread::sleep_for(5ms);
                if (req.matches[1] == "99") {
                    res.status = 500;
                    return;
                }
                res.set_content(R"({"data": {"id": )" + req.matches[1].str() + R"(, "title": "T", "participants": [],
                "createdDateTime": "2025-01-01T10:00:00Z", "decisions": [], "topics": [],
                "actionItems": [{"who": "A", "what": "Send notes", "done": false}, {"id": "i2", "who": "B", "what": "Book", "done": false},
                {"who": "C", "what": "Ship v2? Ask legal / #3 & 50%", "done": false}]}})",
                    "application/json");
            });
        server.start();
        Endpoints::setServiceOrigin(server.origin());
    }
    void TearDown() override { APIClient::shared().network().clearConnectionCache(); }

    void setRows(const std::vector<std::string>& rows)
    {
        std::string body = R"({"success": true, "data": [)";
        for (size_t i = 0; i < rows.size(); ++i)
            body += (i ? "," : "") + rows[i];
        server.reply("GET", listPath, 200, body + "]}");
    }

    TestServer server;
    // The detail of this note is answered only once it changes.
    std::atomic<qint64> heldNote = -1;
    MeetingStore store { [] { return std::optional<QString>(u"tok"_s); } };
};

}

TEST_F(MeetingStoreTest, DetailLoadsOnceWithTheNotesSourceAndItsErrorLastsUntilTheNextListLoad)
{
    setRows({ row(9, QDateTime::currentDateTimeUtc(), "zoom") });
    await(store.loadMeetings());
    server.clearReceived();

    await(store.loadDetail(9));
    await(store.loadDetail(9));
    await(store.loadDetail(12));
    auto got = server.received();
    ASSERT_EQ(got.size(), 2u) << "the loaded id is not fetched again";
    EXPECT_EQ(got[0].query, "source=zoom");
    EXPECT_EQ(got[1].query, "source=desktop") << "a note missing from the list defaults to desktop";
    ASSERT_TRUE(store.meetingDetail());
    EXPECT_EQ(store.meetingDetail()->id, 12);

    // An item without id is found by its text, which stays one path segment whatever it holds.
    const std::string text = "Ship v2? Ask legal / #3 & 50%";
    server.clearReceived();
    await(store.toggleActionItem(12, QString::fromStdString(text), true));
    EXPECT_TRUE(store.meetingDetail()->actionItems[2].done);
    got = server.received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(std::tuple(got[0].path, got[0].query, got[0].body),
        std::tuple("/api/v2/meeting-notes/12/action-items/" + text, "source=desktop", R"({"done":true})"));

    // A failed detail load shows its error over the previous note until the next list load.
    await(store.loadDetail(99));
    EXPECT_EQ(store.error(), u"Server error (500)"_s);
    EXPECT_EQ(store.meetingDetail()->id, 12);
    EXPECT_FALSE(store.isLoadingDetail());
    await(store.loadMeetings());
    EXPECT_EQ(store.error(), std::nullopt);

    // Open A, back, open B: whichever reply lands last, B's page gets B, with the spinner until then.
    for (const auto& [a, b, held] : { std::tuple(7, 8, 7), std::tuple(5, 6, 6) }) {
        heldNote = held;
        QCoro::Task<> first = store.loadDetail(a), second = store.loadDetail(b);
        await(a == held ? std::move(second) : std::move(first));
        EXPECT_EQ(store.isLoadingDetail(), a != held) << "A's reply came first: B is still on its way";
        heldNote = -1;
        await(a == held ? std::move(first) : std::move(second));
        EXPECT_EQ(std::pair(store.meetingDetail()->id, store.isLoadingDetail()), std::pair(qint64(b), false));
    }
}

TEST_F(MeetingStoreTest, ANoteIsFoundByItsIdOrWithoutOneByItsTime)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    setRows({ row(41, now.addDays(-30)), row(5, now.addSecs(5)) });
    EXPECT_EQ(await(store.findNote(41, now))->id, 41) << "by its id, however old";
    EXPECT_EQ(await(store.findNote(std::nullopt, now))->id, 5) << "the first made since the upload began";
    EXPECT_FALSE(await(store.findNote(7, now)));
}
