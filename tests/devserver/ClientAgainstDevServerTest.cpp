#include "APIClient.h"
#include "ActionStore.h"
#include "Await.h"
#include "CalendarStore.h"
#include "DevServerProcess.h"
#include "EQUser.h"
#include "Endpoints.h"
#include "Log.h"
#include "MeetingStore.h"
#include "RecallStore.h"
#include "UploadPipeline.h"

#include <gtest/gtest.h>

#include <QDataStream>
#include <QFile>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace {

// One second of silent mono 16-bit PCM at 8 kHz, as a WAV file.
QString writeSecondOfSilence(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    const quint32 dataSize = 16000;
    out.writeRawData("RIFF", 4);
    out << quint32(36 + dataSize);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(8000) << quint32(16000) << quint16(2) << quint16(16);
    out.writeRawData("data", 4);
    out << dataSize;
    out.writeRawData(QByteArray(dataSize, '\0').constData(), int(dataSize));
    return path;
}

// The client's own stores and upload pipeline, pointed at the local service's demo account.
class ClientAgainstDevServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.isRunning());
        Endpoints::setServiceOrigin(server.origin());
        const QJsonValue session
            = server.control("POST", "/__dev/token", { { u"email"_s, DevServerProcess::demoEmail } });
        token = session[u"token"_s].toString();
        userId = session[u"user"_s][u"id"_s].toString();
        ASSERT_FALSE(token.isEmpty());
    }
    void TearDown() override { APIClient::shared().network().clearConnectionCache(); }

    [[nodiscard]] TokenProvider tokens() const
    {
        return [t = token] { return std::optional(t); };
    }
    static UpcomingMeeting meeting(const CalendarStore& store, const QString& id)
    {
        for (const UpcomingMeeting& m : store.meetings())
            if (m.id == id)
                return m;
        ADD_FAILURE() << "no meeting " << id.toStdString();
        return {};
    }

    DevServerProcess server { { u"--processing-seconds"_s, u"1"_s } };
    QString token;
    QString userId;
};

}

TEST_F(ClientAgainstDevServer, AnUploadedRecordingBecomesTheNoteTheStoreFollows)
{
    QTemporaryDir session;
    const QString mic = writeSecondOfSilence(session.filePath(u"upload_track.wav"_s));
    using std::chrono::milliseconds;
    MeetingStore store(tokens(), { milliseconds(10), milliseconds(10), milliseconds(200), 60 });
    const QUuid pending = store.addPendingUpload(u"Session_demo"_s, 1.0);

    UploadPipeline pipeline(server.url(u"/blob/"_s).toString(), { 3, 0.05 });
    QList<UploadStatus> seen;
    await(pipeline.run(mic, std::nullopt, token, [&](const UploadStatus& status) {
        seen << status;
        store.updatePendingUpload(pending, status);
    }));
    ASSERT_EQ(seen.size(), 3) << seen.last().label().toStdString();
    EXPECT_EQ(seen.last().stage(), UploadStatus::Processing);
    const qint64 noteId = seen.last().noteId().value_or(0);
    ASSERT_GT(noteId, 0);

    ASSERT_TRUE(waitUntil([&] { return store.pendingUpload(pending)->status.stage() == UploadStatus::Done; }, 15000));
    ASSERT_FALSE(store.meetings().isEmpty());
    EXPECT_EQ(store.meetings().first().id, noteId);
    await(store.loadDetail(noteId));
    ASSERT_TRUE(store.meetingDetail());
    EXPECT_EQ(store.meetingDetail()->duration, u"1 sec"_s);
    EXPECT_EQ(store.meetingDetail()->source, u"desktop"_s);
}

TEST_F(ClientAgainstDevServer, TicksByIdAndByTextAreKeptByTheService)
{
    MeetingStore store(tokens());
    await(store.loadMeetings());
    EXPECT_EQ(store.meetings().size(), 7);
    await(store.loadDetail(2));
    ASSERT_TRUE(store.meetingDetail());
    // One item with an id, one that goes by its text (sent percent-encoded in the path).
    await(store.toggleActionItem(2, u"dr-1"_s, true));
    await(store.toggleActionItem(2, u"Share the test plan with support"_s, false));

    MeetingStore reloaded(tokens());
    await(reloaded.loadMeetings());
    await(reloaded.loadDetail(2));
    ASSERT_TRUE(reloaded.meetingDetail());
    QMap<QString, bool> done;
    for (const auto& item : reloaded.meetingDetail()->actionItems)
        done[item.key()] = item.done;
    EXPECT_TRUE(done.value(u"dr-1"_s));
    EXPECT_FALSE(done.value(u"Share the test plan with support"_s, true));

    // The list across notes shows the same tick.
    ActionStore actions(tokens());
    await(actions.load());
    const auto items = actions.items();
    EXPECT_TRUE(std::any_of(items.begin(), items.end(),
        [](const ActionListItem& i) { return i.meetingId == 2 && i.id == u"dr-1"_s && i.done; }));
    EXPECT_TRUE(std::any_of(items.begin(), items.end(), [](const ActionListItem& i) { return !i.due; }));
}

TEST_F(ClientAgainstDevServer, UserCalendarAndBotSwitchReachTheClient)
{
    const EQUser user = await(APIClient::shared().get<EQUser>(Endpoints::url(u"/api/desktop/me"_s), token));
    EXPECT_EQ(user.email, DevServerProcess::demoEmail);
    EXPECT_FALSE(user.googlePicture);

    CalendarStore calendar(tokens());
    await(calendar.load(userId));
    EXPECT_TRUE(calendar.calendarConnected());
    EXPECT_FALSE(calendar.calendarNeedsReauth());
    ASSERT_EQ(calendar.meetings().size(), 6);
    EXPECT_EQ(calendar.meetings()[0].id, u"evt-standup"_s);
    EXPECT_EQ(calendar.meetings()[0].group, u"Now"_s);
    EXPECT_EQ(meeting(calendar, u"evt-northwind"_s).source, CalendarSource::outlook);
    EXPECT_EQ(meeting(calendar, u"evt-northwind"_s).people,
        (QStringList { u"dana@northwind.test"_s, u"sam@northwind.test"_s }));
    EXPECT_TRUE(meeting(calendar, u"evt-vendor"_s).declined);
    const UpcomingMeeting focus = meeting(calendar, u"evt-focus"_s);
    EXPECT_FALSE(focus.bot);

    RecallStore recall(tokens());
    await(recall.loadSettings());
    EXPECT_TRUE(recall.isLoaded());
    Log::Capture log;
    await(recall.toggleMeetingBot(focus, true));
    EXPECT_TRUE(log.contains(u"[RecallStore] meetingBot signal: scheduled for evt-focus"_s))
        << log.lines().join(u'\n').toStdString();
    await(calendar.load(userId));
    EXPECT_TRUE(meeting(calendar, u"evt-focus"_s).bot) << "the service kept the switch";

    server.control("POST", "/__dev/calendar", { { u"needsReauth"_s, true } });
    await(calendar.load(userId));
    EXPECT_TRUE(calendar.calendarNeedsReauth());
    EXPECT_EQ(calendar.meetings().size(), 6);
}
