#include "AudioTrackWriter.h"
#include "AuthStore.h"
#include "DemoSession.h"
#include "MeetingStore.h"
#include "QtPrinters.h"
#include "RecordingLibrary.h"
#include "ScreenText.h"
#include "SessionJournal.h"
#include "TestAudio.h"
#include "TestFiles.h"

#include <QDir>
#include <QScopeGuard>
#include <QTest>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace ScreenDriver;

namespace {

QStringList rowTitles(QQuickItem* root)
{
    QStringList titles;
    for (QQuickItem* row : findAll(root, [](QQuickItem* i) { return i->objectName() == u"MeetingListRow"_s; }))
        titles << row->property("title").toString();
    return titles;
}

qint64 idOf(MeetingStore& store, const QString& title)
{
    for (const MeetingNote& note : store.meetings())
        if (note.title == title)
            return note.id;
    ADD_FAILURE() << "no note " << title.toStdString();
    return -1;
}

// What a killed recording of `owner` leaves: its journal says "recording", its segments hold `seconds` of tone.
QString leaveSession(int seconds, const QDateTime& start, const SessionJournal::Owner& owner)
{
    AudioTrackWriter writer({ .now = [start] { return start; } });
    SessionJournal journal(writer.sessionDirectory(), start.toUTC());
    journal.setOwner(owner);
    journal.save();
    TestAudio::writeToneSegment(
        QDir(writer.sessionDirectory()).filePath(u"mic_track_000.caf"_s), 48000, 1, seconds, 0.3f);
    return writer.sessionDirectory();
}

using MeetingScreens = DemoSession;

}

TEST_F(MeetingScreens, ListsSpinWhileLoadingSayWhenEmptyOpenADetailWhoseTicksReachTheServiceBackReturnsAndSearchNarrows)
{
    delay(u"/api/v2/meeting-notes"_s, 1500);
    delay(u"/api/v2/action-items"_s, 1500);
    fault(u"/api/v2/action-items"_s, 500);
    AppWindow app;
    openWindow(app);
    click(app.window, byText(app.root(), u"Meetings"_s));
    ASSERT_TRUE(waitUntil([&] { return byObjectName(app.detailColumn(), u"listSpinner"_s) != nullptr; }));
    EXPECT_FALSE(byObjectName(app.detailColumn(), u"emptyState"_s)) << "not empty while loading";
    ASSERT_TRUE(waitUntil([&] { return rowTitles(app.detailColumn()).size() == 7; }));
    QQuickItem* list = app.detailColumn();
    EXPECT_FALSE(byObjectName(list, u"listSpinner"_s) || byObjectName(list, u"emptyState"_s)) << "loaded";
    delay(u"/api/v2/meeting-notes"_s, 0);

    fault(u"/api/v2/meeting-notes"_s, 200, u"GET"_s, R"({"success": true, "data": []})");
    await(app.delegate.meetingStore()->loadMeetings());
    ASSERT_TRUE(waitUntil([&] { return byObjectName(app.detailColumn(), u"emptyState"_s) != nullptr; }));
    EXPECT_TRUE(rowTitles(app.detailColumn()).isEmpty() && !byObjectName(app.detailColumn(), u"listSpinner"_s));
    EXPECT_TRUE(byText(byObjectName(app.detailColumn(), u"emptyState"_s), u"No recordings yet"_s));
    EXPECT_EQ(textOf(app.detailColumn(), u"headerLine"_s), u"No recordings yet"_s);

    // The actions screen's first load fails: a spinner until then, the empty state after.
    click(app.window, byText(app.root(), u"Actions"_s));
    QQuickItem* actions = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        return (actions = byObjectName(app.root(), u"ActionsView"_s)) && byObjectName(actions, u"actionsSpinner"_s);
    }));
    EXPECT_FALSE(byObjectName(actions, u"emptyState"_s)) << "not empty while loading";
    ASSERT_TRUE(waitUntil([&] {
        return service.requests(u"/api/v2/action-items"_s).size() == 1 && byObjectName(actions, u"emptyState"_s);
    }));
    EXPECT_TRUE(!byObjectName(actions, u"actionsSpinner"_s) && byText(actions, u"No action items yet"_s));
    EXPECT_EQ(textOf(actions, u"headerLine"_s), u"(missing)"_s);

    click(app.window, byText(app.root(), u"Meetings"_s));
    await(app.delegate.meetingStore()->loadMeetings());
    ASSERT_TRUE(waitUntil([&] { return rowTitles(app.detailColumn()).size() == 7; }));
    QQuickItem* column = app.detailColumn();
    EXPECT_EQ(textOf(column, u"headerLine"_s), u"7 recordings · Echoquill is listening"_s);
    EXPECT_TRUE(byText(column, u"Today"_s) && byText(column, u"Yesterday"_s));
    QQuickItem* row = ofType(column, "MeetingListRow", u"Design review: onboarding flow"_s);
    const QDateTime now = QDateTime::currentDateTime(); // the service dates it 2 h back, but never before today
    const QString ago = ScreenText::relativeTime(std::max(now.addSecs(-7200), QDateTime(now.date(), QTime(0, 0))), now);
    ASSERT_TRUE(row && byText(row, u"42 MIN"_s) && byText(row, ago)) << ago.toStdString();
    EXPECT_EQ(rowTitles(column).mid(0, 2), QStringList({ u"Daily standup"_s, u"Design review: onboarding flow"_s }))
        << "newest first";
    EXPECT_TRUE(byText(ofType(column, "MeetingListRow", u"Daily standup"_s), u"—"_s)) << "no duration";

    QPointer<QQuickItem> kept = row;
    await(app.delegate.meetingStore()->loadMeetings());
    settle(app.window);
    EXPECT_TRUE(kept) << "the rows are not rebuilt";

    click(app.window, row);
    ASSERT_TRUE(
        waitUntil([&] { return textOf(app.detailColumn(), u"detailTitle"_s) == u"Design review: onboarding flow"_s; }));
    QQuickItem* detail = app.detailColumn();
    EXPECT_EQ(QStringList({ textOf(detail, u"peopleLine"_s), textOf(detail, u"property:Source"_s),
                  textOf(detail, u"property:Speakers"_s), textOf(detail, u"property:Duration"_s) }),
        QStringList({ u"3 people · Desktop"_s, u"Desktop"_s, u"3"_s, u"42 min"_s }));
    EXPECT_TRUE(byText(detail, u"Signup drops to two steps: e-mail, then workspace name."_s)
        && byText(detail, u"Skip link stays visible"_s) && !byText(detail, u"No participants recorded"_s))
        << "a decision, a topic's bullet";

    const qint64 noteId = idOf(*app.delegate.meetingStore(), u"Design review: onboarding flow"_s);
    const QString items = u"/api/v2/meeting-notes/%1/action-items/*"_s.arg(noteId);
    QQuickItem* mockups = ofType(detail, "ActionItemRow", u"Update the signup mockups to two steps"_s);
    ASSERT_TRUE(mockups);
    click(app.window, byObjectName(mockups, u"checkBox"_s));
    EXPECT_TRUE(byObjectName(mockups, u"checkBox"_s)->property("checked").toBool());
    ASSERT_TRUE(waitUntil([&] { return service.requests(items).size() == 1; }));

    // A refused tick shows at once and goes back when the refusal comes.
    fault(items, 500, u"PATCH"_s);
    delay(items, 400);
    QQuickItem* flag = ofType(detail, "ActionItemRow", u"Set up the feature flag for the welcome screen"_s);
    ASSERT_TRUE(flag);
    click(app.window, byObjectName(flag, u"checkBox"_s));
    EXPECT_TRUE(byObjectName(flag, u"checkBox"_s)->property("checked").toBool()) << "shown at once";
    ASSERT_TRUE(waitUntil([&] { return service.requests(items).size() == 2; }));
    EXPECT_TRUE(waitUntil([&] { return !byObjectName(flag, u"checkBox"_s)->property("checked").toBool(); }));
    delay(items, 0);

    QTest::keyClick(app.window, Qt::Key_Escape); // as the back control
    ASSERT_TRUE(waitUntil([&] { return shows(app.detailColumn(), "MeetingListView"); }));
    EXPECT_FALSE(app.delegate.meetingStore()->selectedMeeting().has_value());

    // A note that names nobody says so, and its source stands alone.
    const qint64 quiet = idOf(*app.delegate.meetingStore(), u"1:1 with Priya"_s);
    fault(u"/api/v2/meeting-notes/%1"_s.arg(quiet), 200, u"GET"_s,
        QStringLiteral(R"({"success": true, "data": {"id": %1, "source": "desktop", "title": "1:1 with Priya",
            "participants": [], "createdDateTime": "2025-03-02T11:30:00Z", "decisions": [], "topics": [],
            "actionItems": []}})")
            .arg(quiet)
            .toUtf8());
    app.delegate.meetingStore()->setNavigateToMeetingId(quiet);
    ASSERT_TRUE(waitUntil([&] { return textOf(app.detailColumn(), u"detailTitle"_s) == u"1:1 with Priya"_s; }));
    QQuickItem* plain = app.detailColumn();
    EXPECT_EQ(std::tuple(byText(plain, u"No participants recorded"_s) != nullptr, textOf(plain, u"peopleLine"_s),
                  textOf(plain, u"property:Speakers"_s), byObjectName(plain, u"summaryCard"_s) != nullptr),
        std::tuple(true, u"Desktop"_s, u"—"_s, false))
        << "no summary, no card";

    fault(u"/api/v2/meeting-notes/*"_s, 503, u"GET"_s);
    app.delegate.meetingStore()->setNavigateToMeetingId(idOf(*app.delegate.meetingStore(), u"Quarterly planning"_s));
    ASSERT_TRUE(waitUntil([&] { return byText(app.detailColumn(), u"Server error (503)"_s) != nullptr; }));
    EXPECT_FALSE(byObjectName(app.detailColumn(), u"detailSpinner"_s)
        || textOf(app.detailColumn(), u"detailTitle"_s) == u"1:1 with Priya"_s)
        << "no spinner, the previous note gone";

    // From an open note, the sidebar's search shows the list: participants count, case does not.
    type(app.window, byObjectName(app.root(), u"SidebarSearchBar"_s), u"PRIYA"_s);
    ASSERT_TRUE(waitUntil([&] { return rowTitles(app.detailColumn()).size() == 4; }));
    EXPECT_EQ(rowTitles(app.detailColumn()),
        QStringList(
            { u"Daily standup"_s, u"Design review: onboarding flow"_s, u"1:1 with Priya"_s, u"Quarterly planning"_s }));
    EXPECT_EQ(textOf(app.detailColumn(), u"headerLine"_s), u"7 recordings · Echoquill is listening"_s);
    type(app.window, byObjectName(app.root(), u"SidebarSearchBar"_s), u"zzz"_s);
    EXPECT_TRUE(waitUntil([&] { return byText(app.detailColumn(), u"No recordings match “PRIYAzzz”"_s) != nullptr; }));
}

TEST_F(MeetingScreens, ProcessingAndInterruptedCardsShowTheirStageOfferTheirActionsAndGoAwayWhenDone)
{
    // Only the sessions this test leaves: none that an earlier test left behind.
    const auto clean = [] { QDir(RecordingLibrary::defaultFolder()).removeRecursively(); };
    clean();
    const auto cleanUp = qScopeGuard(clean);
    AppWindow app;
    openWindow(app);
    ASSERT_TRUE(waitUntil([&] { return app.delegate.meetingStore()->meetings().size() == 7; }));
    click(app.window, byText(app.root(), u"Meetings"_s));
    ASSERT_TRUE(waitUntil([&] { return shows(app.detailColumn(), "MeetingListView"); }));
    RecordingLibrary& library = *app.delegate.recordingLibrary();
    library.setTimings(
        { std::chrono::milliseconds(10), std::chrono::milliseconds(10), std::chrono::milliseconds(200) });
    const qint64 designReview = idOf(*app.delegate.meetingStore(), u"Design review: onboarding flow"_s);

    // Sessions of this account as earlier runs left them: killed while recording, failed, on their way, noted.
    const SessionJournal::Owner me { app.delegate.authStore()->currentUser()->id, {} };
    const QString discarded = leaveSession(2, QDateTime::currentDateTime().addSecs(-3600), me);
    const QString interrupted = leaveSession(3, QDateTime::currentDateTime().addSecs(-60), me);
    const auto journaled = [&](const QString& name, qint64 seconds, bool failing, std::optional<qint64> note = {}) {
        const QString folder = QDir(library.folder()).filePath(name);
        QDir().mkpath(folder);
        writeBytes(QDir(folder).filePath(u"upload_track.m4a"_s), 1000);
        SessionJournal journal(folder, QDateTime::currentDateTimeUtc().addSecs(-seconds));
        journal.setOwner(me), journal.setFinalized(double(seconds));
        journal.setExported({ u"upload_track.m4a"_s, {}, {}, {} }, std::nullopt);
        if (failing)
            journal.setFailed({ u"Server error (500)"_s, 3, std::nullopt });
        if (note)
            journal.setNotified(*note);
        journal.save();
        return folder;
    };
    journaled(u"Session_Weekly sync"_s, 300, false, designReview);
    journaled(u"Session_2025-03-05_15-30-00-000_mic"_s, 125, true);
    const QString kept = journaled(u"Session_kept"_s, 62, true);
    journaled(u"Session_sending"_s, 45, false);
    service.control("POST", "/__dev/latency", { { u"ms"_s, 10000 }, { u"path"_s, u"/api/desktop/*"_s } });
    await(library.scan());
    QQuickItem* column = app.detailColumn();
    ASSERT_TRUE(waitUntil([&] { return byText(column, u"PROCESSING"_s) != nullptr; }));
    EXPECT_EQ(textOf(column, u"headerLine"_s), u"7 recordings · Echoquill is listening"_s) << "cards are not notes";

    QQuickItem* uploading = ofType(column, "ProcessingMeetingCard", u"45S"_s);
    ASSERT_TRUE(uploading && byText(uploading, u"New recording"_s));
    EXPECT_EQ(textOf(uploading, u"statusText"_s), u"UPLOADING…"_s);
    ASSERT_TRUE(waitUntil([&] { return byText(uploading, u"0%"_s); }));
    EXPECT_TRUE(byObjectName(uploading, u"progressBar"_s)->isVisible());
    QQuickItem* broken = ofType(column, "ProcessingMeetingCard", u"2M 5S"_s);
    ASSERT_TRUE(broken && byText(byObjectName(broken, u"dismiss"_s), u"✕"_s));
    settle(app.window);
    EXPECT_LT(uploading->mapToScene({ 0, 0 }).y(), broken->mapToScene({ 0, 0 }).y()) << "newest first";
    EXPECT_EQ(textOf(broken, u"statusText"_s), u"FAILED: SERVER ERROR (500)"_s);
    EXPECT_EQ(byObjectName(broken, u"stageSymbol"_s)->property("name").toString(), u"arrow.up.circle"_s);
    QQuickItem* done = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (done = ofType(column, "ProcessingMeetingCard", u"DONE"_s)) != nullptr; }));
    ASSERT_TRUE(
        byText(done, u"Weekly sync"_s) && byText(done, u"Your note is ready."_s) && !byObjectName(done, u"shimmer"_s))
        << "a finished card stops sweeping";

    // ✕ on a failed card asks first whether to keep its files.
    QQuickItem* keep = ofType(column, "ProcessingMeetingCard", u"1M 2S"_s);
    click(app.window, byObjectName(keep, u"dismiss"_s));
    EXPECT_TRUE(byText(keep, u"Keep the recording's files?"_s) && library.card(kept)) << "asked first";
    click(app.window, byObjectName(keep, u"keepFiles"_s));
    ASSERT_TRUE(waitUntil([&] { return !ofType(column, "ProcessingMeetingCard", u"1M 2S"_s); }));
    EXPECT_TRUE(QDir(kept).exists() && SessionJournal::read(kept)->isDismissed()) << "kept, and not offered again";

    click(app.window, byText(done, u"VIEW TRANSCRIPT →"_s));
    EXPECT_EQ(library.cards().size(), 2);
    ASSERT_TRUE(
        waitUntil([&] { return textOf(app.detailColumn(), u"detailTitle"_s) == u"Design review: onboarding flow"_s; }));
    click(app.window, byObjectName(app.detailColumn(), u"backControl"_s));
    ASSERT_TRUE(waitUntil([&] { return shows(app.detailColumn(), "MeetingListView"); }));
    column = app.detailColumn();

    // What a killed client left: Discard asks first, then trashes the folder; Upload makes it a processing card.
    ASSERT_TRUE(waitUntil([&] { return ofType(column, "InterruptedRecordingCard", u"3S"_s); }));
    QQuickItem* older = ofType(column, "InterruptedRecordingCard", u"2S"_s);
    ASSERT_TRUE(byText(older, u"Interrupted recording"_s));
    click(app.window, byObjectName(older, u"discard"_s));
    EXPECT_TRUE(byText(older, u"Move this recording to the trash?"_s) && QDir(discarded).exists()) << "asked first";
    click(app.window, byObjectName(older, u"discard"_s));
    EXPECT_FALSE(QDir(discarded).exists());
    ASSERT_TRUE(waitUntil([&] { return !ofType(column, "InterruptedRecordingCard", u"2S"_s); }));
    click(app.window, byObjectName(ofType(column, "InterruptedRecordingCard", u"3S"_s), u"upload"_s));
    ASSERT_TRUE(waitUntil([&] { return ofType(column, "ProcessingMeetingCard", u"3S"_s); }));
    EXPECT_TRUE(!ofType(column, "InterruptedRecordingCard", u"3S"_s) && QDir(interrupted).exists());
}
