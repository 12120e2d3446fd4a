#pragma once

#include <atomic>
#include <cstdint>

// What the client and libechoquill-media, the module that holds every use of
// FFmpeg, say to each other. Plain types only: no exception and no allocation
// crosses it, so either side may be built with other flags.
extern "C" {

enum EqMediaFailureKind {
    eqMediaNoAudioTrack = 1, // `path`: the segment
    eqMediaExportFailed, // `text`: the encoder's reason
    eqMediaCannotCreateExporter,
    eqMediaFileError, // `systemError` and `path`
};

struct EqMediaFailure {
    int kind;
    int systemError;
    char text[512];
    char path[4096];
};

// Both return 0 on success, otherwise non-zero with `failure` filled in.
// Encodes the segments, end to end, into one AAC upload track at `output`.
typedef int (*EqMediaEncode)(const char* const* segments, int count, const char* output, int twoLoopCoder,
    const std::atomic<bool>* cancel, EqMediaFailure* failure);
// Whether the file has an audio track, and its seconds (0 when unknown).
typedef int (*EqMediaProbe)(const char* path, int* hasAudioTrack, double* seconds, EqMediaFailure* failure);

// An upload track encoded as the audio arrives, with the export's format, coder and bit rate.
struct EqMediaLiveTrack;
enum EqMediaSampleFormat { eqMediaFloat32, eqMediaFloat64, eqMediaInt16, eqMediaInt32 };
// Starts a track at `path` for audio of this rate and channel count; null with `failure` filled in.
typedef EqMediaLiveTrack* (*EqMediaLiveOpen)(const char* path, double rate, int channels, EqMediaFailure* failure);
// Encodes `frames` frames: `planes` holds one pointer for interleaved samples, else one per channel. Samples of
// another rate or channel count than the track's are converted. 0 on success.
typedef int (*EqMediaLivePush)(EqMediaLiveTrack* track, const void* const* planes, int frames, int sampleFormat,
    int interleaved, double rate, int channels, EqMediaFailure* failure);
// How much of a live track is on the disk: its file's first `bytes` hold `packets` packets, which encode the
// first `inputFrames` frames pushed.
struct EqMediaCheckpoint {
    uint64_t packets;
    uint64_t bytes;
    uint64_t inputFrames;
};
// Puts what is encoded on the disk and says how much that is. 0 on success.
typedef int (*EqMediaLiveCheckpoint)(EqMediaLiveTrack* track, EqMediaCheckpoint* checkpoint, EqMediaFailure* failure);
// Encodes the tail and writes the track to `output`, header first; the file at the track's path goes. 0 on success.
typedef int (*EqMediaLiveFinish)(EqMediaLiveTrack* track, const char* output, EqMediaFailure* failure);
// Frees the track; an unfinished one's file is removed.
typedef void (*EqMediaLiveClose)(EqMediaLiveTrack* track);
// The upload track of segments whose first frames a killed recording's live track already holds: the packets
// of `part` up to `checkpoint`, then the segments' frames after `checkpoint->inputFrames`. 0 on success.
typedef int (*EqMediaResume)(const char* part, const EqMediaCheckpoint* checkpoint, const char* const* segments,
    int count, const char* output, const std::atomic<bool>* cancel, EqMediaFailure* failure);
}

inline constexpr const char eqMediaEncodeSymbol[] = "eq_media_encode";
inline constexpr const char eqMediaProbeSymbol[] = "eq_media_probe";
inline constexpr const char eqMediaLiveOpenSymbol[] = "eq_media_live_open";
inline constexpr const char eqMediaLivePushSymbol[] = "eq_media_live_push";
inline constexpr const char eqMediaLiveCheckpointSymbol[] = "eq_media_live_checkpoint";
inline constexpr const char eqMediaLiveFinishSymbol[] = "eq_media_live_finish";
inline constexpr const char eqMediaLiveCloseSymbol[] = "eq_media_live_close";
inline constexpr const char eqMediaResumeSymbol[] = "eq_media_resume";
