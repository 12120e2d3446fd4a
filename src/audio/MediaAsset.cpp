#include "MediaAsset.h"

#include "FileError.h"

#include <QFile>

extern "C" {
#include <libavformat/avformat.h>
}

#include <mutex>
#include <system_error>

namespace {

// FFmpeg returns negated errno values for system failures and tags for its own.
bool isSystemError(int error)
{
    return error < 0 && -error < 4096;
}

}

MediaAsset::MediaAsset(const QString &path)
    : m_path(path)
{
    // The library's notes ("Estimating duration…") would reach standard error; our errors travel as exceptions.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_ERROR); });
    const QByteArray name = QFile::encodeName(path);
    const int opened = avformat_open_input(&m_context, name.constData(), nullptr, nullptr);
    if (opened < 0) {
        m_context = nullptr;
        if (isSystemError(opened))
            throw FileError(std::error_code(-opened, std::generic_category()), path);
        return;
    }
    if (avformat_find_stream_info(m_context, nullptr) < 0)
        return;
    const int index = av_find_best_stream(m_context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index >= 0)
        m_audioStream = m_context->streams[index];
}

MediaAsset::~MediaAsset()
{
    if (m_context)
        avformat_close_input(&m_context);
}

MediaAsset::MediaAsset(MediaAsset &&other) noexcept
    : m_path(std::move(other.m_path))
    , m_context(std::exchange(other.m_context, nullptr))
    , m_audioStream(std::exchange(other.m_audioStream, nullptr))
{
}

double MediaAsset::durationSeconds() const
{
    if (!m_audioStream)
        return 0.0;
    if (m_audioStream->duration != AV_NOPTS_VALUE && m_audioStream->duration > 0)
        return double(m_audioStream->duration) * av_q2d(m_audioStream->time_base);
    if (m_context->duration != AV_NOPTS_VALUE && m_context->duration > 0)
        return double(m_context->duration) / AV_TIME_BASE;
    return 0.0;
}
