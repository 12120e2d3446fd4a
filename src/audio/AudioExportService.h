#pragma once

#include "media/MediaModuleAbi.h"

#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <atomic>

// How an upload track is encoded.
struct AudioExportOptions {
    enum class Coder { fast, twoLoop };
    // FFmpeg's fast coder is about three times quicker than its two-loop
    // search and loses nothing a listener of speech would miss; the time
    // matters when an hour-long recording stops.
    Coder coder = Coder::fast;
    // Looked at between packets: when set, the export ends with "cancelled".
    const std::atomic<bool>* cancel = nullptr;
};

// Turns one source's segment files into its upload track: the segments end to
// end, in list order and without gaps, encoded as AAC-LC in an MPEG-4 audio
// file whose header comes first, at the first segment's rate and in mono or
// stereo as the first segment has it. Later segments in another format are
// resampled. The export streams: about one encoder frame of samples is held
// at a time.
class AudioExportService {
public:
    using Options = AudioExportOptions;

    // Encodes on a worker thread; the caller resumes on its own thread.
    // Throws AudioExportError, or FileError when a segment cannot be read or an
    // old output file cannot be removed. An existing output file is replaced.
    static QCoro::Task<> exportUploadTrack(QStringList segments, QString outputURL, Options options = {});
    // The same on the calling thread.
    static void encodeUploadTrack(const QStringList& segments, const QString& outputURL, const Options& options = {});
    // The same for a killed recording whose track was being encoded while it ran: the packets of `part` up to
    // `checkpoint`, then the segments' frames after those the checkpoint holds. Throws as above, also when the
    // part does not hold what the checkpoint says or holds more than the segments.
    static void resumeUploadTrack(const QString& part, const EqMediaCheckpoint& checkpoint, const QStringList& segments,
        const QString& outputURL, const Options& options = {});
};
