#pragma once

#include <QString>

#include <cstdint>

// Makes a segment left open by a writer that died playable to its last whole
// frame: the CAF data chunk's size is set to the bytes that reached the disk
// (the writer brings it up to date only now and then), and a torn last frame
// is cut off. A file that was closed properly is left as it is.
class SegmentRepair {
public:
    struct Result {
        std::uint64_t frames = 0;
        double sampleRate = 0;
        std::uint32_t channels = 0;
        // True when the file had to be changed.
        bool repaired = false;
    };

    // Throws FileError when the file cannot be read or written, or is not a CAF file of linear PCM
    // (then with std::errc::illegal_byte_sequence).
    static Result repair(const QString& path);
};
