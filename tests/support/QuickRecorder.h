#pragma once

#include "AudioCaptureManager.h"
#include "AudioRecorder.h"
#include "RecordingLibrary.h"
#include "UploadPipeline.h"

#include <memory>

// Short capture waits: a restart settles in 300 ms, the real cool-down.
inline CaptureTimings quickTimings()
{
    using namespace std::chrono_literals;
    return CaptureTimings { 300ms, 1000ms, 50ms, 300ms, 5000ms };
}

// A recorder writing under `documents`, capturing from `soundServer` (empty: the test desktop's) with `timings`.
inline std::unique_ptr<AudioRecorder> makeQuickRecorder(
    const QString& documents, CaptureTimings timings = quickTimings(), QString soundServer = {})
{
    return std::make_unique<AudioRecorder>([documents, timings, soundServer] {
        AudioTrackWriter::Options options;
        options.documentsDirectory = documents;
        auto manager = std::make_unique<AudioCaptureManager>(timings, options);
        manager->setSoundServer(soundServer);
        return manager;
    });
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
