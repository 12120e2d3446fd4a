#include "APIClient.h"
#include "Await.h"
#include "DevServerProcess.h"
#include "Endpoints.h"
#include "MeetingStore.h"
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

}

// The client's own upload pipeline and meeting store against the local service's demo account.
TEST(ClientAgainstDevServer, AnUploadedRecordingBecomesTheNoteTheStoreFollows)
{
    DevServerProcess server({ u"--processing-seconds"_s, u"1"_s });
    ASSERT_TRUE(server.isRunning());
    Endpoints::setServiceOrigin(server.origin());
    const QString token = server.signIn();
    QTemporaryDir session;
    const QString mic = writeSecondOfSilence(session.filePath(u"upload_track.wav"_s));
    using std::chrono::milliseconds;
    MeetingStore store(
        [token] { return std::optional(token); }, { milliseconds(10), milliseconds(10), milliseconds(200), 60 });
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
    APIClient::shared().network().clearConnectionCache();
}
