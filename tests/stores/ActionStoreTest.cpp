#include "ActionStore.h"
#include "APIClient.h"
#include "Await.h"
#include "DateText.h"
#include "Endpoints.h"
#include "TestServer.h"

#include <QTimeZone>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

// Noon on the calendar day `daysAgo` before today, in the user's zone.
QDateTime dayAt(int daysAgo)
{
    return QDateTime(DateText::today().addDays(-daysAgo), QTime(12, 0), QTimeZone(DateText::timeZoneId()));
}

QString item(qint64 meetingId, const char* id, const QDateTime& date, bool done = false, const char* source = "desktop")
{
    return QStringLiteral(R"({"id": "%1", "meeting_id": %2, "meetingSource": "%3", "meetingTitle": "Note %2",
        "meetingDate": "%4", "who": "Ann", "what": "Task %1", "due": null, "done": %5})")
        .arg(QString::fromUtf8(id))
        .arg(meetingId)
        .arg(QString::fromUtf8(source), date.toUTC().toString(Qt::ISODate), done ? u"true"_s : u"false"_s);
}

std::string listOf(const QStringList& items)
{
    return (uR"({"success": true, "data": [)"_s + items.join(u',') + u"]}"_s).toStdString();
}

class ActionStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DateText::setLocale("en_US");
        DateText::setTimeZone("America/New_York");
        server.reply("GET", "/api/v2/action-items", 200, listOf({}));
        server.server().Patch(R"(/api/v2/meeting-notes/.+)", [this](const httplib::Request&, httplib::Response& res) {
            patchArrived = true;
            for (int i = 0; holdPatch && i < 500; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            res.status = patchStatus;
            res.set_content(R"({"success": true})", "application/json");
        });
        server.start();
        Endpoints::setServiceOrigin(server.origin());
    }
    void TearDown() override
    {
        holdPatch = false;
        APIClient::shared().network().clearConnectionCache();
    }

    void list(int status, const std::string& body) { server.reply("GET", "/api/v2/action-items", status, body); }
    // The target of each update the service answered.
    std::vector<std::string> patchesSoFar() const
    {
        std::vector<std::string> out;
        for (const auto& r : server.received())
            if (r.method == "PATCH")
                out.push_back(r.target);
        return out;
    }
    QStringList doneFlags() const
    {
        QStringList out;
        for (const ActionListItem& i : store.items())
            out << ActionStore::identityOf(i) + (i.done ? u"=done"_s : u"=open"_s);
        return out;
    }

    TestServer server;
    std::atomic<int> patchStatus { 200 };
    std::atomic<bool> holdPatch { false };
    std::atomic<bool> patchArrived { false };
    ActionStore store { [] { return std::optional<QString>(u"tok"_s); } };
};

}

TEST_F(ActionStoreTest, ItemsWithTheSameIdInTwoNotesToggleIndependentlyAndAFailureRollsBackAfterAReload)
{
    list(200, listOf({ item(42, "a1", dayAt(0)), item(43, "a1", dayAt(0), false, "zoom&co") }));
    await(store.load());
    const ActionListItem first = store.items()[0], second = store.items()[1];

    await(store.toggle(second));
    EXPECT_EQ(doneFlags(), (QStringList { u"42_a1=open"_s, u"43_a1=done"_s }));
    EXPECT_EQ(patchesSoFar(), std::vector<std::string> { "/api/v2/meeting-notes/43/action-items/a1?source=zoom%26co" });
    ActionListItem gone = second;
    gone.meetingId = 44;
    await(store.toggle(gone));
    EXPECT_EQ(patchesSoFar().size(), 1u) << "an item that is not in the list sends nothing";

    // A refused toggle is rolled back on the item wherever a reload meanwhile put it.
    holdPatch = true, patchStatus = 500, patchArrived = false;
    auto pending = store.toggle(first);
    ASSERT_TRUE(waitUntil([&] { return patchArrived.load(); }));
    list(200, listOf({ item(43, "a1", dayAt(0), true, "zoom&co"), item(42, "a1", dayAt(0), true) }));
    await(store.load());
    holdPatch = false;
    await(std::move(pending));
    EXPECT_EQ(doneFlags(), (QStringList { u"43_a1=done"_s, u"42_a1=open"_s })) << "the service's order, replaced";
}

TEST_F(ActionStoreTest, SectionsAreTodayYesterdayThenDaysNewestFirstAndAToggleChangesOneRow)
{
    const auto at = [](int y, int m, int d) { return QDateTime(QDate(y, m, d), QTime(17, 0), Qt::UTC); };
    list(200,
        listOf({ item(1, "dec1", at(2024, 12, 1)), item(2, "feb28", at(2025, 2, 28)), item(3, "y", dayAt(1)),
            item(4, "mar3", at(2025, 3, 3)), item(5, "t1", dayAt(0)), item(6, "sep30", at(2025, 9, 30)),
            item(7, "oct1", at(2025, 10, 1)), item(8, "t2", dayAt(0).addSecs(-3600)), item(9, "ahead", dayAt(-3)) }));
    await(store.load());
    // The screen's model: each row with its section, and a toggle changes only its own row.
    ActionItemsModel& model = *store.sections();
    const auto cell = [&](int row, int role) { return model.data(model.index(row), role); };
    QStringList rows;
    for (int row = 0; row < model.rowCount(); ++row)
        rows << cell(row, ActionItemsModel::SectionRole).toString() + u':'
                + cell(row, ActionItemsModel::IdentityRole).toString();
    EXPECT_EQ(rows,
        (QStringList { u"Today:5_t1"_s, u"Today:8_t2"_s, u"Yesterday:3_y"_s,
            DateText::mediumDate(dayAt(-3)) + u":9_ahead"_s, u"Oct 1, 2025:7_oct1"_s, u"Sep 30, 2025:6_sep30"_s,
            u"Mar 3, 2025:4_mar3"_s, u"Feb 28, 2025:2_feb28"_s, u"Dec 1, 2024:1_dec1"_s }));
    int resets = 0;
    QList<int> changedRows;
    QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });
    QObject::connect(&model, &QAbstractItemModel::dataChanged, [&](const QModelIndex& from, const QModelIndex& to) {
        for (int r = from.row(); r <= to.row(); ++r)
            changedRows << r;
    });
    await(store.toggle(store.items()[2]));
    EXPECT_EQ(changedRows, QList<int> { 2 });
    EXPECT_TRUE(cell(2, ActionItemsModel::DoneRole).toBool());
    await(store.load());
    EXPECT_EQ(resets, 1) << "the service's list differs from the toggled one";
    await(store.load());
    EXPECT_EQ(resets, 1) << "an unchanged list is not rebuilt";

    list(200, R"({"success": true})");
    await(store.load());
    EXPECT_TRUE(store.items().isEmpty() && model.rowCount() == 0) << "a reply without data means no items";
}
