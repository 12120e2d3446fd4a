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
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

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

// The AAC encoder. Samples come in planar float at its rate and channels, in any
// amount; they leave in whole encoder frames, numbered on from the last, so
// segments follow one another exactly, and go to the sink as packets in the
// encoder's time base (one tick a sample).
class AacEncoder {
public:
    using Sink = std::function<void(AVPacket*)>;

    AacEncoder(int rate, int channels, bool twoLoop)
    {
        try {
            open(rate, channels, twoLoop);
        } catch (...) {
            release();
            throw;
        }
    }

    ~AacEncoder() { release(); }

    AacEncoder(const AacEncoder&) = delete;
    AacEncoder& operator=(const AacEncoder&) = delete;

    void setSink(Sink sink) { m_sink = std::move(sink); }
    [[nodiscard]] const AVCodecContext* context() const { return m_codec; }
    [[nodiscard]] int rate() const { return m_codec->sample_rate; }
    [[nodiscard]] const AVChannelLayout& channelLayout() const { return m_codec->ch_layout; }
    // Samples taken so far, encoded or waiting for a whole frame.
    [[nodiscard]] std::int64_t samples() const { return m_nextPts + av_audio_fifo_size(m_fifo); }

    void push(uint8_t** planes, int samples)
    {
        if (samples <= 0)
            return;
        if (av_audio_fifo_write(m_fifo, reinterpret_cast<void**>(planes), samples) < samples)
            exportFailed(errorText(AVERROR(ENOMEM)));
        while (av_audio_fifo_size(m_fifo) >= m_codec->frame_size)
            encodeFromFifo(m_codec->frame_size);
    }

    // The last partial frame and the encoder's delayed packets.
    void finish()
    {
        if (const int left = av_audio_fifo_size(m_fifo); left > 0)
            encodeFromFifo(left);
        // Without a single sample the muxer would write a file with no playable track.
        if (m_nextPts == 0)
            exportFailed("the segments hold no audio");
        send(nullptr);
    }

private:
    void open(int rate, int channels, bool twoLoop)
    {
        const AVCodec* codec = created(avcodec_find_encoder_by_name("aac"));
        m_codec = created(avcodec_alloc_context3(codec));
        m_codec->sample_fmt = trackSampleFormat;
        m_codec->sample_rate = rate;
        av_channel_layout_default(&m_codec->ch_layout, channels);
        m_codec->bit_rate = channels >= 2 ? 128000 : 64000;
        m_codec->profile = FF_PROFILE_AAC_LOW;
        m_codec->time_base = AVRational { 1, rate };
        // The MPEG-4 file keeps the coder's configuration once, in its header.
        m_codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        AVDictionary* codecOptions = nullptr;
        av_dict_set(&codecOptions, "aac_coder", twoLoop ? "twoloop" : "fast", 0);
        const int opened = avcodec_open2(m_codec, codec, &codecOptions);
        av_dict_free(&codecOptions);
        check(opened);
        m_fifo = created(av_audio_fifo_alloc(trackSampleFormat, channels, m_codec->frame_size * 2));
        m_frame = created(av_frame_alloc());
        m_packet = created(av_packet_alloc());
    }

    void release()
    {
        av_packet_free(&m_packet);
        av_frame_free(&m_frame);
        if (m_fifo)
            av_audio_fifo_free(m_fifo);
        m_fifo = nullptr;
        avcodec_free_context(&m_codec);
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
            m_sink(m_packet);
            av_packet_unref(m_packet);
        }
    }

    AVCodecContext* m_codec = nullptr;
    AVAudioFifo* m_fifo = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    std::int64_t m_nextPts = 0;
    Sink m_sink;
};

// An MPEG-4 audio file of one AAC track with its header at the front, so a
// player can start before the whole file is there. Packets come in the
// encoder's time base.
class Mp4File {
public:
    Mp4File(const char* path, const AVCodecContext* codec)
    {
        try {
            open(path, codec);
        } catch (...) {
            release();
            throw;
        }
    }

    ~Mp4File() { release(); }

    Mp4File(const Mp4File&) = delete;
    Mp4File& operator=(const Mp4File&) = delete;

    void write(AVPacket* packet)
    {
        av_packet_rescale_ts(packet, m_timeBase, m_stream->time_base);
        packet->stream_index = m_stream->index;
        check(av_interleaved_write_frame(m_output, packet));
    }

    // The trailer, which moves the header to the front.
    void finish()
    {
        check(av_write_trailer(m_output));
        check(avio_closep(&m_output->pb));
    }

private:
    void open(const char* path, const AVCodecContext* codec)
    {
        avformat_alloc_output_context2(&m_output, nullptr, "ipod", path);
        created(m_output);
        m_stream = created(avformat_new_stream(m_output, nullptr));
        check(avcodec_parameters_from_context(m_stream->codecpar, codec));
        m_timeBase = codec->time_base;
        m_stream->time_base = m_timeBase;
        check(avio_open(&m_output->pb, path, AVIO_FLAG_WRITE));
        // Only the owner reads a recording, whatever the umask.
        ::chmod(path, S_IRUSR | S_IWUSR);
        // A time scale of the sample rate keeps the duration sample-exact.
        AVDictionary* muxerOptions = nullptr;
        av_dict_set(&muxerOptions, "movflags", "+faststart", 0);
        av_dict_set_int(&muxerOptions, "movie_timescale", codec->sample_rate, 0);
        const int written = avformat_write_header(m_output, &muxerOptions);
        av_dict_free(&muxerOptions);
        check(written);
    }

    void release()
    {
        if (m_output) {
            if (m_output->pb)
                avio_closep(&m_output->pb);
            avformat_free_context(m_output);
            m_output = nullptr;
        }
    }

    AVFormatContext* m_output = nullptr;
    AVStream* m_stream = nullptr;
    AVRational m_timeBase {};
};

// The encoder straight into its file: what the export from the segments makes.
class TrackEncoder {
public:
    TrackEncoder(const char* path, int rate, int channels, bool twoLoop)
        : m_encoder(rate, channels, twoLoop)
        , m_file(path, m_encoder.context())
    {
        m_encoder.setSink([this](AVPacket* packet) { m_file.write(packet); });
    }

    [[nodiscard]] AacEncoder& encoder() { return m_encoder; }

    void finish()
    {
        m_encoder.finish();
        m_file.finish();
    }

private:
    AacEncoder m_encoder;
    Mp4File m_file;
};

// Converts samples of one input format to the track's format on their way into the encoder: between
// rates, sample types and channel counts.
class Converter {
public:
    Converter(const AVChannelLayout& layout, AVSampleFormat format, int rate, const AacEncoder& track)
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
    void convert(AacEncoder& track, const uint8_t* const* samples, int count)
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
    void open(const AVChannelLayout& layout, AVSampleFormat format, int rate, const AacEncoder& track)
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
    SegmentReader(const InputFile& asset, const AacEncoder& track)
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

    // From its `skip`th frame on: the frames before are not encoded.
    void readInto(AacEncoder& track, const std::atomic<bool>* cancel, std::int64_t skip = 0)
    {
        AVFormatContext* input = m_asset.formatContext();
        const AVStream* stream = m_asset.audioStream();
        const int streamIndex = stream->index;
        m_skip = skip;
        // Where the first frame to keep lies; without a seek the frames are counted from the start.
        if (skip > 0
            && av_seek_frame(input, streamIndex, av_rescale_q(skip, { 1, m_decoder->sample_rate }, stream->time_base),
                   AVSEEK_FLAG_BACKWARD)
                >= 0)
            avcodec_flush_buffers(m_decoder);
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
    void open(const AacEncoder& track)
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

    void drainDecoder(AacEncoder& track)
    {
        for (;;) {
            const int received = avcodec_receive_frame(m_decoder, m_frame);
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
                return;
            check(received);
            const std::int64_t start = m_frame->pts == AV_NOPTS_VALUE
                ? m_position
                : av_rescale_q(m_frame->pts, m_asset.audioStream()->time_base, { 1, m_decoder->sample_rate });
            m_position = start + m_frame->nb_samples;
            const int dropped = int(std::clamp<std::int64_t>(m_skip - start, 0, m_frame->nb_samples));
            if (dropped < m_frame->nb_samples) {
                const auto format = AVSampleFormat(m_frame->format);
                const int planar = av_sample_fmt_is_planar(format);
                const int step = av_get_bytes_per_sample(format) * (planar ? 1 : m_frame->ch_layout.nb_channels);
                std::vector<const uint8_t*> planes(std::size_t(planar ? m_frame->ch_layout.nb_channels : 1));
                for (std::size_t c = 0; c < planes.size(); ++c)
                    planes[c] = m_frame->extended_data[c] + std::ptrdiff_t(dropped) * step;
                m_converter->convert(track, planes.data(), m_frame->nb_samples - dropped);
            }
            av_frame_unref(m_frame);
        }
    }

    const InputFile& m_asset;
    AVCodecContext* m_decoder = nullptr;
    std::unique_ptr<Converter> m_converter;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    // The first frame kept, and the frame the next decoded one starts at.
    std::int64_t m_skip = 0;
    std::int64_t m_position = 0;
};

// A live track's encoded packets, appended as they come so that a crash leaves
// every whole packet in place: a header with what the MPEG-4 file needs (rate,
// channels, the coder's configuration), then per packet its size, its length in
// samples and its bytes.
constexpr char packetLogMagic[8] = { 'E', 'Q', 'A', 'A', 'C', 'L', 'O', 'G' };

struct PacketLogHeader {
    char magic[8];
    std::uint32_t rate;
    std::uint32_t channels;
    std::uint32_t configurationSize;
};

struct PacketRecord {
    std::uint32_t size;
    std::uint32_t duration;
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

class PacketLog {
public:
    PacketLog(const char* path, const AVCodecContext* codec)
        : m_path(path)
    {
        m_file.reset(std::fopen(path, "wbx"));
        if (!m_file)
            throw Failure { eqMediaFileError, errno, {}, path };
        ::fchmod(::fileno(m_file.get()), S_IRUSR | S_IWUSR);
        PacketLogHeader header {};
        std::memcpy(header.magic, packetLogMagic, sizeof header.magic);
        header.rate = std::uint32_t(codec->sample_rate);
        header.channels = std::uint32_t(codec->ch_layout.nb_channels);
        header.configurationSize = std::uint32_t(codec->extradata_size);
        put(&header, sizeof header);
        put(codec->extradata, std::size_t(codec->extradata_size));
    }

    PacketLog(const PacketLog&) = delete;
    PacketLog& operator=(const PacketLog&) = delete;

    void append(const AVPacket* packet)
    {
        const PacketRecord record { std::uint32_t(packet->size), std::uint32_t(packet->duration) };
        put(&record, sizeof record);
        put(packet->data, std::size_t(packet->size));
        ++m_packets;
    }

    // Everything appended is on the disk.
    void sync()
    {
        if (std::fflush(m_file.get()) != 0 || ::fdatasync(::fileno(m_file.get())) != 0)
            throw Failure { eqMediaFileError, errno, {}, m_path };
    }

    [[nodiscard]] std::uint64_t packets() const { return m_packets; }
    [[nodiscard]] std::uint64_t bytes() const { return m_bytes; }

private:
    void put(const void* data, std::size_t size)
    {
        if (size > 0 && std::fwrite(data, 1, size, m_file.get()) != size)
            throw Failure { eqMediaFileError, errno ? errno : EIO, {}, m_path };
        m_bytes += size;
    }

    std::string m_path;
    File m_file;
    std::uint64_t m_packets = 0;
    std::uint64_t m_bytes = 0;
};

// Reads a packet log from its start.
class PacketLogReader {
public:
    explicit PacketLogReader(const char* path)
        : m_path(path)
    {
        m_file.reset(std::fopen(path, "rb"));
        if (!m_file)
            throw Failure { eqMediaFileError, errno, {}, path };
        PacketLogHeader header {};
        if (!take(&header, sizeof header) || std::memcmp(header.magic, packetLogMagic, sizeof header.magic) != 0
            || header.channels < 1 || header.channels > 2 || header.configurationSize > 64)
            exportFailed("not an encoded part: " + m_path);
        m_rate = int(header.rate);
        m_channels = int(header.channels);
        m_configuration.resize(header.configurationSize);
        if (!take(m_configuration.data(), m_configuration.size()))
            exportFailed("not an encoded part: " + m_path);
    }

    PacketLogReader(const PacketLogReader&) = delete;
    PacketLogReader& operator=(const PacketLogReader&) = delete;

    [[nodiscard]] int rate() const { return m_rate; }
    [[nodiscard]] int channels() const { return m_channels; }
    [[nodiscard]] const std::vector<uint8_t>& configuration() const { return m_configuration; }
    [[nodiscard]] std::uint64_t offset() const { return m_offset; }

    // The next whole packet into `packet`; false at the end or at a packet cut short.
    bool next(AVPacket* packet)
    {
        PacketRecord record {};
        if (!take(&record, sizeof record) || record.size > (1u << 20))
            return false;
        av_packet_unref(packet);
        check(av_new_packet(packet, int(record.size)));
        if (!take(packet->data, record.size))
            return false;
        packet->duration = record.duration;
        return true;
    }

private:
    bool take(void* data, std::size_t size)
    {
        if (std::fread(data, 1, size, m_file.get()) != size)
            return false;
        m_offset += size;
        return true;
    }

    std::string m_path;
    File m_file;
    int m_rate = 0;
    int m_channels = 0;
    std::vector<uint8_t> m_configuration;
    std::uint64_t m_offset = 0;
};

// Puts logged packets and then an encoder's into an MPEG-4 file, each starting where the last one ended.
class Splice {
public:
    explicit Splice(Mp4File& file, const AVCodecContext* codec)
        : m_file(file)
        , m_next(-codec->initial_padding)
    {
    }

    void add(AVPacket* packet)
    {
        packet->pts = packet->dts = m_next;
        m_next += packet->duration;
        m_file.write(packet);
    }

    // Copies the log's first `packets` packets, ending at `bytes`; an encoded part that holds less fails.
    void copy(PacketLogReader& log, std::uint64_t packets, std::uint64_t bytes)
    {
        AVPacket* packet = created(av_packet_alloc());
        std::uint64_t copied = 0;
        try {
            for (; copied < packets && log.next(packet); ++copied)
                add(packet);
        } catch (...) {
            av_packet_free(&packet);
            throw;
        }
        av_packet_free(&packet);
        if (copied != packets || log.offset() != bytes)
            exportFailed("the encoded part does not hold what its checkpoint says");
    }

private:
    Mp4File& m_file;
    std::int64_t m_next;
};

// What the client calls an EqMediaLiveTrack: the encoder and its packet log, and a converter for the format the
// audio comes in, replaced when that format changes.
class LiveTrack {
public:
    LiveTrack(const char* path, int rate, int channels)
        : m_path(path)
        , m_encoder(trackRate(rate), channels >= 2 ? 2 : 1, false)
        , m_log(path, m_encoder.context())
    {
        m_encoder.setSink([this](AVPacket* packet) {
            m_log.append(packet);
            m_loggedSamples += packet->duration;
        });
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
            m_runs.push_back({ m_inputFrames, m_encoder.samples(), rate });
        }
        m_converter->convert(m_encoder, planes, frames);
        m_inputFrames += frames;
    }

    // Puts what is logged on the disk and says how much of the input it holds: the packets decode to
    // the track's first (packets - 1) frames of 1024 samples, the first packet being the coder's lead-in.
    void checkpoint(EqMediaCheckpoint& checkpoint)
    {
        m_log.sync();
        checkpoint.packets = m_log.packets();
        checkpoint.bytes = m_log.bytes();
        const std::int64_t held = m_loggedSamples - m_encoder.context()->initial_padding;
        checkpoint.inputFrames = 0;
        for (const Run& run : m_runs) {
            if (run.trackSamples > held)
                break;
            const double frames = double(held - run.trackSamples) * run.rate / m_encoder.rate();
            checkpoint.inputFrames = std::min(m_inputFrames, run.inputFrames + std::uint64_t(frames));
        }
    }

    // The tail, then the logged packets into the MPEG-4 file at `output`; the log goes.
    void finish(const char* output)
    {
        if (m_converter)
            m_converter->convert(m_encoder, nullptr, 0);
        m_encoder.finish();
        m_log.sync();
        {
            PacketLogReader log(m_path.c_str());
            Mp4File file(output, m_encoder.context());
            Splice(file, m_encoder.context()).copy(log, m_log.packets(), m_log.bytes());
            file.finish();
        }
        m_finished = true;
        std::error_code ignored;
        std::filesystem::remove(m_path, ignored);
    }

private:
    // Audio of one format from `inputFrames` of the input on, which the track has from `trackSamples` on.
    struct Run {
        std::uint64_t inputFrames;
        std::int64_t trackSamples;
        int rate;
    };

    std::filesystem::path m_path;
    AacEncoder m_encoder;
    PacketLog m_log;
    std::unique_ptr<Converter> m_converter;
    AVSampleFormat m_format = AV_SAMPLE_FMT_NONE;
    int m_rate = 0;
    int m_channels = 0;
    std::vector<Run> m_runs;
    std::uint64_t m_inputFrames = 0;
    std::int64_t m_loggedSamples = 0;
    bool m_finished = false;
};

// Segments as the export reads them, all checked before anything is written.
std::vector<std::unique_ptr<InputFile>> openSegments(const char* const* segments, int count)
{
    if (count <= 0)
        exportFailed("no segments");
    std::vector<std::unique_ptr<InputFile>> inputs;
    for (int i = 0; i < count; ++i) {
        const auto& input = inputs.emplace_back(std::make_unique<InputFile>(segments[i]));
        if (!input->hasAudioTrack())
            throw Failure { eqMediaNoAudioTrack, 0, {}, segments[i] };
    }
    return inputs;
}

void removeOld(const char* output)
{
    std::error_code removal;
    std::filesystem::remove(std::filesystem::path(output), removal);
    if (removal)
        throw Failure { eqMediaFileError, removal.value(), {}, output };
}

// Frames of a segment's audio, from its header.
std::int64_t framesOf(const InputFile& input)
{
    const AVStream* stream = input.audioStream();
    if (stream->duration == AV_NOPTS_VALUE || stream->duration < 0)
        exportFailed("a segment does not say its length");
    return av_rescale_q(stream->duration, stream->time_base, { 1, stream->codecpar->sample_rate });
}

// The rate of the segment that holds the `frame`th frame of them all.
int rateAt(const std::vector<std::unique_ptr<InputFile>>& inputs, std::int64_t frame)
{
    for (const auto& input : inputs) {
        const std::int64_t frames = framesOf(*input);
        if (frame < frames || input == inputs.back())
            return input->audioStream()->codecpar->sample_rate;
        frame -= frames;
    }
    return 0;
}

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
        // Every segment is checked before the output is touched.
        const std::vector<std::unique_ptr<InputFile>> inputs = openSegments(segments, count);
        removeOld(output);
        const AVCodecParameters* first = inputs.front()->audioStream()->codecpar;
        TrackEncoder track(
            output, trackRate(first->sample_rate), first->ch_layout.nb_channels >= 2 ? 2 : 1, twoLoopCoder != 0);
        for (const auto& input : inputs) {
            SegmentReader reader(*input, track.encoder());
            reader.readInto(track.encoder(), cancel);
        }
        track.finish();
    });
}

extern "C" __attribute__((visibility("default"))) int eq_media_resume(const char* part,
    const EqMediaCheckpoint* checkpoint, const char* const* segments, int count, const char* output,
    const std::atomic<bool>* cancel, EqMediaFailure* failure)
{
    return guarded(failure, [&] {
        const std::vector<std::unique_ptr<InputFile>> inputs = openSegments(segments, count);
        PacketLogReader log(part);
        AacEncoder encoder(log.rate(), log.channels(), false);
        const AVCodecContext* codec = encoder.context();
        if (log.configuration()
            != std::vector<uint8_t>(codec->extradata, codec->extradata + std::max(codec->extradata_size, 0)))
            exportFailed("the encoded part was made with another coder configuration");
        // The segments must reach as far as the part: what it holds beyond them never reached the disk.
        std::int64_t skip = std::int64_t(checkpoint->inputFrames);
        std::int64_t total = 0;
        for (const auto& input : inputs)
            total += framesOf(*input);
        if (total < skip)
            exportFailed("the encoded part holds more than the segments");
        removeOld(output);
        Mp4File file(output, codec);
        Splice splice(file, codec);
        splice.copy(log, checkpoint->packets, checkpoint->bytes);
        // The rest, from the frame the part ends at. The coder starts two frames earlier, on audio the part holds,
        // so that it comes to the join as it did while recording (it chooses its windows by what lies around
        // them); those frames' packets and the coder's lead-in are not kept.
        int dropped = 0;
        if (checkpoint->packets > 0) {
            const std::int64_t again = av_rescale(2 * codec->frame_size, rateAt(inputs, skip), codec->sample_rate);
            dropped = skip >= again ? 3 : 1;
            skip -= skip >= again ? again : 0;
        }
        encoder.setSink([&](AVPacket* packet) {
            if (dropped > 0)
                --dropped;
            else
                splice.add(packet);
        });
        for (const auto& input : inputs) {
            const std::int64_t frames = framesOf(*input);
            if (skip >= frames && frames > 0) {
                skip -= frames;
                continue;
            }
            SegmentReader reader(*input, encoder);
            reader.readInto(encoder, cancel, std::exchange(skip, 0));
        }
        if (encoder.samples() > 0 || checkpoint->packets == 0)
            encoder.finish();
        file.finish();
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
        removeOld(path);
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

extern "C" __attribute__((visibility("default"))) int eq_media_live_checkpoint(
    EqMediaLiveTrack* live, EqMediaCheckpoint* checkpoint, EqMediaFailure* failure)
{
    return guarded(failure, [&] { live->track.checkpoint(*checkpoint); });
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
