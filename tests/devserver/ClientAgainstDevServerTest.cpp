#include "APIClient.h"
#include "ActionListItem.h"
#include "Await.h"
#include "DevServerProcess.h"
#include "EQUser.h"
#include "Endpoints.h"
#include "MeetingStore.h"
#include "UploadPipeline.h"

#include <gtest/gtest.h>

#include <QDataStream>
#include <QFile>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace {

struct ActionItemsReply {
    std::optional<QList<ActionListItem>> data;
    static ActionItemsReply fromJson(const Json::ObjectReader &r)
    {
        return {r.optional<QList<ActionListItem>>("data"_L1)};
    }
};

// One second of silent mono 16-bit PCM at 8 kHz, as a WAV file.
QString writeSecondOfSilence(const QString &path)
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

// The client's own pieces, pointed at the local service.
class ClientAgainstDevServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.isRunning());
        Endpoints::setServiceOrigin(server.origin());
        token = server.signIn();
    }
    void TearDown() override { APIClient::shared().network().clearConnectionCache(); }

    DevServerProcess server {{u"--processing-seconds"_s, u"1"_s}};
    QString token;
    MeetingStore::Timings fastFollowUp {std::chrono::milliseconds(10), std::chrono::milliseconds(10),
        std::chrono::milliseconds(200), 60};
};

}

TEST_F(ClientAgainstDevServer, AnUploadedRecordingBecomesTheNoteTheStoreFollows)
{
    QTemporaryDir session;
    const QString mic = writeSecondOfSilence(session.filePath(u"upload_track.wav"_s));
    MeetingStore store([this] { return std::optional(token); }, fastFollowUp);
    const QUuid pending = store.addPendingUpload(u"Session_demo"_s, 1.0);

    UploadPipeline pipeline(server.url(u"/blob/"_s).toString(), {3, 0.05});
    QList<UploadStatus> seen;
    await(pipeline.run(mic, std::nullopt, token, [&](const UploadStatus &status) {
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

TEST_F(ClientAgainstDevServer, TicksFromTheStoreAreStoredByTheService)
{
    MeetingStore store([this] { return std::optional(token); });
    await(store.loadMeetings());
    EXPECT_EQ(store.meetings().size(), 7);
    await(store.loadDetail(2));
    ASSERT_TRUE(store.meetingDetail());
    // One item with an id, one that goes by its text (sent percent-encoded in the path).
    await(store.toggleActionItem(2, u"dr-1"_s, true));
    await(store.toggleActionItem(2, u"Share the test plan with support"_s, false));

    MeetingStore reloaded([this] { return std::optional(token); });
    await(reloaded.loadMeetings());
    await(reloaded.loadDetail(2));
    ASSERT_TRUE(reloaded.meetingDetail());
    QMap<QString, bool> done;
    for (const auto &item : reloaded.meetingDetail()->actionItems)
        done[item.key()] = item.done;
    EXPECT_TRUE(done.value(u"dr-1"_s));
    EXPECT_FALSE(done.value(u"Share the test plan with support"_s, true));
}

TEST_F(ClientAgainstDevServer, UserAndActionItemsDecodeWithTheClientsRecords)
{
    auto &client = APIClient::shared();
    const EQUser user = await(client.get<EQUser>(Endpoints::url(u"/api/desktop/me"_s), token));
    EXPECT_EQ(user.email, DevServerProcess::demoEmail);
    EXPECT_FALSE(user.googlePicture);

    const auto items = await(client.get<ActionItemsReply>(Endpoints::url(u"/api/v2/action-items"_s), token)).data.value();
    EXPECT_GE(items.size(), 8);
    EXPECT_TRUE(std::any_of(items.begin(), items.end(), [](const ActionListItem &i) { return !i.due; }));
    EXPECT_TRUE(std::any_of(items.begin(), items.end(), [](const ActionListItem &i) { return i.done; }));
}
