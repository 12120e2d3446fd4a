// The upload pipeline while the local service goes away in the middle of a
// run: killed (connections refused) or frozen (connections accepted, never
// answered), and then either back on the same port with the same data or gone
// for good. A run must always end, with the note processing or "Failed: …".
#include "APIClient.h"
#include "Await.h"
#include "DevServerProcess.h"
#include "Endpoints.h"
#include "Log.h"
#include "MeetingStore.h"
#include "UploadPipeline.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <csignal>
#include <iostream>
#include <memory>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

enum class Outage { Killed, Frozen };

struct OutageCase {
    const char *name;
    Outage outage;
    // When the service goes away: before the run (empty), or once a log line
    // starting with this appears while the service holds that request.
    QString during;
    // How long the service holds every blob upload before reading it.
    int blobLatencyMs;
    bool comesBack;
    UploadTimings timings;
    // Start of the final status's text when the service never comes back.
    QString failure;
};

QString writeTrack(const QString &path, qint64 bytes)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(QByteArray(bytes, 'a'));
    return path;
}

// Runs the event loop for `ms`, so that replies and timers keep moving.
void spin(int ms)
{
    waitUntil([] { return false; }, ms);
}

// Everything the run said, and whether it ended.
struct RunRecord {
    QList<UploadStatus> statuses;
    bool ended = false;
};

QCoro::Task<> runAndRecord(UploadPipeline &pipeline, QString mic, QString system, QString token,
                           std::function<void(const UploadStatus &)> onStatus, RunRecord &record)
{
    co_await pipeline.run(mic, system, token, [&](const UploadStatus &s) {
        record.statuses << s;
        onStatus(s);
    });
    record.ended = true;
}

// An upper bound of a whole run: every attempt of the four retried calls at its
// time-out plus every retry wait, and the notify call; with slack for a busy machine.
int boundMs(const UploadTimings &t)
{
    double waits = 0;
    for (int a = 0; a < t.attempts - 1; ++a)
        waits += t.retryBaseDelaySeconds * (1 << a);
    return int(4 * (t.attempts * t.requestTimeout.count() + waits * 1000)) + 20000;
}

class UploadOutageTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        APIClient::shared().network().clearConnectionCache();
        APIClient::shared().setTimeout(60000);
    }
};

}

TEST_F(UploadOutageTest, ARunEndsProcessingOrFailedWhateverTheServiceDoes)
{
    const OutageCase cases[] = {
        // With the real retry waits (2 s, then 4 s) the restarted service is back in time.
        {"killed during the mic upload, back on the same port", Outage::Killed, u"[Upload] uploadToVercelBlob → PUT"_s,
         10000, true, {3, 2.0, 5s}, {}},
        {"killed during the mic upload, never back", Outage::Killed, u"[Upload] uploadToVercelBlob → PUT"_s, 10000, false,
         {3, 0.2, 5s}, u"Connection refused"_s},
        {"frozen from the start, thawed after the first retry", Outage::Frozen, {}, 0, true, {3, 0.5, 1s}, {}},
        {"frozen during the system upload, never thawed", Outage::Frozen, u"[Upload] step 4:"_s, 500, false, {3, 0.2, 2s},
         u"Operation canceled"_s},
    };

    for (const OutageCase &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir data;
        QTemporaryDir session;
        const QString mic = writeTrack(session.filePath(u"upload_track.m4a"_s), 4 << 20);
        const QString system = writeTrack(session.filePath(u"system_upload.m4a"_s), 1 << 20);
        const QStringList options{u"--data"_s, data.path(), u"--processing-seconds"_s, u"1"_s};

        auto service = std::make_unique<DevServerProcess>(options);
        ASSERT_TRUE(service->isRunning());
        const int port = service->port();
        const qint64 servicePid = service->pid();
        // A frozen service left frozen would never take the signal that ends it.
        const auto thaw = qScopeGuard([&] { ::kill(pid_t(servicePid), SIGCONT); });
        Endpoints::setServiceOrigin(service->origin());
        APIClient::shared().setTimeout(int(c.timings.requestTimeout.count()));
        const QString token = service->signIn();
        if (c.blobLatencyMs > 0)
            // Holds each blob upload on the service's side, so that the outage lands in the middle of one.
            service->control("POST", "/__dev/latency", {{u"ms"_s, c.blobLatencyMs}, {u"path"_s, u"/blob/*"_s}});

        MeetingStore store([token] { return std::optional(token); },
                           {std::chrono::milliseconds(10), std::chrono::milliseconds(10), std::chrono::milliseconds(300), 60});
        const QUuid pending = store.addPendingUpload(u"Session_outage"_s, 1.0);
        UploadPipeline pipeline(service->url(u"/blob/"_s).toString(), c.timings);

        const auto goAway = [&] {
            if (c.outage == Outage::Killed)
                service->kill();
            else
                ::kill(pid_t(servicePid), SIGSTOP);
        };
        Log::Capture log;
        RunRecord record;
        QElapsedTimer clock;
        clock.start();
        if (c.during.isEmpty())
            goAway();
        auto run = runAndRecord(pipeline, mic, system, token,
                                [&](const UploadStatus &s) { store.updatePendingUpload(pending, s); }, record);
        if (!c.during.isEmpty()) {
            ASSERT_TRUE(waitUntil([&] { return log.containsPrefix(c.during); }, 20000)) << log.lines().join(u'\n').toStdString();
            spin(200);
            goAway();
        }
        const qint64 awayAt = clock.elapsed();

        std::unique_ptr<DevServerProcess> back;
        qint64 backAt = -1;
        if (c.comesBack) {
            ASSERT_TRUE(waitUntil([&] { return log.containsPrefix(u"[Upload] retry attempt 1/"_s); }, 20000))
                << log.lines().join(u'\n').toStdString();
            if (c.outage == Outage::Killed) {
                back = std::make_unique<DevServerProcess>(options + QStringList{u"--port"_s, QString::number(port)});
                ASSERT_TRUE(back->isRunning()) << "the port was taken meanwhile";
            } else {
                ::kill(pid_t(servicePid), SIGCONT);
            }
            backAt = clock.elapsed();
        }

        const int bound = boundMs(c.timings);
        ASSERT_TRUE(waitUntil([&] { return record.ended; }, bound)) << "the run did not end within " << bound << " ms";
        const qint64 endedAt = clock.elapsed();
        ASSERT_FALSE(record.statuses.isEmpty());
        const UploadStatus last = record.statuses.last();
        const QStringList retries = log.lines().filter(u"[Upload] retry attempt"_s);
        EXPECT_FALSE(retries.isEmpty()) << "the outage is retried, and says so";
        EXPECT_EQ(store.pendingUpload(pending)->status, last);

        if (c.comesBack) {
            ASSERT_EQ(last.stage(), UploadStatus::Processing) << last.label().toStdString();
            ASSERT_GT(last.noteId().value_or(0), 0);
            // The restarted or thawed service has the note and the store finds it.
            EXPECT_TRUE(waitUntil([&] { return store.pendingUpload(pending)->status.stage() == UploadStatus::Done; }, 20000))
                << store.pendingUpload(pending)->status.label().toStdString();
            EXPECT_TRUE(std::any_of(store.meetings().begin(), store.meetings().end(),
                                    [&](const MeetingNote &n) { return n.id == *last.noteId(); }));
        } else {
            EXPECT_EQ(last.stage(), UploadStatus::Failed);
            EXPECT_TRUE(last.message().startsWith(c.failure)) << last.message().toStdString();
            EXPECT_EQ(retries.size(), c.timings.attempts - 1);
            EXPECT_TRUE(retries.last().endsWith(u"— "_s + last.message())) << retries.last().toStdString();
            EXPECT_EQ(store.pendingUpload(pending)->status.label(), u"Failed: "_s + last.message());
            EXPECT_TRUE(log.contains(u"[Upload] ── pipeline FAILED: "_s + last.message() + u" ──"_s));
        }
        EXPECT_TRUE(QFile::exists(mic) && QFile::exists(system)) << "local tracks are never deleted";

        std::cout << "[figure] upload with the service " << c.name << ": " << retries.size() << " retry line(s), away at "
                  << awayAt << " ms, back at " << backAt << " ms, ended at " << endedAt << " ms as \"" << last.label().toStdString()
                  << "\" (bound " << bound << " ms)\n";
        if (back) {
            EXPECT_TRUE(back->stop());
        }
        if (c.outage == Outage::Frozen) {
            ::kill(pid_t(servicePid), SIGCONT);
            EXPECT_TRUE(service->stop());
        }
    }
}
