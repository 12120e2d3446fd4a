#include "AudioExportService.h"

#include "AudioExportError.h"
#include "BackgroundTask.h"
#include "MediaModule.h"

#include <QFile>

#include <vector>

QCoro::Task<> AudioExportService::exportUploadTrack(QStringList segments, QString outputURL, Options options)
{
    auto work = [segments, outputURL, options] { encodeUploadTrack(segments, outputURL, options); };
    QCoro::Task<> encoding = runInBackground(*QThreadPool::globalInstance(), std::move(work));
    co_await std::move(encoding);
}

namespace {

// The segments' names as the module takes them; the pointers point into `names`.
std::vector<const char*> namesOf(const QStringList& segments, std::vector<QByteArray>& names)
{
    if (segments.isEmpty())
        throw AudioExportError(AudioExportError::noSegments);
    std::vector<const char*> pointers;
    names.reserve(std::size_t(segments.size()));
    for (const QString& segment : segments)
        pointers.push_back(names.emplace_back(QFile::encodeName(segment)).constData());
    return pointers;
}

}

void AudioExportService::encodeUploadTrack(
    const QStringList& segments, const QString& outputURL, const Options& options)
{
    std::vector<QByteArray> names;
    const std::vector<const char*> pointers = namesOf(segments, names);
    EqMediaFailure failure {};
    if (MediaModule::instance().encode(pointers.data(), int(pointers.size()), QFile::encodeName(outputURL).constData(),
            options.coder == AudioExportOptions::Coder::twoLoop, options.cancel, &failure)
        != 0)
        MediaModule::raise(failure);
}

void AudioExportService::resumeUploadTrack(const QString& part, const EqMediaCheckpoint& checkpoint,
    const QStringList& segments, const QString& outputURL, const Options& options)
{
    std::vector<QByteArray> names;
    const std::vector<const char*> pointers = namesOf(segments, names);
    EqMediaFailure failure {};
    if (MediaModule::instance().resume(QFile::encodeName(part).constData(), &checkpoint, pointers.data(),
            int(pointers.size()), QFile::encodeName(outputURL).constData(), options.cancel, &failure)
        != 0)
        MediaModule::raise(failure);
}
