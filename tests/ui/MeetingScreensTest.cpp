#include "DemoSession.h"
#include "MeetingStore.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace ScreenDriver;

namespace {

// The first item of QML type `type` that shows `text` somewhere inside it.
QQuickItem *itemWithText(QQuickItem *root, const char *type, const QString &text)
{
    return find(root, [&](QQuickItem *item) {
        return QByteArray(item->metaObject()->className()).startsWith(type) && byText(item, text);
    });
}

QString textOf(QQuickItem *root, const QString &objectName)
{
    QQuickItem *item = byObjectName(root, objectName);
    return item ? item->property("text").toString() : u"(missing)"_s;
}

qint64 idOf(MeetingStore &store, const QString &title)
{
    for (const MeetingNote &note : store.meetings())
        if (note.title == title)
            return note.id;
    ADD_FAILURE() << "no note " << title.toStdString();
    return -1;
}

class MeetingScreens : public DemoSession {
protected:
    // The window on the meetings list with the demo account's seven notes.
    void openMeetings(AppWindow &app)
    {
        openWindow(app);
        ASSERT_TRUE(waitUntil([&] { return app.delegate.meetingStore()->meetings().size() == 7; }));
        click(app.window, byText(app.root(), u"Meetings"_s));
        ASSERT_TRUE(waitUntil([&] { return shows(app.detailColumn(), "MeetingListView"); }));
    }
};

}

TEST_F(MeetingScreens, ListOpensADetailWhoseTicksReachTheServiceAndBackReturns)
{
    AppWindow app;
    openMeetings(app);
    QQuickItem *column = app.detailColumn();
    EXPECT_EQ(textOf(column, u"headerLine"_s), u"7 recordings · Echoquill is listening"_s);
    EXPECT_TRUE(byText(column, u"Today"_s));
    EXPECT_TRUE(byText(column, u"Yesterday"_s));
    QQuickItem *row = itemWithText(column, "MeetingListRow", u"Design review: onboarding flow"_s);
    ASSERT_TRUE(row);
    EXPECT_TRUE(byText(row, u"42 MIN"_s));
    EXPECT_TRUE(byText(row, u"2h ago"_s));
    pause(100);
    grab(app.window, u"MeetingListView"_s);

    click(app.window, row);
    ASSERT_TRUE(waitUntil([&] { return textOf(app.detailColumn(), u"detailTitle"_s) == u"Design review: onboarding flow"_s; }));
    QQuickItem *detail = app.detailColumn();
    EXPECT_EQ(textOf(detail, u"peopleLine"_s), u"3 people · Desktop"_s);
    EXPECT_EQ(textOf(detail, u"property:Source"_s), u"Desktop"_s);
    EXPECT_EQ(textOf(detail, u"property:Speakers"_s), u"3"_s);
    EXPECT_EQ(textOf(detail, u"property:Duration"_s), u"42 min"_s);
    EXPECT_TRUE(byText(detail, u"Signup drops to two steps: e-mail, then workspace name."_s)) << "a decision";
    EXPECT_TRUE(byText(detail, u"Skip link stays visible"_s)) << "a topic's bullet";
    EXPECT_FALSE(byText(detail, u"No participants recorded"_s));
    pause(100);
    grab(app.window, u"MeetingDetailView"_s);

    // Ticking an item reaches the service at once.
    const qint64 noteId = idOf(*app.delegate.meetingStore(), u"Design review: onboarding flow"_s);
    const QString items = u"/api/v2/meeting-notes/%1/action-items/*"_s.arg(noteId);
    QQuickItem *mockups = itemWithText(detail, "ActionItemRow", u"Update the signup mockups to two steps"_s);
    ASSERT_TRUE(mockups);
    click(app.window, byObjectName(mockups, u"checkBox"_s));
    EXPECT_TRUE(byObjectName(mockups, u"checkBox"_s)->property("checked").toBool());
    ASSERT_TRUE(waitUntil([&] { return requestsTo(items).size() == 1; }));
    EXPECT_EQ(requestsTo(items)[0][u"path"_s].toString(), u"/api/v2/meeting-notes/%1/action-items/dr-1"_s.arg(noteId));
    EXPECT_EQ(bodiesTo(items)[0], QJsonObject({{u"done"_s, true}}));

    // A refused tick shows at once and goes back when the refusal comes.
    fault(items, 500, u"PATCH"_s);
    service.control("POST", "/__dev/latency", {{u"ms"_s, 400}, {u"path"_s, items}});
    QQuickItem *flag = itemWithText(detail, "ActionItemRow", u"Set up the feature flag for the welcome screen"_s);
    ASSERT_TRUE(flag);
    click(app.window, byObjectName(flag, u"checkBox"_s));
    EXPECT_TRUE(byObjectName(flag, u"checkBox"_s)->property("checked").toBool()) << "shown at once";
    ASSERT_TRUE(waitUntil([&] { return requestsTo(items).size() == 2; }));
    EXPECT_TRUE(waitUntil([&] { return !byObjectName(flag, u"checkBox"_s)->property("checked").toBool(); }));
    service.control("POST", "/__dev/latency", {{u"ms"_s, 0}, {u"path"_s, items}});

    click(app.window, byObjectName(detail, u"backControl"_s));
    ASSERT_TRUE(waitUntil([&] { return shows(app.detailColumn(), "MeetingListView"); }));
    EXPECT_FALSE(app.delegate.meetingStore()->selectedMeeting().has_value());

    // A note that names nobody says so, and its source stands alone.
    const qint64 quiet = idOf(*app.delegate.meetingStore(), u"1:1 with Priya"_s);
    fault(u"/api/v2/meeting-notes/%1"_s.arg(quiet), 200, u"GET"_s,
        QStringLiteral(R"({"success": true, "data": {"id": %1, "source": "desktop", "title": "1:1 with Priya",
            "participants": [], "createdDateTime": "2025-03-02T11:30:00Z", "decisions": [], "topics": [],
            "actionItems": []}})").arg(quiet).toUtf8());
    app.delegate.meetingStore()->setNavigateToMeetingId(quiet);
    ASSERT_TRUE(waitUntil([&] { return textOf(app.detailColumn(), u"detailTitle"_s) == u"1:1 with Priya"_s; }));
    EXPECT_TRUE(byText(app.detailColumn(), u"No participants recorded"_s));
    EXPECT_EQ(textOf(app.detailColumn(), u"peopleLine"_s), u"Desktop"_s);
    EXPECT_EQ(textOf(app.detailColumn(), u"property:Speakers"_s), u"—"_s);
    EXPECT_FALSE(byObjectName(app.detailColumn(), u"summaryCard"_s)) << "no summary, no card";
}

TEST_F(MeetingScreens, ProcessingCardsShowTheirStageAndGoAwayWhenDone)
{
    AppWindow app;
    openMeetings(app);
    MeetingStore &store = *app.delegate.meetingStore();
    const qint64 designReview = idOf(store, u"Design review: onboarding flow"_s);

    const QUuid finished = store.addPendingUpload(u"Session_Weekly sync"_s, 300);
    const QUuid failed = store.addPendingUpload(u"Session_2025-03-05_15-30-00-000_mic"_s, 125);
    store.addPendingUpload(u"Session_2025-03-05_16-00-00-000_mic"_s, 45);
    store.updatePendingUpload(failed, UploadStatus::failed(u"Upload failed (HTTP 500)"_s));
    store.updatePendingUpload(finished, UploadStatus::processing(designReview));
    store.setPendingUploadStatus(finished, UploadStatus::done());
    QQuickItem *column = app.detailColumn();
    ASSERT_TRUE(waitUntil([&] { return byText(column, u"PROCESSING"_s) != nullptr; }));
    EXPECT_EQ(textOf(column, u"headerLine"_s), u"7 recordings · Echoquill is listening"_s) << "cards are not notes";

    QQuickItem *uploading = itemWithText(column, "ProcessingMeetingCard", u"45S"_s);
    ASSERT_TRUE(uploading);
    EXPECT_EQ(textOf(uploading, u"statusText"_s), u"UPLOADING…"_s);
    EXPECT_TRUE(byText(uploading, u"New recording"_s));
    QQuickItem *broken = itemWithText(column, "ProcessingMeetingCard", u"2M 5S"_s);
    ASSERT_TRUE(broken);
    EXPECT_EQ(textOf(broken, u"statusText"_s), u"FAILED: UPLOAD FAILED (HTTP 500)"_s);
    EXPECT_EQ(byObjectName(broken, u"stageSymbol"_s)->property("name").toString(), u"arrow.up.circle"_s);
    ASSERT_TRUE(byObjectName(broken, u"dismiss"_s));
    EXPECT_TRUE(byText(broken, u"✕"_s));
    QQuickItem *done = itemWithText(column, "ProcessingMeetingCard", u"DONE"_s);
    ASSERT_TRUE(done);
    EXPECT_TRUE(byText(done, u"Weekly sync"_s));
    EXPECT_TRUE(byText(done, u"Your note is ready."_s));
    EXPECT_FALSE(byObjectName(done, u"shimmer"_s)) << "a finished card stops sweeping";
    pause(300);
    grab(app.window, u"MeetingListView-processing"_s);

    click(app.window, byObjectName(broken, u"dismiss"_s));
    EXPECT_EQ(store.pendingUploads().size(), 2);
    EXPECT_FALSE(itemWithText(column, "ProcessingMeetingCard", u"2M 5S"_s));

    click(app.window, byText(done, u"VIEW TRANSCRIPT →"_s));
    EXPECT_EQ(store.pendingUploads().size(), 1);
    ASSERT_TRUE(waitUntil([&] { return textOf(app.detailColumn(), u"detailTitle"_s) == u"Design review: onboarding flow"_s; }));
}

TEST_F(MeetingScreens, SidebarSearchNarrowsTheList)
{
    AppWindow app;
    openMeetings(app);
    type(app.window, byObjectName(app.root(), u"SidebarSearchBar"_s), u"northwind"_s);
    QQuickItem *column = app.detailColumn();
    ASSERT_TRUE(waitUntil([&] { return !itemWithText(column, "MeetingListRow", u"Daily standup"_s); }));
    EXPECT_TRUE(itemWithText(column, "MeetingListRow", u"Customer call — Northwind"_s));
    EXPECT_EQ(textOf(column, u"headerLine"_s), u"7 recordings · Echoquill is listening"_s);

    type(app.window, byObjectName(app.root(), u"SidebarSearchBar"_s), u"zzz"_s);
    EXPECT_TRUE(waitUntil([&] { return byText(column, u"No recordings match “northwindzzz”"_s) != nullptr; }));
}
