#pragma once

#include "AudioCaptureManager.h"
#include "AudioRecorder.h"
#include "UploadPipeline.h"

#include <memory>

// A recorder on the test sound server with short capture waits, writing under
// `documents` and uploading to the blob store at `blobURL` (one attempt).
inline std::unique_ptr<AudioRecorder> makeQuickRecorder(const QString &blobURL, const QString &documents)
{
    using namespace std::chrono_literals;
    auto *pipeline = new UploadPipeline(blobURL, {1, 0});
    auto recorder = std::make_unique<AudioRecorder>(
        [documents] {
            AudioTrackWriter::Options options;
            options.documentsDirectory = documents;
            return std::make_unique<AudioCaptureManager>(CaptureTimings{300ms, 1000ms, 50ms, 300ms, 5000ms}, options);
        },
        pipeline);
    pipeline->setParent(recorder.get());
    return recorder;
}
