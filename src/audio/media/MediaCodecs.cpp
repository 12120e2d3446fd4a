// libechoquill-media: the FFmpeg side of the client, loaded on first use so that
// FFmpeg and the hundred codec libraries it links are not mapped into a client
// that sits idle. Its entry points are declared in MediaModuleAbi.h.
#include "MediaModuleAbi.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include <sys/stat.h>

namespace {

constexpr AVSampleFormat trackSampleFormat = AV_SAMPLE_FMT_FLTP;

// What went wrong, thrown inside the module and handed over as an EqMediaFailure.
struct Failure {
    explicit Failure(int kind, int systemError = 0, std::string text = {}, std::string path = {})
        : kind(kind)
        , systemError(systemError)
        , text(std::move(text))
        , path(std::move(path))
    {
    }

    int kind;
    int systemError;
    std::string text;
    std::string path;
};

std::string errorText(int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(error, text, sizeof text) < 0)
        return "unknown";
    return text;
}

[[noreturn]] void exportFailed(std::string reason)
{
    throw Failure { eqMediaExportFailed, 0, std::move(reason), {} };
}

void check(int result)
{
    if (result < 0)
        exportFailed(errorText(result));
}

template <class T> T* created(T* object)
{
    if (!object)
        throw Failure { eqMediaCannotCreateExporter };
    return object;
}

// FFmpeg returns negated errno values for system failures and tags for its own.
bool isSystemError(int error)
{
    return error < 0 && -error < 4096;
}

// A media file opened for reading, with its first audio track if it has one.
class InputFile {
public:
    // Throws a file error when the file cannot be read; a readable file that is
    // not a recognisable media file opens without an audio track.
    explicit InputFile(const char* path)
    {
        const int opened = avformat_open_input(&m_context, path, nullptr, nullptr);
        if (opened < 0) {
            m_context = nullptr;
            if (isSystemError(opened))
                throw Failure { eqMediaFileError, -opened, {}, path };
            return;
        }
        if (avformat_find_stream_info(m_context, nullptr) < 0)
            return;
        const int index = av_find_best_stream(m_context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (index >= 0)
            m_audioStream = m_context->streams[index];
    }

    ~InputFile()
    {
        if (m_context)
            avformat_close_input(&m_context);
    }

    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    [[nodiscard]] bool hasAudioTrack() const { return m_audioStream != nullptr; }
    [[nodiscard]] AVFormatContext* formatContext() const { return m_context; }
    [[nodiscard]] AVStream* audioStream() const { return m_audioStream; }

    // Seconds of the audio track (or of the file when the track does not say); 0 when unknown.
    [[nodiscard]] double durationSeconds() const
    {
        if (!m_audioStream)
            return 0.0;
        if (m_audioStream->duration != AV_NOPTS_VALUE && m_audioStream->duration > 0)
            return double(m_audioStream->duration) * av_q2d(m_audioStream->time_base);
        if (m_context->duration != AV_NOPTS_VALUE && m_context->duration > 0)
            return double(m_context->duration) / AV_TIME_BASE;
        return 0.0;
    }

private:
    AVFormatContext* m_context = nullptr;
    AVStream* m_audioStream = nullptr;
};

// The AAC encoder takes a fixed set of rates; anything else becomes 48 kHz.
int trackRate(int segmentRate)
{
    static constexpr int supported[]
        = { 96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350 };
    return std::find(std::begin(supported), std::end(supported), segmentRate) != std::end(supported) ? segmentRate
                                                                                                     : 48000;
}

// The AAC encoder and the MPEG-4 audio file it fills. Samples come in planar
// float at the track's rate and channels, in any amount; they leave in whole
// encoder frames, numbered on from the last, so segments follow one another exactly.
class TrackEncoder {
public:
    TrackEncoder(const char* path, int rate, int channels, bool twoLoop)
    {
        try {
            open(path, rate, channels, twoLoop);
        } catch (...) {
            release();
            throw;
        }
    }

    ~TrackEncoder() { release(); }

    TrackEncoder(const TrackEncoder&) = delete;
    TrackEncoder& operator=(const TrackEncoder&) = delete;

    [[nodiscard]] int rate() const { return m_codec->sample_rate; }
    [[nodiscard]] const AVChannelLayout& channelLayout() const { return m_codec->ch_layout; }

    void push(uint8_t** planes, int samples)
    {
        if (samples <= 0)
            return;
        if (av_audio_fifo_write(m_fifo, reinterpret_cast<void**>(planes), samples) < samples)
            exportFailed(errorText(AVERROR(ENOMEM)));
        while (av_audio_fifo_size(m_fifo) >= m_codec->frame_size)
            encodeFromFifo(m_codec->frame_size);
    }

    // The last partial frame, the encoder's delayed packets and the trailer, which moves the header to the front.
    void finish()
    {
        if (const int left = av_audio_fifo_size(m_fifo); left > 0)
            encodeFromFifo(left);
        // Without a single sample the muxer would write a file with no playable track.
        if (m_nextPts == 0)
            exportFailed("the segments hold no audio");
        send(nullptr);
        check(av_write_trailer(m_output));
        check(avio_closep(&m_output->pb));
    }

private:
    void open(const char* path, int rate, int channels, bool twoLoop)
    {
        avformat_alloc_output_context2(&m_output, nullptr, "ipod", path);
        created(m_output);
        const AVCodec* codec = created(avcodec_find_encoder_by_name("aac"));
        m_stream = created(avformat_new_stream(m_output, nullptr));
        m_codec = created(avcodec_alloc_context3(codec));

        m_codec->sample_fmt = trackSampleFormat;
        m_codec->sample_rate = rate;
        av_channel_layout_default(&m_codec->ch_layout, channels);
        m_codec->bit_rate = channels >= 2 ? 128000 : 64000;
        m_codec->profile = FF_PROFILE_AAC_LOW;
        m_codec->time_base = AVRational { 1, rate };
        if (m_output->oformat->flags & AVFMT_GLOBALHEADER)
            m_codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        AVDictionary* codecOptions = nullptr;
        av_dict_set(&codecOptions, "aac_coder", twoLoop ? "twoloop" : "fast", 0);
        const int opened = avcodec_open2(m_codec, codec, &codecOptions);
        av_dict_free(&codecOptions);
        check(opened);
        check(avcodec_parameters_from_context(m_stream->codecpar, m_codec));
        m_stream->time_base = m_codec->time_base;

        m_fifo = created(av_audio_fifo_alloc(trackSampleFormat, channels, m_codec->frame_size * 2));
        m_frame = created(av_frame_alloc());
        m_packet = created(av_packet_alloc());

        check(avio_open(&m_output->pb, path, AVIO_FLAG_WRITE));
        // Only the owner reads a recording, whatever the umask.
        ::chmod(path, S_IRUSR | S_IWUSR);
        // The header at the front, so a player can start before the whole file is there;
        // a time scale of the sample rate keeps the duration sample-exact.
        AVDictionary* muxerOptions = nullptr;
        av_dict_set(&muxerOptions, "movflags", "+faststart", 0);
        av_dict_set_int(&muxerOptions, "movie_timescale", rate, 0);
        const int written = avformat_write_header(m_output, &muxerOptions);
        av_dict_free(&muxerOptions);
        check(written);
    }

    void release()
    {
        av_packet_free(&m_packet);
        av_frame_free(&m_frame);
        if (m_fifo)
            av_audio_fifo_free(m_fifo);
        m_fifo = nullptr;
        avcodec_free_context(&m_codec);
        if (m_output) {
            if (m_output->pb)
                avio_closep(&m_output->pb);
            avformat_free_context(m_output);
            m_output = nullptr;
        }
    }

    void encodeFromFifo(int samples)
    {
        m_frame->nb_samples = samples;
        m_frame->format = trackSampleFormat;
        m_frame->sample_rate = m_codec->sample_rate;
        if (!m_frame->buf[0]) {
            check(av_channel_layout_copy(&m_frame->ch_layout, &m_codec->ch_layout));
            check(av_frame_get_buffer(m_frame, 0));
        } else {
            check(av_frame_make_writable(m_frame));
        }
        if (av_audio_fifo_read(m_fifo, reinterpret_cast<void**>(m_frame->data), samples) < samples)
            exportFailed(errorText(AVERROR_BUG));
        m_frame->pts = m_nextPts;
        m_nextPts += samples;
        send(m_frame);
    }

    void send(const AVFrame* frame)
    {
        check(avcodec_send_frame(m_codec, frame));
        for (;;) {
            const int received = avcodec_receive_packet(m_codec, m_packet);
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
                return;
            check(received);
            av_packet_rescale_ts(m_packet, m_codec->time_base, m_stream->time_base);
            m_packet->stream_index = m_stream->index;
            check(av_interleaved_write_frame(m_output, m_packet));
        }
    }

    AVFormatContext* m_output = nullptr;
    AVStream* m_stream = nullptr;
    AVCodecContext* m_codec = nullptr;
    AVAudioFifo* m_fifo = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    std::int64_t m_nextPts = 0;
};

// Converts samples of one input format to the track's format on their way into the encoder: between
// rates, sample types and channel counts.
class Converter {
public:
    Converter(const AVChannelLayout& layout, AVSampleFormat format, int rate, const TrackEncoder& track)
    {
        try {
            open(layout, format, rate, track);
        } catch (...) {
            release();
            throw;
        }
    }

    ~Converter() { release(); }

    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // With no input the resampler gives back what it delayed, until it has nothing left.
    void convert(TrackEncoder& track, const uint8_t* const* samples, int count)
    {
        for (;;) {
            const int room = swr_get_out_samples(m_resampler, count);
            check(room);
            if (room == 0)
                return;
            reserve(room);
            const int converted
                = swr_convert(m_resampler, m_converted, room, const_cast<const uint8_t**>(samples), count);
            check(converted);
            track.push(m_converted, converted);
            if (samples || converted == 0)
                return;
        }
    }

private:
    void open(const AVChannelLayout& layout, AVSampleFormat format, int rate, const TrackEncoder& track)
    {
        // Segment files and captured buffers carry no speaker positions: take the usual ones for the channel count.
        AVChannelLayout input {};
        if (layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&input, layout.nb_channels);
        else
            check(av_channel_layout_copy(&input, &layout));
        AVChannelLayout output {};
        check(av_channel_layout_copy(&output, &track.channelLayout()));
        const int configured = swr_alloc_set_opts2(
            &m_resampler, &output, trackSampleFormat, track.rate(), &input, format, rate, 0, nullptr);
        const int inputChannels = input.nb_channels;
        av_channel_layout_uninit(&input);
        av_channel_layout_uninit(&output);
        check(configured);
        // Between mono and stereo a voice keeps its level: copied to both sides, or the two sides averaged.
        const int outputChannels = track.channelLayout().nb_channels;
        if (inputChannels == 1 && outputChannels == 2) {
            const double toBothSides[] = { 1.0, 1.0 };
            check(swr_set_matrix(m_resampler, toBothSides, 1));
        } else if (inputChannels == 2 && outputChannels == 1) {
            const double averaged[] = { 0.5, 0.5 };
            check(swr_set_matrix(m_resampler, averaged, 2));
        }
        check(swr_init(m_resampler));
        m_channels = outputChannels;
    }

    void release()
    {
        if (m_converted)
            av_freep(&m_converted[0]);
        av_freep(&m_converted);
        swr_free(&m_resampler);
    }

    void reserve(int samples)
    {
        if (samples <= m_capacity)
            return;
        if (m_converted)
            av_freep(&m_converted[0]);
        av_freep(&m_converted);
        check(av_samples_alloc_array_and_samples(&m_converted, nullptr, m_channels, samples, trackSampleFormat, 0));
        m_capacity = samples;
    }

    SwrContext* m_resampler = nullptr;
    uint8_t** m_converted = nullptr;
    int m_capacity = 0;
    int m_channels = 0;
};

// Decodes one segment and converts its samples to the track's format on the way into the encoder.
class SegmentReader {
public:
    SegmentReader(const InputFile& asset, const TrackEncoder& track)
        : m_asset(asset)
    {
        try {
            open(track);
        } catch (...) {
            release();
            throw;
        }
    }

    ~SegmentReader() { release(); }

    SegmentReader(const SegmentReader&) = delete;
    SegmentReader& operator=(const SegmentReader&) = delete;

    void readInto(TrackEncoder& track, const std::atomic<bool>* cancel)
    {
        AVFormatContext* input = m_asset.formatContext();
        const int streamIndex = m_asset.audioStream()->index;
        for (;;) {
            if (cancel && cancel->load())
                exportFailed("cancelled");
            const int read = av_read_frame(input, m_packet);
            if (read == AVERROR_EOF)
                break;
            check(read);
            const bool ours = m_packet->stream_index == streamIndex;
            const int sent = ours ? avcodec_send_packet(m_decoder, m_packet) : 0;
            av_packet_unref(m_packet);
            check(sent);
            if (ours)
                drainDecoder(track);
        }
        check(avcodec_send_packet(m_decoder, nullptr));
        drainDecoder(track);
        // What the resampler still holds belongs to this segment, before the next one begins.
        m_converter->convert(track, nullptr, 0);
    }

private:
    void open(const TrackEncoder& track)
    {
        const AVCodecParameters* parameters = m_asset.audioStream()->codecpar;
        const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
        if (!codec)
            exportFailed(errorText(AVERROR_DECODER_NOT_FOUND));
        m_decoder = created(avcodec_alloc_context3(codec));
        check(avcodec_parameters_to_context(m_decoder, parameters));
        check(avcodec_open2(m_decoder, codec, nullptr));
        m_converter
            = std::make_unique<Converter>(m_decoder->ch_layout, m_decoder->sample_fmt, m_decoder->sample_rate, track);
        m_frame = created(av_frame_alloc());
        m_packet = created(av_packet_alloc());
    }

    void release()
    {
        av_packet_free(&m_packet);
        av_frame_free(&m_frame);
        m_converter.reset();
        avcodec_free_context(&m_decoder);
    }

    void drainDecoder(TrackEncoder& track)
    {
        for (;;) {
            const int received = avcodec_receive_frame(m_decoder, m_frame);
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
                return;
            check(received);
            m_converter->convert(track, m_frame->extended_data, m_frame->nb_samples);
            av_frame_unref(m_frame);
        }
    }

    const InputFile& m_asset;
    AVCodecContext* m_decoder = nullptr;
    std::unique_ptr<Converter> m_converter;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
};

// What the client calls an EqMediaLiveTrack: the encoder and its file, and a converter for the format the
// audio comes in, replaced when that format changes.
class LiveTrack {
public:
    LiveTrack(const char* path, int rate, int channels)
        : m_path(path)
        , m_encoder(path, trackRate(rate), channels >= 2 ? 2 : 1, false)
    {
    }

    ~LiveTrack()
    {
        if (!m_finished) {
            std::error_code ignored;
            std::filesystem::remove(m_path, ignored);
        }
    }

    LiveTrack(const LiveTrack&) = delete;
    LiveTrack& operator=(const LiveTrack&) = delete;

    void push(const uint8_t* const* planes, int frames, AVSampleFormat format, int rate, int channels)
    {
        if (!m_converter || format != m_format || rate != m_rate || channels != m_channels) {
            if (m_converter)
                m_converter->convert(m_encoder, nullptr, 0);
            m_converter.reset();
            AVChannelLayout layout {};
            layout.order = AV_CHANNEL_ORDER_UNSPEC;
            layout.nb_channels = channels;
            m_converter = std::make_unique<Converter>(layout, format, rate, m_encoder);
            m_format = format;
            m_rate = rate;
            m_channels = channels;
        }
        m_converter->convert(m_encoder, planes, frames);
    }

    void finish(const char* output)
    {
        if (m_converter)
            m_converter->convert(m_encoder, nullptr, 0);
        m_encoder.finish();
        std::error_code renamed;
        std::filesystem::rename(m_path, output, renamed);
        if (renamed)
            throw Failure { eqMediaFileError, renamed.value(), {}, output };
        m_finished = true;
    }

private:
    std::filesystem::path m_path;
    TrackEncoder m_encoder;
    std::unique_ptr<Converter> m_converter;
    AVSampleFormat m_format = AV_SAMPLE_FMT_NONE;
    int m_rate = 0;
    int m_channels = 0;
    bool m_finished = false;
};

AVSampleFormat sampleFormat(int format, bool interleaved)
{
    switch (format) {
    case eqMediaFloat64:
        return interleaved ? AV_SAMPLE_FMT_DBL : AV_SAMPLE_FMT_DBLP;
    case eqMediaInt16:
        return interleaved ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S16P;
    case eqMediaInt32:
        return interleaved ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S32P;
    default:
        return interleaved ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_FLTP;
    }
}

void report(const Failure& failure, EqMediaFailure* out)
{
    std::memset(out, 0, sizeof *out);
    out->kind = failure.kind;
    out->systemError = failure.systemError;
    std::strncpy(out->text, failure.text.c_str(), sizeof out->text - 1);
    std::strncpy(out->path, failure.path.c_str(), sizeof out->path - 1);
}

// Anything else thrown inside (an allocation that failed) is an export failure, not a crash of the client.
template <class Work> int guarded(EqMediaFailure* failure, Work work)
{
    // The library's notes ("Estimating duration…") would reach standard error; errors travel as failures.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_ERROR); });
    try {
        work();
        return 0;
    } catch (const Failure& error) {
        report(error, failure);
    } catch (const std::exception& error) {
        report(Failure { eqMediaExportFailed, 0, error.what(), {} }, failure);
    }
    return 1;
}

}

extern "C" __attribute__((visibility("default"))) int eq_media_encode(const char* const* segments, int count,
    const char* output, int twoLoopCoder, const std::atomic<bool>* cancel, EqMediaFailure* failure)
{
    return guarded(failure, [&] {
        if (count <= 0)
            exportFailed("no segments");
        // Every segment is checked before the output is touched.
        std::vector<std::unique_ptr<InputFile>> inputs;
        for (int i = 0; i < count; ++i) {
            const auto& input = inputs.emplace_back(std::make_unique<InputFile>(segments[i]));
            if (!input->hasAudioTrack())
                throw Failure { eqMediaNoAudioTrack, 0, {}, segments[i] };
        }
        std::error_code removal;
        std::filesystem::remove(std::filesystem::path(output), removal);
        if (removal)
            throw Failure { eqMediaFileError, removal.value(), {}, output };

        const AVCodecParameters* first = inputs.front()->audioStream()->codecpar;
        TrackEncoder track(
            output, trackRate(first->sample_rate), first->ch_layout.nb_channels >= 2 ? 2 : 1, twoLoopCoder != 0);
        for (const auto& input : inputs) {
            SegmentReader reader(*input, track);
            reader.readInto(track, cancel);
        }
        track.finish();
    });
}

extern "C" __attribute__((visibility("default"))) int eq_media_probe(
    const char* path, int* hasAudioTrack, double* seconds, EqMediaFailure* failure)
{
    return guarded(failure, [&] {
        const InputFile input(path);
        *hasAudioTrack = input.hasAudioTrack();
        *seconds = input.durationSeconds();
    });
}

struct EqMediaLiveTrack {
    LiveTrack track;
};

extern "C" __attribute__((visibility("default"))) EqMediaLiveTrack* eq_media_live_open(
    const char* path, double rate, int channels, EqMediaFailure* failure)
{
    EqMediaLiveTrack* live = nullptr;
    guarded(failure, [&] {
        std::error_code removal;
        std::filesystem::remove(std::filesystem::path(path), removal);
        if (removal)
            throw Failure { eqMediaFileError, removal.value(), {}, path };
        live = new EqMediaLiveTrack { LiveTrack(path, int(std::lround(rate)), channels) };
    });
    return live;
}

extern "C" __attribute__((visibility("default"))) int eq_media_live_push(EqMediaLiveTrack* live,
    const void* const* planes, int frames, int format, int interleaved, double rate, int channels,
    EqMediaFailure* failure)
{
    return guarded(failure, [&] {
        live->track.push(reinterpret_cast<const uint8_t* const*>(planes), frames,
            sampleFormat(format, interleaved != 0), int(std::lround(rate)), channels);
    });
}

extern "C" __attribute__((visibility("default"))) int eq_media_live_finish(
    EqMediaLiveTrack* live, const char* output, EqMediaFailure* failure)
{
    return guarded(failure, [&] { live->track.finish(output); });
}

extern "C" __attribute__((visibility("default"))) void eq_media_live_close(EqMediaLiveTrack* live)
{
    delete live;
}
