#pragma once

#include "MediaModuleAbi.h"

#include <filesystem>
#include <vector>

// libechoquill-media, loaded the first time a recording is exported or a
// segment is looked into: FFmpeg and the codec libraries it links (about a
// hundred) stay out of a client that sits idle.
class MediaModule {
public:
    // Throws AudioExportError when the module cannot be loaded.
    static const MediaModule& instance();
    // The same entry points, open to change: the tests' seam, to put one that fails in place of the module's
    // (and back) while no encoding runs. Nothing else calls it.
    static MediaModule& replaceableForTests();

    EqMediaEncode encode = nullptr;
    EqMediaProbe probe = nullptr;
    EqMediaLiveOpen liveOpen = nullptr;
    EqMediaLivePush livePush = nullptr;
    EqMediaLiveCheckpoint liveCheckpoint = nullptr;
    EqMediaLiveFinish liveFinish = nullptr;
    EqMediaLiveClose liveClose = nullptr;
    EqMediaResume resume = nullptr;

    // Where the program at `executable` looks for the module, in order: beside itself
    // (../lib/echoquill), and only for a program inside the build tree, the build tree's own.
    static std::vector<std::filesystem::path> candidates(const std::filesystem::path& executable);

    // Rethrows what the module reported as the error the callers know: AudioExportError or FileError.
    [[noreturn]] static void raise(const EqMediaFailure& failure);
};
