#include "TestAudio.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(WriterCrash, SegmentsOfAKilledWriterPlayUpToTheLastSecond)
{
    QTemporaryDir documents;
    QProcess child;
    child.start(QStringLiteral(WRITER_CRASH_CHILD), { documents.path() });
    ASSERT_TRUE(child.waitForStarted());

    // The session directory and the frames per source the child last reported.
    QByteArray output;
    QString session;
    std::uint64_t reported = 0;
    auto parse = [&] {
        for (const QByteArray &line : output.split('\n')) {
            if (line.startsWith("session "))
                session = QString::fromLocal8Bit(line.mid(8));
            else if (line.startsWith("frames ") && line.size() > 7)
                reported = line.mid(7).toULongLong();
        }
    };

    // Let it write about 2.5 seconds of audio, then kill it without warning.
    QDeadlineTimer deadline(20000);
    while (reported < 120000 && !deadline.hasExpired()) {
        child.waitForReadyRead(100);
        output += child.readAllStandardOutput();
        parse();
    }
    child.kill();
    ASSERT_TRUE(child.waitForFinished());
    ASSERT_EQ(child.exitStatus(), QProcess::CrashExit);
    output += child.readAllStandardOutput();
    // Only whole lines count: a line cut by the kill is ignored.
    output.truncate(output.lastIndexOf('\n') + 1);
    parse();
    ASSERT_FALSE(session.isEmpty());
    ASSERT_GE(reported, 120000u);

    for (const auto &[name, channels] : { std::pair { "mic_track_000.caf", 1u }, std::pair { "system_track_000.caf", 2u } }) {
        SCOPED_TRACE(name);
        const auto contents = TestAudio::readSegment(QDir(session).filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(contents.opened);
        ASSERT_EQ(contents.channels, int(channels));
        // Everything up to the last header update is readable: at most a second and one buffer short.
        EXPECT_GE(contents.frames() + 48000 + 4096, reported);
        EXPECT_LE(contents.frames(), reported + 4096);
        int mismatches = 0;
        for (std::uint64_t f = 0; f < contents.frames(); ++f)
            for (std::uint32_t c = 0; c < channels; ++c)
                mismatches += contents.interleaved[f * channels + c] != TestAudio::sampleAt(f, c);
        EXPECT_EQ(mismatches, 0);
    }
}
