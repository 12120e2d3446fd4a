#include "MediaProbe.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <mutex>

namespace MediaProbe {

std::optional<double> audioDurationSeconds(const std::filesystem::path& file)
{
    // A file that is not audio is an answer here, not something to report on stderr.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, file.c_str(), nullptr, nullptr) < 0)
        return std::nullopt;
    std::optional<double> seconds;
    if (avformat_find_stream_info(context, nullptr) >= 0) {
        const int index = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (index >= 0) {
            const AVStream* stream = context->streams[index];
            if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
                seconds = double(stream->duration) * av_q2d(stream->time_base);
            else if (context->duration != AV_NOPTS_VALUE && context->duration > 0)
                seconds = double(context->duration) / AV_TIME_BASE;
        }
    }
    avformat_close_input(&context);
    return seconds;
}

}
