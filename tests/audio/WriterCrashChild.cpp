// Writes both sources at real-time pace until it is killed, reporting after
// every pair of buffers how many frames each source has written.
#include "AudioTrackWriter.h"
#include "TestAudio.h"

#include <QCoreApplication>

#include <cstdio>
#include <thread>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    AudioTrackWriter::Options options;
    options.documentsDirectory = QString::fromLocal8Bit(argv[1]);
    AudioTrackWriter writer(options);
    std::printf("session %s\n", qPrintable(writer.sessionDirectory()));
    std::fflush(stdout);

    constexpr std::uint32_t frames = 4096;
    const AudioFormat mic = TestAudio::format(48000, 1, true);
    const AudioFormat system = TestAudio::format(48000, 2, false);
    auto next = std::chrono::steady_clock::now();
    for (std::uint64_t written = 0;; written += frames) {
        writer.writeMic(TestAudio::buffer(AudioCaptureSource::mic, mic, frames, written));
        writer.writeSystem(TestAudio::buffer(AudioCaptureSource::systemOutput, system, frames, written));
        std::printf("frames %llu\n", static_cast<unsigned long long>(written + frames));
        std::fflush(stdout);
        next += std::chrono::microseconds(frames * 1'000'000ull / 48000);
        std::this_thread::sleep_until(next);
    }
}
