#include "UploadPipeline.h"
#include "APIClient.h"
#include "Await.h"
#include "Endpoints.h"
#include "ProcStatus.h"
#include "QuickRecorder.h"
#include "TestFiles.h"
#include "TestServer.h"

#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// A service and blob store that answer like the real ones, with knobs for failures.
class UploadPipelineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto& s = server.server();
        s.Post("/api/desktop/meeting-notes/upload-token", [this](const httplib::Request& req, httplib::Response& res) {
            if (tokenFailures > 0)
                return --tokenFailures, res.status = tokenStatus, res.set_content("token says no", "text/plain");
            const QString path = jsonObject(req.body)["payload"_L1].toObject()["pathname"_L1].toString();
            res.set_content(("{\"clientToken\":\"ct:" + path + "\"}").toStdString(), "application/json");
        });
        s.Put(R"(/blob/(.*))", [this](auto& req, httplib::Response& res, const httplib::ContentReader& read) {
            if (blobHangs.fetch_sub(1) > 0)
                return std::this_thread::sleep_for(2s); // a frozen store: not answered before the client gives up
            size_t received = 0;
            read([&](const char*, size_t n) { return received += n, true; });
            blobBytes.store(received);
            const std::string url = store().toStdString() + req.matches[1].str();
            res.set_content("{\"url\":\"" + url + "\"}", "application/json");
        });
        s.Post("/api/desktop/meeting-notes",
            [this](auto&, auto& res) { res.set_content(notifyReply, "application/json"); });
        server.start();
        Endpoints::setServiceOrigin(server.origin());
        mic = writeBytes(dir.filePath(u"upload_track.m4a"_s), 3000);
        system = writeBytes(dir.filePath(u"system_upload.m4a"_s), 5000);
    }
    void TearDown() override { APIClient::shared().network().clearConnectionCache(); }

    // One run of the upload queue over tracks in `dir` as a stop leaves them.
    QList<UploadStatus> runPipeline(UploadPipeline& pipeline, std::optional<QString> sys = {}, QString track = {})
    {
        return runUploadQueue(pipeline, dir.path(), QFileInfo(track.isEmpty() ? mic : track).fileName(),
            sys ? std::optional(QFileInfo(*sys).fileName()) : std::nullopt, u"bearer-1"_s);
    }

    QString store() { return server.url(u"/blob/"_s).toString(); }

    TestServer server;
    QTemporaryDir dir;
    QString mic, system;
    int tokenFailures = 0, tokenStatus = 500;
    std::string notifyReply = R"({"success": true, "note_id": 77})";
    std::atomic_size_t blobBytes = 0;
    std::atomic_int blobHangs = 0;
};

}

TEST_F(UploadPipelineTest, RunsSendBothTracksWithTheirOwnTokensAndKeysAndMalformedRepliesFailWithTheirTexts)
{
    UploadPipeline pipeline(store(), { 3, 0.5 });
    EXPECT_EQ(runPipeline(pipeline),
        (QList<UploadStatus> { UploadStatus::uploading(), UploadStatus::notifying(), UploadStatus::processing(77) }));
    ASSERT_EQ(server.received().size(), 3u) << "one token, one upload, one note";
    const auto notify = server.received().back();
    EXPECT_EQ(jsonObject(notify.body).keys(), (QStringList { u"blob_url"_s, u"file_name"_s }));
    EXPECT_EQ(jsonObject(notify.body)["file_name"_L1].toString(), u"upload_track.m4a"_s);
    server.clearReceived();
    ASSERT_EQ(runPipeline(pipeline, system).last(), UploadStatus::processing(77));
    std::vector<TestServer::Received> tokens, blobs;
    for (const auto& r : server.received())
        (r.method == "PUT" ? blobs : tokens).push_back(r);
    ASSERT_EQ(std::pair(tokens.size(), blobs.size()), std::pair(size_t(3), size_t(2))) << "two tokens and a note";
    const QString pathname = jsonObject(tokens[0].body)["payload"_L1]["pathname"_L1].toString();
    EXPECT_TRUE(QRegularExpression(u"^recordings/[0-9a-f-]{36}\\.m4a$"_s).match(pathname).hasMatch());
    EXPECT_EQ(jsonObject(tokens[0].body),
        jsonObject(R"({"type": "blob.generate-client-token", "payload": {"pathname": ")" + pathname.toStdString()
            + R"(", "clientPayload": null, "callbackUrl": "", "multipart": false}})"));
    EXPECT_FALSE(tokens[0].hasHeader("Authorization"));
    EXPECT_EQ(blobs[0].header("Content-Type"), "audio/mp4");
    const QJsonObject body = jsonObject(tokens[2].body);
    EXPECT_EQ(body["file_name_system"_L1].toString(), u"system_upload.m4a"_s);
    EXPECT_FALSE(body.contains("duration_seconds"_L1));
    EXPECT_TRUE(QFile::exists(mic) && QFile::exists(system)) << "local files are never deleted";

    // A large track streams from disk without growing memory.
    const qint64 size = 300LL * 1024 * 1024;
    QFile big(dir.filePath(u"big.m4a"_s));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(size));
    const long before = long(procStatusKiB("RssAnon"));
    const auto statuses = runPipeline(pipeline, {}, big.fileName());
    const long growth = long(procStatusKiB("RssAnon")) - before;
    EXPECT_EQ(statuses.last(), UploadStatus::processing(77));
    EXPECT_EQ(blobBytes.load(), size_t(size));
    EXPECT_LT(growth, 32 * 1024) << "heap (anonymous resident memory) grew by " << growth << " KiB";
    std::cout << "[figure] 300 MB upload: resident growth " << growth / 1024 << " MiB\n";

    // A bad address, a reply without a note, a track without a known extension.
    UploadPipeline broken(u"not a url/"_s, { 1, 0 });
    EXPECT_EQ(runPipeline(broken).last(), UploadStatus::failed(u"Server error (0)"_s));
    notifyReply = R"({"success": true})";
    server.clearReceived();
    EXPECT_EQ(
        runPipeline(pipeline, {}, writeBytes(dir.filePath(u"recording"_s), 10)).last(), UploadStatus::processing(0));
    const auto put = server.received().at(1);
    EXPECT_TRUE(put.method == "PUT" && QString::fromStdString(put.path).endsWith(u".m4a"_s)) << put.path;
    EXPECT_EQ(put.header("Content-Type"), "application/octet-stream");

    // A missing or empty track fails the run before any request.
    server.clearReceived();
    const QString gone = dir.filePath(u"gone.m4a"_s), empty = writeBytes(dir.filePath(u"empty.m4a"_s), 0);
    EXPECT_EQ(runPipeline(pipeline, system, gone).last(),
        UploadStatus::failed(u"Cannot read gone.m4a: No such file or directory"_s));
    EXPECT_EQ(runPipeline(pipeline, empty).last(), UploadStatus::failed(u"Cannot read empty.m4a: the file is empty"_s));
    EXPECT_EQ(server.received().size(), 0u);
}

// A refused token is final; server errors, a frozen or refusing blob store are retried with growing waits, and
// a store that never answers makes the session wait for the network rather than fail.
TEST_F(UploadPipelineTest, FailuresAreRetriedUnlessForbiddenAndTheRunEnds)
{
    const UploadPipeline byDefault; // as the client makes it: two seconds, then four
    EXPECT_EQ(std::pair(byDefault.retryWait(1), byDefault.retryWait(2)), std::pair(2000ms, 4000ms));
    // Token failures and their status, frozen blob replies, a closed store; the failure (none: processing), the
    // token requests made.
    const std::tuple<const char*, int, int, int, bool, QString, int> cases[] = {
        { "token forbidden", 1, 403, 0, false, u"Server error (403)"_s, 1 },
        { "token server error thrice", 3, 500, 0, false, u"Server error (500)"_s, 3 },
        { "token server error twice, then a token", 2, 500, 0, false, {}, 3 },
        { "blob store frozen once", 0, 500, 1, false, {}, 1 },
        { "blob store frozen for good", 0, 500, 3, false, u"waits"_s, 1 },
        { "blob store refusing connections", 0, 500, 0, true, u"waits"_s, 1 },
    };
    for (const auto& [name, failures, status, hangs, refused, failure, tokenRequests] : cases) {
        SCOPED_TRACE(name);
        server.clearReceived();
        tokenFailures = failures, tokenStatus = status, blobHangs = hangs;
        UploadPipeline pipeline(refused ? u"http://127.0.0.1:%1/blob/"_s.arg(closedPort()) : store(), { 3, 0.5, 1s });
        const UploadStatus last = runPipeline(pipeline).last();
        const bool waits = failure == u"waits"_s;
        EXPECT_EQ(std::pair(last.stage(), waits ? QString() : last.message().left(failure.size())),
            std::pair(waits             ? UploadStatus::WaitingForNetwork
                    : failure.isEmpty() ? UploadStatus::Processing
                                        : UploadStatus::Failed,
                waits ? QString() : failure));
        EXPECT_EQ(server.count("/api/desktop/meeting-notes/upload-token"), size_t(tokenRequests));
    }
}
