#pragma once

#include <atomic>

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
}

inline constexpr const char eqMediaEncodeSymbol[] = "eq_media_encode";
inline constexpr const char eqMediaProbeSymbol[] = "eq_media_probe";
