#include "AudioCaptureManager.h"
#include "UploadTrackCheck.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

void writeBytes(const QString &path, qint64 size)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(QByteArray(size, 'a'));
}

}

TEST(SystemSegmentValidation, OnlyNonEmptyAudioSegmentsLargerThan16KiBPass)
{
    QTemporaryDir dir;
    const auto path = [&dir](const QString &name) { return QDir(dir.path()).filePath(name); };
    UploadTrackCheck::writeToneSegment(path(u"system_track_000.caf"_s), 48000, 2, 1.0, 0.5f);
    writeBytes(path(u"system_track_001.caf"_s), 16384);
    writeBytes(path(u"system_track_002.caf"_s), 16385);
    UploadTrackCheck::writeEmptyCafSegment(path(u"system_track_004.caf"_s));
    UploadTrackCheck::writeToneSegment(path(u"system_track_005.caf"_s), 44100, 2, 0.5, 0.5f);

    QStringList skipped;
    const QStringList segments { path(u"system_track_000.caf"_s), path(u"system_track_001.caf"_s), path(u"system_track_002.caf"_s),
                                 path(u"system_track_003.caf"_s), path(u"system_track_004.caf"_s), path(u"system_track_005.caf"_s) };
    const QStringList valid = AudioCaptureManager::validSystemSegments(segments, skipped);

    EXPECT_EQ(valid, (QStringList { segments[0], segments[5] }));
    EXPECT_EQ(skipped, (QStringList {
                           u"[AudioCaptureManager] Skipping system_track_001.caf — too small (16384 bytes)"_s,
                           u"[AudioCaptureManager] Skipping system_track_002.caf — no audio tracks"_s,
                           u"[AudioCaptureManager] Skipping system_track_003.caf — file missing"_s,
                           u"[AudioCaptureManager] Skipping system_track_004.caf — zero duration"_s,
                       }));
}
