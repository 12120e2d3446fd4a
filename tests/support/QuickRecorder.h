#pragma once

#include "AudioCaptureManager.h"
#include "AudioRecorder.h"
#include "Await.h"
#include "RecordingLibrary.h"
#include "UploadPipeline.h"
#include "UploadQueue.h"

#include <memory>

// Short capture waits: a restart settles in 300 ms, the real cool-down.
inline CaptureTimings quickTimings()
{
    using namespace std::chrono_literals;
    return CaptureTimings { 300ms, 1000ms, 50ms, 300ms, 5000ms };
}

// Capture managers writing under `documents` (empty: the user's Documents), capturing from `soundServer` (empty:
// the test desktop's) with `timings`, each with the disk limits `*limits` holds when it is made (none: the real ones).
inline AudioRecorder::ManagerFactory captureManagers(const QString& documents, CaptureTimings timings = quickTimings(),
    QString soundServer = {}, const DiskLimits* limits = nullptr)
{
    return [=] {
        AudioTrackWriter::Options options;
        options.documentsDirectory = documents;
        auto manager = std::make_unique<AudioCaptureManager>(timings, options);
        manager->setSoundServer(soundServer);
        if (limits)
            manager->setDiskLimits(*limits);
        return manager;
    };
}

// A recorder with those capture managers.
inline std::unique_ptr<AudioRecorder> makeQuickRecorder(const QString& documents,
    CaptureTimings timings = quickTimings(), QString soundServer = {}, const DiskLimits* limits = nullptr)
{
    return std::make_unique<AudioRecorder>(captureManagers(documents, timings, std::move(soundServer), limits));
}

// The library of `recorder`'s sessions under `documents`, signed in as one account whose bearer token `token`
// gives, uploading to the blob store at `blobURL` (one attempt).
inline std::unique_ptr<RecordingLibrary> makeQuickLibrary(
    AudioRecorder* recorder, const QString& blobURL, const QString& documents, TokenProvider token)
{
    auto* pipeline = new UploadPipeline(blobURL, { 1, 0 });
    auto library = std::make_unique<RecordingLibrary>(
        recorder,
        [] {
            return std::optional(SessionJournal::Owner { QStringLiteral("me"), QStringLiteral("me@x") });
        },
        std::move(token), AudioTrackWriter::recordingsFolder(documents), pipeline);
    pipeline->setParent(library.get());
    return library;
}

// One run of the upload queue over the session folder `folder`, whose journal names the upload tracks `mic` and
// `system` of an account whose bearer token is `token`: every stage it reports, to the end of the run or to its first
// wait for the network.
inline QList<UploadStatus> runUploadQueue(UploadPipeline& pipeline, const QString& folder, const QString& mic,
    const std::optional<QString>& system, const QString& token)
{
    using Track = SessionJournal::Track;
    SessionJournal journal(folder);
    journal.setOwner(SessionJournal::Owner { QStringLiteral("u"), {} });
    journal.setExported({ mic, {}, {}, {} }, system ? std::optional(Track { *system, {}, {}, {} }) : std::nullopt);
    journal.save();
    UploadQueue queue(&pipeline,
        [token](const QString& owner) { return owner == QStringLiteral("u") ? std::optional(token) : std::nullopt; });
    QList<UploadStatus> out;
    bool ended = false;
    QObject::connect(&queue, &UploadQueue::statusChanged,
        [&](auto, const UploadStatus& s) { out << s, ended = ended || s.stage() == UploadStatus::WaitingForNetwork; });
    QObject::connect(&queue, &UploadQueue::finished, [&] { ended = true; });
    queue.submit(folder);
    waitUntil([&] { return ended; }, 90000);
    return out;
}
