// The meetings screen offers what a killed client left behind: an
// "Interrupted recording" card with its date and length; Discard asks first
// and then moves the folder to the trash, Upload turns it into a processing card.
#include "AudioTrackWriter.h"
#include "DemoSession.h"
#include "PcmBuffer.h"
#include "RecordingRecovery.h"

#include <QDir>
#include <QScopeGuard>

#include <gtest/gtest.h>

#include <cmath>

using namespace Qt::StringLiterals;
using namespace ScreenDriver;

namespace {

// A session as a killed client leaves it: `seconds` of a tone in its segments, and no metadata.
QString leaveSession(int seconds, const QDateTime& start)
{
    AudioTrackWriter::Options options;
    options.now = [start] { return start; };
    AudioTrackWriter writer(options);
    const AudioFormat mono { 48000, 1, AudioFormat::CommonFormat::Float32, true };
    constexpr std::uint32_t frames = 4800;
    for (std::uint32_t buffer = 0; buffer < std::uint32_t(seconds) * 10; ++buffer) {
        auto pcm = PcmBuffer::create(mono, frames);
        pcm->setFrameLength(frames);
        float* samples = pcm->samples<float>(0);
        for (std::uint32_t f = 0; f < frames; ++f)
            samples[f] = 0.3f * float(std::sin(2 * M_PI * 440 * double(buffer * frames + f) / 48000.0));
        writer.writeMic(CapturedAudioBuffer { AudioCaptureSource::mic, 0, {}, mono, frames, std::move(pcm) });
    }
    return writer.sessionDirectory();
}

QQuickItem* card(QQuickItem* root, const char* type, const QString& length)
{
    return find(root, [&](QQuickItem* item) {
        return QByteArray(item->metaObject()->className()).startsWith(type) && byText(item, length);
    });
}

class InterruptedRecordings : public DemoSession { };

}

TEST_F(InterruptedRecordings, CardUploadsOrAfterAQuestionDiscards)
{
    const QString discarded = leaveSession(2, QDateTime::currentDateTime().addSecs(-3600));
    const QString uploaded = leaveSession(3, QDateTime::currentDateTime().addSecs(-60));
    const auto cleanUp = qScopeGuard([] { QDir(RecordingRecovery::defaultRecordingsFolder()).removeRecursively(); });
    AppWindow app;
    openWindow(app);
    await(app.delegate.recordingRecovery()->scan());
    click(app.window, byText(app.root(), u"Meetings"_s));
    ASSERT_TRUE(waitUntil([&] { return card(app.detailColumn(), "InterruptedRecordingCard", u"3S"_s); }));
    QQuickItem* column = app.detailColumn();
    QQuickItem* older = card(column, "InterruptedRecordingCard", u"2S"_s);
    ASSERT_TRUE(older);
    EXPECT_TRUE(byText(older, u"Interrupted recording"_s));

    click(app.window, byObjectName(older, u"discard"_s));
    EXPECT_TRUE(byText(older, u"Move this recording to the trash?"_s));
    EXPECT_TRUE(QDir(discarded).exists()) << "nothing goes before the answer";
    click(app.window, byObjectName(older, u"discard"_s));
    EXPECT_FALSE(QDir(discarded).exists());
    ASSERT_TRUE(waitUntil([&] { return !card(column, "InterruptedRecordingCard", u"2S"_s); }));

    click(app.window, byObjectName(card(column, "InterruptedRecordingCard", u"3S"_s), u"upload"_s));
    ASSERT_TRUE(waitUntil([&] { return card(column, "ProcessingMeetingCard", u"3S"_s); }));
    EXPECT_FALSE(card(column, "InterruptedRecordingCard", u"3S"_s));
    EXPECT_TRUE(QDir(uploaded).exists());
}
