#pragma once

#include "UploadStatus.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

#include <chrono>
#include <exception>
#include <functional>
#include <optional>
#include <stdexcept>
#include <utility>

// A track that cannot be sent: it does not open, or it is empty.
class UnreadableTrack : public std::runtime_error {
public:
    UnreadableTrack(const QString& file, const QString& error);
};

// Retries of the token and blob calls: attempts, and the first wait (doubled each time);
// how long the token and blob calls may go without any bytes moving.
struct UploadTimings {
    int attempts = 3;
    double retryBaseDelaySeconds = 2.0;
    std::chrono::milliseconds requestTimeout { 60000 };
    // While no request reaches the service at all, how often the upload queue tries again.
    std::chrono::milliseconds networkRetryInterval { 10000 };
};

// Moves a recording's upload tracks to the blob store with client tokens from
// the service, then tells the service where they are: the single calls, their
// retry waits and error texts; the upload queue strings them together.
class UploadPipeline : public QObject {
    Q_OBJECT
public:
    using Timings = UploadTimings;

    // `blobEndpoint` is the blob store's upload base, ending in a slash.
    explicit UploadPipeline(
        QString blobEndpoint = defaultBlobEndpoint(), Timings timings = {}, QObject* parent = nullptr);

    // (client token, path name) for one file.
    QCoro::Task<std::pair<QString, QString>> fetchUploadToken(QString file, QString token);
    // The blob's public address. `onSent` hears the bytes of the body sent so far.
    QCoro::Task<QString> uploadToBlobStore(
        QString file, QString pathname, QString clientToken, std::function<void(qint64)> onSent = {});
    // Tells the service where a recording's tracks are; the note id it answers with (0 when none).
    QCoro::Task<qint64> notifyBackend(QString micBlob, std::optional<QString> systemBlob, QString micName,
        std::optional<QString> systemName, QString token);

    [[nodiscard]] const Timings& timings() const { return m_timings; }

    // Throws UnreadableTrack unless `file` opens and holds something: checked before any request.
    static void requireReadable(const QString& file);

    static QString defaultBlobEndpoint();
    static QString pathNameFor(const QString& file);
    static QString contentTypeFor(const QString& file);
    // The user-facing description of anything a step can raise.
    static QString describe(const std::exception_ptr& error);
    // Inside a catch block: the error of a failed try, or rethrows it when trying again cannot help (403).
    static std::exception_ptr retryableError();
    // Logs the retry line for try `attempt` (from 1) of `attempts` and waits its backoff.
    QCoro::Task<> pauseBeforeRetry(int attempt, int attempts, std::exception_ptr error) const;
    // The backoff after try `attempt` (from 1): the first wait, doubled for each later try.
    [[nodiscard]] std::chrono::milliseconds retryWait(int attempt) const;

private:
    QString m_blobEndpoint;
    Timings m_timings;
};
