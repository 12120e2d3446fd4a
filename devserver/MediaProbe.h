#pragma once

#include <filesystem>
#include <optional>

// What the service learns about an uploaded track without decoding it.
namespace MediaProbe {

// The length of the file's first audio stream in seconds; nothing when the
// file is not audio that libavformat can read.
std::optional<double> audioDurationSeconds(const std::filesystem::path& file);

}
