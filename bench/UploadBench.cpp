// One large upload track through the client's blob upload (the pipeline's own
// step, streamed from disk) against the local service: throughput and how far
// the client's resident memory grows; next to `curl -T` of the same file to the
// same service with a client token of its own. Run by scripts/bench with the
// local service up and its test controls on.
//
//   bench_upload ORIGIN [SIZE_MIB] [RUNS]
//
// The pipeline's log lines go to standard output with the "[figure]" lines;
// scripts/bench keeps only the latter on screen.
#include "APIClient.h"
#include "Await.h"
#include "Endpoints.h"
#include "ProcStatus.h"
#include "UploadPipeline.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <spawn.h>
#include <sys/wait.h>

using namespace Qt::StringLiterals;

extern char** environ;

namespace {

struct TokenReply {
    QString token;
    static TokenReply fromJson(const Json::ObjectReader& r) { return { r.required<QString>("token"_L1) }; }
};

struct Success {
    static Success fromJson(const Json::ObjectReader&) { return {}; }
};

// Starts the peak of resident memory (VmHWM) afresh from the current size.
void resetPeak()
{
    QFile clear(u"/proc/self/clear_refs"_s);
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

QString writeTrack(const QString& path, qint64 mib)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    QByteArray chunk(1 << 20, '\0');
    for (qint64 i = 0; i < chunk.size(); ++i)
        chunk[i] = char((i * 7919) >> 3);
    for (qint64 m = 0; m < mib; ++m) {
        chunk[0] = char(m);
        file.write(chunk);
    }
    return path;
}

// Reads the file once, so that every upload reads it from the page cache.
void warm(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    while (!file.read(1 << 20).isEmpty()) { }
}

struct Measured {
    double seconds = 0;
    double residentGrowthMiB = 0;
    bool ok = false;
};

Measured clientUpload(UploadPipeline& pipeline, const QString& file, const QString& token)
{
    const auto [clientToken, pathname] = await(pipeline.fetchUploadToken(file, token));
    const qint64 before = procStatusKiB("VmRSS");
    resetPeak();
    QElapsedTimer clock;
    clock.start();
    const QString url = await(pipeline.uploadToBlobStore(file, pathname, clientToken));
    Measured m;
    m.seconds = clock.nsecsElapsed() / 1e9;
    m.residentGrowthMiB = (procStatusKiB("VmHWM") - before) / 1024.0;
    m.ok = !url.isEmpty();
    return m;
}

// `curl -T` of the same file with a client token of its own, and curl's peak resident memory.
Measured curlUpload(
    UploadPipeline& pipeline, const QString& blobBase, const QString& file, const QString& token, double& curlPeakMiB)
{
    const auto [clientToken, pathname] = await(pipeline.fetchUploadToken(file, token));
    const QByteArray url = (blobBase + pathname).toUtf8();
    const QByteArray authorization = "Authorization: Bearer " + clientToken.toUtf8();
    const QByteArray length = "x-content-length: " + QByteArray::number(QFile(file).size());
    const QByteArray path = file.toLocal8Bit();
    std::vector<const char*> argv { "curl", "-sS", "-o", "/dev/null", "-w", "%{http_code}", "-T", path.constData(),
        "-H", authorization.constData(), "-H", "Content-Type: audio/mp4", "-H", length.constData(), url.constData(),
        nullptr };

    int out[2];
    if (pipe(out) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "curl", &actions, nullptr, const_cast<char* const*>(argv.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        std::fprintf(stderr, "curl could not be started\n");
        return {};
    }
    // curl's own peak, read while it runs: the kernel's figure after the fact would count this
    // process's memory, which the child shared until it started curl.
    int status = 0;
    qint64 peakKiB = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        peakKiB = std::max(peakKiB, procStatusKiB("VmHWM", QString::number(pid)));
        usleep(2000);
    }
    Measured m;
    m.seconds = clock.nsecsElapsed() / 1e9;
    char code[16] = {};
    const ssize_t got = read(out[0], code, sizeof code - 1);
    close(out[0]);
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && got > 0 && QByteArray(code) == "200";
    if (!m.ok)
        std::fprintf(stderr, "curl ended with status %d and HTTP %s\n", WEXITSTATUS(status), code);
    curlPeakMiB = peakKiB / 1024.0;
    return m;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: bench_upload ORIGIN [SIZE_MIB] [RUNS]\n");
        return 2;
    }
    const QUrl origin(args[1]);
    const qint64 mib = args.value(2, u"300"_s).toLongLong();
    const int runs = args.value(3, u"3"_s).toInt();
    Endpoints::setServiceOrigin(origin);

    QTemporaryDir dir;
    const QString file = writeTrack(dir.filePath(u"upload_track.m4a"_s), mib);
    warm(file);
    const QString blobBase = origin.toString() + u"/blob/"_s;
    UploadPipeline pipeline(blobBase);

    QList<double> clientRates, curlRates, growth, curlPeaks;
    for (int run = 0; run < runs; ++run) {
        const QJsonObject demo { { u"email"_s, u"demo@echoquill.test"_s } };
        const QString token
            = await(APIClient::shared().post<TokenReply>(Endpoints::url(u"/__dev/token"_s), demo, std::nullopt)).token;

        const Measured client = clientUpload(pipeline, file, token);
        double curlPeak = 0;
        const Measured curl = curlUpload(pipeline, blobBase, file, token, curlPeak);
        if (!client.ok || !curl.ok)
            return 1;
        clientRates << mib / client.seconds;
        curlRates << mib / curl.seconds;
        growth << client.residentGrowthMiB;
        curlPeaks << curlPeak;
        std::fprintf(stderr, "run %d: client %.2f s (+%.1f MiB resident), curl -T %.2f s (peak %.1f MiB)\n", run,
            client.seconds, client.residentGrowthMiB, curl.seconds, curlPeak);
        // The service's blobs are thrown away between runs, so the disk does not fill up.
        await(APIClient::shared().post<Success>(Endpoints::url(u"/__dev/reset"_s), QJsonObject(), std::nullopt));
    }

    std::printf(
        "[figure] upload of a %lld MiB track to the local service: %.0f MiB/s, resident memory grew by at most "
        "%.1f MiB - curl -T of the same file: %.0f MiB/s, curl's own peak resident %.1f MiB (median of %d runs)\n",
        mib, median(clientRates), *std::max_element(growth.begin(), growth.end()), median(curlRates), median(curlPeaks),
        runs);
    return 0;
}
