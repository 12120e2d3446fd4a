#include "APIClient.h"
#include "Await.h"
#include "DateText.h"
#include "DevServerProcess.h"
#include "Endpoints.h"
#include "MeetingDetailModel.h"
#include "MeetingListModel.h"
#include "MeetingStore.h"
#include "PendingUploadsModel.h"
#include "QtPrinters.h"

#include <QJsonArray>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

QVariant valueAt(const QAbstractItemModel &model, int row, const QByteArray &role)
{
    return model.data(model.index(row, 0), model.roleNames().key(role));
}

QStringList column(const QAbstractItemModel &model, const QByteArray &role)
{
    QStringList out;
    for (int row = 0; row < model.rowCount(); ++row)
        out << valueAt(model, row, role).toString();
    return out;
}

int rowWith(const QAbstractItemModel &model, const QByteArray &role, const QString &value)
{
    return int(column(model, role).indexOf(value));
}

// The demo account's notes in the local service, loaded into a real meeting store.
class ScreenModelsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DateText::setLocale("en_US");
        ASSERT_TRUE(service.isRunning());
        Endpoints::setServiceOrigin(service.origin());
        token = service.signIn();
        ASSERT_FALSE(token.isEmpty());
    }
    void TearDown() override { APIClient::shared().network().clearConnectionCache(); }

    // The service's log of requests to one path.
    QJsonArray requestsTo(const QString &path)
    {
        return service.control("GET", "/__dev/requests?path=" + path.toStdString()).toArray();
    }

    DevServerProcess service;
    QString token;
    MeetingStore store {[this] { return std::optional<QString>(token); }};
};

}

TEST_F(ScreenModelsTest, ListRowsFollowTheDaySectionsAndTheSearch)
{
    await(store.loadMeetings());
    MeetingListModel list;
    QSignalSpy counts(&list, &MeetingListModel::countChanged);
    list.setStore(&store);
    ASSERT_EQ(list.count(), 7);
    EXPECT_EQ(counts.count(), 1);

    const QStringList sections = column(list, "section");
    EXPECT_EQ(sections.first(), u"Today"_s);
    EXPECT_EQ(sections.mid(0, 4), QStringList({u"Today"_s, u"Today"_s, u"Yesterday"_s, u"Yesterday"_s}));
    EXPECT_EQ(column(list, "title").mid(0, 2),
        QStringList({u"Daily standup"_s, u"Design review: onboarding flow"_s})) << "newest first";

    const int design = rowWith(list, "title", u"Design review: onboarding flow"_s);
    EXPECT_TRUE(valueAt(list, design, "sourceLine").toString().startsWith(u"Desktop · "_s));
    EXPECT_EQ(valueAt(list, design, "duration").toString(), u"42 MIN"_s);
    EXPECT_EQ(valueAt(list, design, "relativeTime").toString(), u"2h ago"_s);
    const int standup = rowWith(list, "title", u"Daily standup"_s);
    EXPECT_EQ(valueAt(list, standup, "duration").toString(), u"—"_s);
    EXPECT_EQ(valueAt(list, standup, "sourceLine").toString().section(u" · "_s, 0, 0), u"Recall"_s);
    const int quarterly = rowWith(list, "title", u"Quarterly planning"_s);
    EXPECT_EQ(valueAt(list, quarterly, "participants").toStringList(),
        QStringList({u"Alex Rivera"_s, u"Priya Shah"_s, u"Marco Bianchi"_s})) << "the first three of five";

    // The sidebar's search narrows by title and by participant, ignoring case.
    list.setSearchText(u"PRIYA"_s);
    EXPECT_EQ(column(list, "title"),
        QStringList({u"Daily standup"_s, u"Design review: onboarding flow"_s, u"1:1 with Priya"_s,
            u"Quarterly planning"_s}));
    list.setSearchText(u"northwind"_s);
    EXPECT_EQ(column(list, "title"), QStringList({u"Customer call — Northwind"_s}));
    EXPECT_EQ(column(list, "section"), QStringList({u"Yesterday"_s}));
    list.setSearchText(u"  "_s);
    EXPECT_EQ(list.count(), 7);

    // A reload that brings the same notes keeps the rows and refreshes their texts.
    QSignalSpy resets(&list, &QAbstractItemModel::modelReset);
    QSignalSpy refreshed(&list, &QAbstractItemModel::dataChanged);
    await(store.loadMeetings());
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(refreshed.count(), 1);
}

TEST_F(ScreenModelsTest, OpeningARowShowsItsDetailAndTicksReachTheService)
{
    await(store.loadMeetings());
    MeetingListModel list;
    list.setStore(&store);
    MeetingDetailModel detail;
    detail.setStore(&store);
    EXPECT_FALSE(detail.isShown());

    list.open(rowWith(list, "title", u"Design review: onboarding flow"_s));
    ASSERT_TRUE(store.selectedMeeting().has_value());
    EXPECT_TRUE(detail.isLoading());
    ASSERT_TRUE(waitUntil([&] { return detail.isShown(); }));
    EXPECT_FALSE(detail.isLoading());
    EXPECT_EQ(detail.title(), u"Design review: onboarding flow"_s);
    EXPECT_EQ(detail.peopleLine(), u"3 people · Desktop"_s);
    EXPECT_EQ(detail.decisions().size(), 2);
    ASSERT_EQ(detail.topics().size(), 3);
    EXPECT_EQ(detail.topics()[2].toMap()[u"bullets"_s].toStringList(), QStringList()) << "a topic without bullets";
    EXPECT_EQ(detail.properties()[2].toMap()[u"value"_s].toString(), u"3"_s);
    NoteActionItemsModel &items = *detail.actionItems();
    ASSERT_EQ(items.rowCount(), 3);
    EXPECT_EQ(column(items, "done"), QStringList({u"false"_s, u"false"_s, u"true"_s}));

    // A tick changes its row only and reaches the service with the item's id.
    QSignalSpy redraws(&detail, &MeetingDetailModel::contentChanged);
    QSignalSpy rows(&items, &QAbstractItemModel::dataChanged);
    QSignalSpy resets(&items, &QAbstractItemModel::modelReset);
    const qint64 noteId = store.meetingDetail()->id;
    const QString itemPath = u"/api/v2/meeting-notes/%1/action-items/dr-1"_s.arg(noteId);
    detail.toggle(0);
    EXPECT_EQ(valueAt(items, 0, "done").toBool(), true) << "shown at once";
    ASSERT_TRUE(waitUntil([&] { return requestsTo(itemPath).size() == 1; }));
    const QJsonObject patch = requestsTo(itemPath)[0].toObject();
    EXPECT_EQ(patch[u"method"_s].toString(), u"PATCH"_s);
    EXPECT_EQ(patch[u"body"_s].toString(), u"{\"done\":true}"_s);
    EXPECT_EQ(patch[u"query"_s].toString(), u"source=desktop"_s);
    EXPECT_EQ(redraws.count(), 0);
    EXPECT_EQ(rows.count(), 1);
    EXPECT_EQ(resets.count(), 0);

    // The item without an id is ticked by its text; a refusal takes the tick back.
    service.control("POST", "/__dev/faults",
        {{u"path"_s, u"/api/v2/meeting-notes/*"_s}, {u"method"_s, u"PATCH"_s}, {u"status"_s, 500}});
    detail.toggle(2);
    EXPECT_EQ(valueAt(items, 2, "done").toBool(), false);
    ASSERT_TRUE(waitUntil([&] { return valueAt(items, 2, "done").toBool(); })) << "rolled back";
    EXPECT_EQ(requestsTo(u"/api/v2/meeting-notes/%1/action-items/Share the test plan with support"_s.arg(noteId)).size(), 1);

    // Another note: the previous detail is not shown while the new one loads.
    list.open(rowWith(list, "title", u"Customer call — Northwind"_s));
    EXPECT_FALSE(detail.isShown());
    EXPECT_TRUE(detail.isLoading());
    EXPECT_EQ(detail.title(), QString());
    ASSERT_TRUE(waitUntil([&] { return detail.isShown(); }));
    EXPECT_EQ(detail.title(), u"Customer call — Northwind"_s);
    EXPECT_EQ(detail.peopleLine(), u"3 people · Meeting bot"_s);
    EXPECT_EQ(items.rowCount(), 2);

    // A detail that cannot load says why instead of spinning.
    service.control("POST", "/__dev/faults", {{u"path"_s, u"/api/v2/meeting-notes/*"_s}, {u"status"_s, 503}});
    list.open(rowWith(list, "title", u"1:1 with Priya"_s));
    ASSERT_TRUE(waitUntil([&] { return !store.isLoadingDetail(); }));
    EXPECT_FALSE(detail.isShown());
    EXPECT_EQ(detail.errorText(), u"Server error (503)"_s);
}

TEST_F(ScreenModelsTest, ProcessingCardsUpdateInPlaceNewestFirst)
{
    PendingUploadsModel cards;
    cards.setStore(&store);
    const QUuid first = store.addPendingUpload(u"Session_2025-03-05_15-30-00-000_mic"_s, 45);
    const QUuid second = store.addPendingUpload(u"Meeting_Weekly sync.wav"_s, 125.6);
    ASSERT_EQ(cards.count(), 2);
    EXPECT_EQ(column(cards, "title"), QStringList({u"Weekly sync"_s, u"2025-03-05_15-30-00-000_mic"_s}));
    EXPECT_EQ(column(cards, "length"), QStringList({u"2M 5S"_s, u"45S"_s}));
    EXPECT_EQ(column(cards, "status"), QStringList({u"UPLOADING…"_s, u"UPLOADING…"_s}));
    EXPECT_TRUE(valueAt(cards, 0, "sourceLine").toString().startsWith(u"Desktop · "_s));

    QSignalSpy inserted(&cards, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&cards, &QAbstractItemModel::rowsRemoved);
    QSignalSpy resets(&cards, &QAbstractItemModel::modelReset);
    QSignalSpy changed(&cards, &QAbstractItemModel::dataChanged);
    struct Stage {
        UploadStatus status;
        QString text;
        QString symbol;
    };
    const Stage stages[] = {
        {UploadStatus::notifying(), u"SAVING…"_s, u"arrow.up.circle"_s},
        {UploadStatus::transcribing(), u"TRANSCRIBING AUDIO…"_s, u"text.bubble"_s},
        {UploadStatus::generatingNotes(), u"GENERATING MEETING NOTES…"_s, u"sparkles"_s},
        {UploadStatus::failed(u"Upload failed (HTTP 500)"_s), u"FAILED: UPLOAD FAILED (HTTP 500)"_s, u"arrow.up.circle"_s},
    };
    for (const Stage &s : stages) {
        store.setPendingUploadStatus(first, s.status);
        EXPECT_EQ(valueAt(cards, 1, "status").toString(), s.text);
        EXPECT_EQ(valueAt(cards, 1, "symbol").toString(), s.symbol);
    }
    EXPECT_TRUE(valueAt(cards, 1, "isFailed").toBool());
    EXPECT_EQ(changed.count(), 4);
    EXPECT_EQ(inserted.count() + removed.count() + resets.count(), 0) << "the cards stay";

    cards.dismiss(first.toString(QUuid::WithoutBraces));
    EXPECT_EQ(removed.count(), 1);
    EXPECT_EQ(column(cards, "title"), QStringList({u"Weekly sync"_s}));

    // A finished card goes away and asks for its note.
    store.updatePendingUpload(second, UploadStatus::processing(41));
    store.setPendingUploadStatus(second, UploadStatus::done());
    EXPECT_TRUE(valueAt(cards, 0, "isDone").toBool());
    cards.viewTranscript(second.toString(QUuid::WithoutBraces));
    EXPECT_EQ(cards.count(), 0);
    EXPECT_EQ(store.navigateToMeetingId(), std::optional<qint64>(41));
}
