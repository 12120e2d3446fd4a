#include "MediaModule.h"

#include "AudioExportError.h"
#include "FileError.h"

#include <QFile>
#include <QString>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include <dlfcn.h>

namespace {

constexpr char moduleFile[] = "libechoquill-media.so";

struct Loaded {
    MediaModule module;
    QString error;
};

// True when `path` lies inside `folder` (both absolute, without links or dot segments).
bool isInside(const std::filesystem::path& path, const std::filesystem::path& folder)
{
    auto [inFolder, inPath] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return inFolder == folder.end() || (std::next(inFolder) == folder.end() && inFolder->empty());
}

Loaded load()
{
    std::error_code ignored;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", ignored);
    Loaded loaded;
    for (const std::filesystem::path& candidate : MediaModule::candidates(executable)) {
        if (!std::filesystem::exists(candidate, ignored))
            continue;
        void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            loaded.error = QString::fromLocal8Bit(::dlerror());
            return loaded;
        }
        loaded.module.encode = reinterpret_cast<EqMediaEncode>(::dlsym(handle, eqMediaEncodeSymbol));
        loaded.module.probe = reinterpret_cast<EqMediaProbe>(::dlsym(handle, eqMediaProbeSymbol));
        MediaModule& module = loaded.module;
        module.liveOpen = reinterpret_cast<EqMediaLiveOpen>(::dlsym(handle, eqMediaLiveOpenSymbol));
        module.livePush = reinterpret_cast<EqMediaLivePush>(::dlsym(handle, eqMediaLivePushSymbol));
        module.liveCheckpoint = reinterpret_cast<EqMediaLiveCheckpoint>(::dlsym(handle, eqMediaLiveCheckpointSymbol));
        module.liveFinish = reinterpret_cast<EqMediaLiveFinish>(::dlsym(handle, eqMediaLiveFinishSymbol));
        module.liveClose = reinterpret_cast<EqMediaLiveClose>(::dlsym(handle, eqMediaLiveCloseSymbol));
        module.resume = reinterpret_cast<EqMediaResume>(::dlsym(handle, eqMediaResumeSymbol));
        if (!module.encode || !module.probe || !module.liveOpen || !module.livePush || !module.liveCheckpoint
            || !module.liveFinish || !module.liveClose || !module.resume)
            loaded.error = QString::fromUtf8(candidate.c_str()) + QStringLiteral(" lacks its entry points");
        return loaded;
    }
    loaded.error = QStringLiteral("%1 not found beside the program").arg(QLatin1String(moduleFile));
    return loaded;
}

}

// Installed, the module sits in lib/echoquill beside bin/, and nowhere else is looked at: a library planted
// elsewhere is never loaded. A program of the build tree (the client, the tests) also finds the tree's own.
std::vector<std::filesystem::path> MediaModule::candidates(const std::filesystem::path& executable)
{
    // Without its own path a program looks nowhere rather than relative to the working folder.
    if (!executable.is_absolute())
        return {};
    std::vector<std::filesystem::path> found {
        (executable.parent_path() / ECHOQUILL_MEDIA_MODULE_RELATIVE_DIR / moduleFile).lexically_normal()
    };
    std::error_code ignored;
    const std::filesystem::path buildTree = std::filesystem::weakly_canonical(ECHOQUILL_BUILD_TREE, ignored);
    if (!buildTree.empty() && isInside(executable.lexically_normal(), buildTree))
        found.push_back(std::filesystem::path(ECHOQUILL_MEDIA_MODULE_BUILD_DIR) / moduleFile);
    return found;
}

const MediaModule& MediaModule::instance()
{
    return replaceableForTests();
}

MediaModule& MediaModule::replaceableForTests()
{
    static Loaded loaded = load();
    if (!loaded.error.isEmpty())
        throw AudioExportError(
            AudioExportError::exportFailed, QStringLiteral("the media module could not be loaded: ") + loaded.error);
    return loaded.module;
}

void MediaModule::raise(const EqMediaFailure& failure)
{
    const QString path = QFile::decodeName(failure.path);
    switch (failure.kind) {
    case eqMediaNoAudioTrack:
        throw AudioExportError(AudioExportError::noAudioTrack, path);
    case eqMediaCannotCreateExporter:
        throw AudioExportError(AudioExportError::cannotCreateExporter);
    case eqMediaFileError:
        throw FileError(std::error_code(failure.systemError, std::generic_category()), path);
    default:
        throw AudioExportError(AudioExportError::exportFailed, QString::fromUtf8(failure.text));
    }
}
