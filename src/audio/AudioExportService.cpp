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

void AudioExportService::encodeUploadTrack(
    const QStringList& segments, const QString& outputURL, const Options& options)
{
    if (segments.isEmpty())
        throw AudioExportError(AudioExportError::noSegments);
    const MediaModule& media = MediaModule::instance();
    std::vector<QByteArray> names;
    std::vector<const char*> pointers;
    names.reserve(std::size_t(segments.size()));
    for (const QString& segment : segments)
        pointers.push_back(names.emplace_back(QFile::encodeName(segment)).constData());
    EqMediaFailure failure {};
    if (media.encode(pointers.data(), int(pointers.size()), QFile::encodeName(outputURL).constData(),
            options.coder == AudioExportOptions::Coder::twoLoop, options.cancel, &failure)
        != 0)
        MediaModule::raise(failure);
}
