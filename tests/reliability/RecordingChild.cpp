// The client's recorder with the real capture manager, recording into the
// folder given as the first argument until it is killed. It prints
// "recording <session folder>" once the recording runs.
#include "QuickRecorder.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const QString documents = QString::fromLocal8Bit(argv[1]);
    // Its tracks encoded while recording reach the disk every second, so that a kill leaves some to take.
    CaptureTimings timings;
    timings.encoderCheckpointEvery = std::chrono::seconds(1);
    AudioRecorder recorder(captureManagers(documents, timings));
    QObject::connect(&recorder, &AudioRecorder::sessionFolderChanged, [&] {
        if (recorder.sessionFolder()) {
            std::printf("recording %s\n", qPrintable(*recorder.sessionFolder()));
            std::fflush(stdout);
        }
    });
    recorder.start();
    return app.exec();
}
