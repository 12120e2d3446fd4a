#include "Await.h"
#include "Endpoints.h"
#include "Log.h"
#include "ProcStatus.h"
#include "TestServer.h"
#include "UploadPipeline.h"
#include "APIClient.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

QJsonObject json(const std::string &body)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
}

// Anonymous resident memory: the heap, not file pages the kernel maps while sending.
long residentKiB()
{
    return long(procStatusKiB("RssAnon"));
}

// A service and blob store that answer like the real ones, with knobs for failures.
class UploadPipelineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto &s = server.server();
        s.Post("/api/desktop/meeting-notes/upload-token", [this](const httplib::Request &req, httplib::Response &res) {
            if (tokenFailures > 0) {
                --tokenFailures;
                res.status = tokenStatus;
                res.set_content("token says no", "text/plain");
                return;
            }
            const QString path = json(req.body)["payload"_L1].toObject()["pathname"_L1].toString();
            res.set_content(("{\"clientToken\":\"ct:" + path + "\"}").toStdString(), "application/json");
        });
        s.Put(R"(/blob/(.*))",
            [this](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& read) {
                if (blobHangs.fetch_sub(1) > 0) {
                    // A frozen store: the request is taken and not answered before the client gives up.
                    std::this_thread::sleep_for(2s);
                    return;
                }
                size_t received = 0;
                read([&](const char*, size_t n) {
                    received += n;
                    return true;
                });
                blobBytes.store(received);
                res.set_content(
                    "{\"url\":\"" + server.url(u"/blob/"_s).toString().toStdString() + req.matches[1].str() + "\"}",
                    "application/json");
            });
        s.Post("/api/desktop/meeting-notes", [this](const httplib::Request &, httplib::Response &res) {
            res.set_content(notifyReply, "application/json");
        });
        server.start();
        Endpoints::setServiceOrigin(server.origin());
        mic = writeFile(u"upload_track.m4a"_s, 3000);
        system = writeFile(u"system_upload.m4a"_s, 5000);
    }
    void TearDown() override { APIClient::shared().network().clearConnectionCache(); }

    QString writeFile(const QString &name, qint64 bytes)
    {
        QFile f(dir.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(QByteArray(bytes, 'a'));
        return f.fileName();
    }

    QList<UploadStatus> runPipeline(UploadPipeline &pipeline, const std::optional<QString> &systemTrack, const QString &micTrack = {})
    {
        QList<UploadStatus> statuses;
        await(pipeline.run(micTrack.isEmpty() ? mic : micTrack, systemTrack, u"bearer-1"_s,
                           [&](const UploadStatus &s) { statuses.append(s); }));
        return statuses;
    }

    UploadPipeline fastPipeline() { return UploadPipeline(server.url(u"/blob/"_s).toString(), {3, 0.5}); }

    TestServer server;
    QTemporaryDir dir;
    QString mic, system;
    int tokenFailures = 0;
    int tokenStatus = 500;
    std::string notifyReply = R"({"success": true, "note_id": 77})";
    std::atomic_size_t blobBytes = 0;
    std::atomic_int blobHangs = 0;
};

}

TEST_F(UploadPipelineTest, MicOnlyRunSkipsTheSystemStepsAndKeys)
{
    Log::Capture log;
    UploadPipeline pipeline = fastPipeline();
    const auto statuses = runPipeline(pipeline, std::nullopt);

    EXPECT_EQ(statuses, (QList<UploadStatus>{UploadStatus::uploading(), UploadStatus::notifying(), UploadStatus::processing(77)}));
    EXPECT_TRUE(log.contains(u"[Upload] ── pipeline start mic=upload_track.m4a system=none ──"_s));
    EXPECT_EQ(log.count(u"[Upload] step 1: fetching mic upload token…"_s), 1);
    EXPECT_EQ(log.count(u"[Upload] step 3"_s) + log.count(u"[Upload] step 4"_s), 0);
    EXPECT_TRUE(log.contains(u"[Upload] step 5: backend ack — note_id=77"_s));
    EXPECT_TRUE(log.contains(u"[Upload] ── pipeline complete, note is processing ──"_s));

    const auto got = server.received();
    const auto notify = std::find_if(got.begin(), got.end(), [](auto &r) { return r.path == "/api/desktop/meeting-notes"; });
    ASSERT_NE(notify, got.end());
    const QJsonObject body = json(notify->body);
    EXPECT_EQ(body.keys(), (QStringList{u"blob_url"_s, u"file_name"_s}));
    EXPECT_EQ(body["file_name"_L1].toString(), u"upload_track.m4a"_s);
    EXPECT_EQ(notify->header("Authorization"), "Bearer bearer-1");
}

TEST_F(UploadPipelineTest, FullRunUploadsBothTracksWithTheirOwnTokensAndPaths)
{
    UploadPipeline pipeline = fastPipeline();
    const auto statuses = runPipeline(pipeline, system);
    ASSERT_EQ(statuses.last(), UploadStatus::processing(77));

    std::vector<TestServer::Received> tokens, blobs;
    for (const auto &r : server.received()) {
        if (r.path == "/api/desktop/meeting-notes/upload-token")
            tokens.push_back(r);
        if (r.method == "PUT")
            blobs.push_back(r);
    }
    ASSERT_EQ(tokens.size(), 2u);
    ASSERT_EQ(blobs.size(), 2u);
    const QJsonObject request = json(tokens[0].body);
    EXPECT_EQ(request["type"_L1].toString(), u"blob.generate-client-token"_s);
    const QJsonObject payload = request["payload"_L1].toObject();
    EXPECT_TRUE(payload["clientPayload"_L1].isNull());
    EXPECT_EQ(payload["callbackUrl"_L1].toString(), u""_s);
    EXPECT_EQ(payload["multipart"_L1], QJsonValue(false));
    EXPECT_TRUE(QRegularExpression(u"^recordings/[0-9a-f-]{36}\\.m4a$"_s).match(payload["pathname"_L1].toString()).hasMatch());
    EXPECT_EQ(tokens[0].header("x-auth-token"), "Bearer bearer-1");
    EXPECT_FALSE(tokens[0].hasHeader("Authorization"));

    EXPECT_NE(blobs[0].path, blobs[1].path);
    EXPECT_EQ(blobs[0].header("Authorization"), "Bearer ct:" + blobs[0].path.substr(6));
    EXPECT_EQ(blobs[0].header("Content-Type"), "audio/mp4");
    EXPECT_EQ(blobs[0].header("x-content-length"), "3000");
    EXPECT_EQ(blobs[1].header("x-content-length"), "5000");

    const auto notify = server.received().back();
    const QJsonObject body = json(notify.body);
    EXPECT_EQ(body["file_name_system"_L1].toString(), u"system_upload.m4a"_s);
    EXPECT_TRUE(body["blob_url_system"_L1].toString().endsWith(QString::fromStdString(blobs[1].path.substr(6))));
    EXPECT_FALSE(body.contains("duration_seconds"_L1));
    EXPECT_TRUE(QFile::exists(mic) && QFile::exists(system)) << "local files are never deleted";
}

// A refused token is final; server errors, a frozen blob store and refused connections are
// retried with growing waits, and the run ends: the note processing once a try goes through, or failed.
TEST_F(UploadPipelineTest, FailuresAreRetriedUnlessForbiddenAndTheRunEnds)
{
    const struct {
        const char* name;
        int tokenFailures, tokenStatus, blobHangs;
        bool refused;
        QString failure; // empty: the note is processing
        int retries;
    } cases[] = {
        { "token forbidden", 1, 403, 0, false, u"Server error (403)"_s, 0 },
        { "token server error thrice", 3, 500, 0, false, u"Server error (500)"_s, 2 },
        { "token server error twice, then a token", 2, 500, 0, false, {}, 2 },
        { "blob store frozen once", 0, 500, 1, false, {}, 1 },
        { "blob store frozen for good", 0, 500, 3, false, u"Operation canceled"_s, 2 },
        { "blob store refusing connections", 0, 500, 0, true, u"Connection refused"_s, 2 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Log::Capture log;
        tokenFailures = c.tokenFailures;
        tokenStatus = c.tokenStatus;
        blobHangs = c.blobHangs;
        UploadPipeline pipeline(
            c.refused ? u"http://127.0.0.1:%1/blob/"_s.arg(closedPort()) : server.url(u"/blob/"_s).toString(),
            { 3, 0.5, 1s });
        const UploadStatus last = runPipeline(pipeline, std::nullopt).last();
        ASSERT_EQ(last.stage(), c.failure.isEmpty() ? UploadStatus::Processing : UploadStatus::Failed)
            << last.label().toStdString();
        EXPECT_TRUE(last.message().startsWith(c.failure)) << last.message().toStdString();
        const QStringList retries = log.lines().filter(u"[Upload] retry attempt"_s);
        ASSERT_EQ(retries.size(), c.retries);
        for (int i = 0; i < c.retries; ++i) {
            EXPECT_TRUE(retries[i].startsWith(u"[Upload] retry attempt %1/3 after %2s — "_s.arg(i + 1).arg(i)))
                << retries[i].toStdString();
            EXPECT_TRUE(c.failure.isEmpty() || retries[i].endsWith(u"— "_s + last.message()))
                << retries[i].toStdString();
        }
        EXPECT_EQ(log.contains(u"[Upload] ── pipeline FAILED: "_s + last.message() + u" ──"_s), !c.failure.isEmpty());
        EXPECT_EQ(log.contains(u"[Upload] fetchUploadToken error body: token says no"_s), c.tokenFailures > 0);
    }
}

TEST_F(UploadPipelineTest, MalformedRepliesAndAddressesFailWithTheirTexts)
{
    UploadPipeline pipeline = fastPipeline();
    UploadPipeline broken(u"not a url/"_s, {1, 0});
    EXPECT_EQ(runPipeline(broken, std::nullopt).last(), UploadStatus::failed(u"Server error (0)"_s));

    notifyReply = R"({"success": true})";
    EXPECT_EQ(runPipeline(pipeline, std::nullopt).last(), UploadStatus::processing(0));

    const QString bare = writeFile(u"recording"_s, 10);
    server.clearReceived();
    runPipeline(pipeline, std::nullopt, bare);
    const auto got = server.received();
    const auto put = std::find_if(got.begin(), got.end(), [](auto &r) { return r.method == "PUT"; });
    ASSERT_NE(put, got.end());
    EXPECT_TRUE(QString::fromStdString(put->path).endsWith(u".m4a"_s));
    EXPECT_EQ(put->header("Content-Type"), "application/octet-stream");
}

TEST_F(UploadPipelineTest, LargeTrackStreamsFromDiskWithoutGrowingMemory)
{
    const qint64 size = 300LL * 1024 * 1024;
    QFile big(dir.filePath(u"big.m4a"_s));
    big.open(QIODevice::WriteOnly);
    const QByteArray chunk(1 << 20, 'z');
    for (qint64 written = 0; written < size; written += chunk.size())
        big.write(chunk);
    big.close();

    UploadPipeline pipeline = fastPipeline();
    const long before = residentKiB();
    const auto statuses = runPipeline(pipeline, std::nullopt, big.fileName());
    const long growth = residentKiB() - before;
    EXPECT_EQ(statuses.last(), UploadStatus::processing(77));
    EXPECT_EQ(blobBytes.load(), size_t(size));
    EXPECT_LT(growth, 32 * 1024) << "resident memory grew by " << growth << " KiB";
    std::cout << "[figure] 300 MB upload: resident growth " << growth / 1024 << " MiB\n";
}
