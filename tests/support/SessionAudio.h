#pragma once

#include "TestAudio.h"

#include <QString>
#include <QStringList>

#include <vector>

// One source of a session folder as it is on disk: its segment files in order,
// each as libsndfile reads it (a file left by a killed writer reads up to its
// last header update).
struct SourceOnDisk {
    QStringList fileNames;
    QStringList paths;
    std::vector<TestAudio::SegmentContents> segments;

    // `prefix` is "mic_track_" or "system_track_".
    static SourceOnDisk read(const QString& sessionDirectory, const QString& prefix);

    [[nodiscard]] bool allOpened() const;
    [[nodiscard]] double seconds() const;
    // Every sample the writer handed to the file system, read from the files' sizes: more than
    // seconds() for a file whose header was last brought up to date before its writer died.
    [[nodiscard]] double writtenSeconds() const;
    // Root mean square of every channel over [from, to) seconds of the first segment.
    [[nodiscard]] double rms(double from, double to) const;
};
