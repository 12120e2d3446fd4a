#include "AudioCaptureManager.h"
#include "Await.h"
#include "SegmentRepair.h"
#include "TestAudio.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(SystemSegmentValidation, OnlyNonEmptyAudioSegmentsLargerThan16KiBPass)
{
    QTemporaryDir dir;
    const auto path = [&dir](const QString& name) { return QDir(dir.path()).filePath(name); };
    TestAudio::writeToneSegment(path(u"system_track_000.caf"_s), 48000, 2, 1.0, 0.5f);
    // What a recovery reads of a whole segment's description, leaving it as it is.
    const SegmentRepair::Result read = SegmentRepair::repair(path(u"system_track_000.caf"_s));
    EXPECT_EQ(
        std::tuple(read.frames, read.sampleRate, read.channels, read.repaired), std::tuple(48000u, 48000.0, 2u, false));
    writeBytes(path(u"system_track_001.caf"_s), 16384);
    writeBytes(path(u"system_track_002.caf"_s), 16385);
    TestAudio::writeEmptyCafSegment(path(u"system_track_004.caf"_s));
    TestAudio::writeToneSegment(path(u"system_track_005.caf"_s), 44100, 2, 0.5, 0.5f);

    QStringList skipped;
    const QStringList segments { path(u"system_track_000.caf"_s), path(u"system_track_001.caf"_s),
        path(u"system_track_002.caf"_s), path(u"system_track_003.caf"_s), path(u"system_track_004.caf"_s),
        path(u"system_track_005.caf"_s) };
    const QStringList valid = AudioCaptureManager::validSystemSegments(segments, skipped);

    EXPECT_EQ(valid, (QStringList { segments[0], segments[5] }));
    EXPECT_EQ(skipped.size(), 4) << "one note for each segment left out";
}

TEST(UploadTracksExport, AMicrophoneExportThatFailsLeavesTheSystemExportRunningToItsEnd)
{
    QTemporaryDir dir;
    const auto path = [&dir](const QString& name) { return QDir(dir.path()).filePath(name); };
    writeBytes(path(u"mic_track_000.caf"_s), 40000);
    TestAudio::writeToneSegment(path(u"system_track_000.caf"_s), 48000, 2, 10.0, 0.5f);
    QThreadPool pool;
    const RecordingFinalizeResult files { dir.path(), { path(u"mic_track_000.caf"_s) },
        { path(u"system_track_000.caf"_s) }, {} };
    const CaptureSessionResult result = await(AudioCaptureManager::exportUploadTracks(files, pool));

    EXPECT_FALSE(result.micURL);
    EXPECT_FALSE(QFile::exists(path(u"upload_track.m4a"_s)));
    ASSERT_EQ(result.systemURL, path(u"system_upload.m4a"_s));
    EXPECT_NEAR(TestAudio::probe(*result.systemURL).durationSeconds, 10.0, 1024.0 / 48000);
}
