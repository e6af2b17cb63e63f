#include "tools/vemra-render/io/movie_reader.h"

#include <fmt/format.h>

extern "C" {
#include <libavutil/avstring.h>
}

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>

#include "tools/vemra-render/io/ffmpeg_common.h"
#include "tools/vemra-render/io/ffmpeg_log.h"
#include "tools/vemra-render/io/movie_conversion.h"
#include "tools/vemra-render/io/movie_formats.h"
#include "tools/vemra-render/io/movie_source.h"
#include "tools/vemra-render/run/library_log.h"

namespace render {

using namespace movie;

/// A converter to RGBA and what it was set up for; one per frame in flight,
/// since a converter serves one thread at a time.
struct ConversionState {
    SwsPtr converter;
    AVPixelFormat from = AV_PIX_FMT_NONE;
    AVColorSpace matrix = AVCOL_SPC_NB;
    AVColorRange range = AVCOL_RANGE_NB;
    FramePtr planar;  ///< the conversion's output for float sources, and unaligned rows
};

struct DecodedFrame::Data {
    FramePtr frame = NewFrame();  ///< as the decoder gave it; blank once converted
    long number = 0;
    ConversionState conversion;
    Image coded;  ///< the frame as coded, on its way to being turned upright
};

DecodedFrame::DecodedFrame() : data_(std::make_unique<Data>()) {}
DecodedFrame::~DecodedFrame() = default;
DecodedFrame::DecodedFrame(DecodedFrame&&) noexcept = default;
DecodedFrame& DecodedFrame::operator=(DecodedFrame&&) noexcept = default;
long DecodedFrame::number() const {
    return data_->number;
}

/// The reader's state.
struct MovieReader::Internals {
    std::string path;
    std::uint64_t max_pixels = 0;
    InputPtr input;
    int video_index = -1;
    AVStream* video = nullptr;
    CodecContextPtr decoder;
    PacketPtr packet;
    FramePtr decoded;

    int width = 0;
    int height = 0;
    SampleType type = SampleType::kUint8;
    bool has_alpha = false;
    MovieSource source;

    long frames_decoded = 0;
    long video_packets = 0;
    bool demuxed_all = false;  ///< av_read_frame reached the end of the file
    bool drained = false;      ///< the decoder gave its last frame
    /// The latest end (timestamp plus duration) of any packet read, in
    /// microseconds, and of each stream's.
    std::int64_t packets_end = kNoTimestamp;
    std::vector<std::int64_t> stream_ends;

    /// What FFmpeg logs against the demuxer, from before it opens the file.
    std::unique_ptr<LogWatch> watch;
    bool reopenable = false;  ///< a local file, which a second pass can open again

    DisplayMatrix matrix;
    bool turn = false;        ///< frames go out upright (TurnFramesUpright)
    DecodedFrame sequential;  ///< for Next()
    /// The first frame, decoded ahead by Prime(), until Next() takes it.
    FramePtr held;
    bool holding = false;
    // HDR10 metadata that came with the first frame, kept for the source.
    AVMasteringDisplayMetadata mastering{};
    AVContentLightMetadata light_level{};

    /// Streams whose packets go to `copied` (by index), and where they go.
    std::vector<bool> keep_stream;
    CopiedPackets* copied = nullptr;

    /// What ReadPacket found.
    enum class Read { kVideo, kOther, kEnd };
    /// Reads the next packet of the file: a video packet is left in `packet`,
    /// a packet of a copied stream is queued, any other is dropped. At the end
    /// of the file checks that the file was whole. Throws MovieError for a
    /// read error, a packet the demuxer marks as damaged, and a file cut short.
    Read ReadPacket();
    /// Throws MovieError when the demuxer logged that a packet it read is
    /// damaged; its other messages go to the notes.
    void CheckDamage();
    /// Throws MovieError when the file just read to its end shows it was cut
    /// short (see ReadPacket).
    void CheckComplete() const;
    /// Throws MovieError when a stream ends before the duration the
    /// container declares for it (see CheckComplete).
    void CheckDurations() const;
    /// Converts `frame`, decoded as frame `number`, into `image` as RGBA of
    /// `type`, with `state`'s converter. From any thread.
    void Convert(const AVFrame& frame, long number, ConversionState& state, Image& image) const;
    /// Opens the decoder of the video stream.
    void OpenDecoder(const AVCodec* codec);
    /// See MovieSource::spacing; found once.
    VideoSpacing Spacing();
    VideoSpacing SpacingOf(std::vector<std::int64_t> stamps) const;
    std::optional<VideoSpacing> spacing;
    /// Reads the stream's display matrix and side data into `matrix` and `source`.
    void ReadStreamSideData();
    /// Takes from the first frame what only frames carry into `source`.
    void ReadFirstFrameSideData(const AVFrame& frame);
    /// Decodes the next frame into `decoded`; false after the last one.
    bool Decode();
    /// "FILE: frame N: " for messages about the frame being decoded.
    std::string FramePrefix() const;

    /// Threads for the decoder; 0: FFmpeg's choice.
    int decoder_threads = 0;
    /// The frame count the file declares where FFmpeg gives none; -1: none.
    long declared_frames = -1;
    /// Finds the video stream and its decoder, and checks its frame size.
    const AVCodec* FindVideo();
};

std::string MovieReader::Internals::FramePrefix() const {
    return fmt::format("{}: frame {}", path, frames_decoded + 1);
}

MovieReader::Internals::Read MovieReader::Internals::ReadPacket() {
    AVFormatContext* format = input.get();
    for (;;) {
        const int code = av_read_frame(format, packet.get());
        if (code == kErrorEof) {
            demuxed_all = true;
            CheckDamage();
            CheckComplete();
            if (copied != nullptr) copied->Close();
            return Read::kEnd;
        }
        if (code < 0) {
            throw MovieError(fmt::format("{}: cannot read: {}", FramePrefix(), ErrorText(code)));
        }
        CheckDamage();
        const int index = packet->stream_index;
        // Every stream counts, the ones no output uses too: a file cut short
        // or damaged is refused whole. The demuxer marks a packet it could
        // read only in part: the file ends (or is damaged) in the middle of it.
        if (packet->flags & AV_PKT_FLAG_CORRUPT) {
            av_packet_unref(packet.get());
            throw MovieError(
                fmt::format("{}: the file is cut short or damaged (stream {} ends in "
                            "the middle of a packet)",
                            FramePrefix(), index));
        }
        const AVStream* stream = format->streams[index];
        const std::int64_t stamp = packet->pts != kNoTimestamp ? packet->pts : packet->dts;
        if (stamp != kNoTimestamp) {
            const std::int64_t end =
                av_rescale_q(stamp + packet->duration, stream->time_base, kMicroseconds);
            if (packets_end == kNoTimestamp || end > packets_end) packets_end = end;
            std::int64_t& stream_end = stream_ends[std::size_t(index)];
            if (stream_end == kNoTimestamp || end > stream_end) stream_end = end;
        }
        const bool is_video = index == video_index;
        const bool is_kept = !is_video && index >= 0 && std::size_t(index) < keep_stream.size() &&
                             keep_stream[std::size_t(index)];
        if (!is_video && !is_kept) {
            av_packet_unref(packet.get());
            continue;
        }
        if (is_video) {
            ++video_packets;
            return Read::kVideo;
        }
        copied->Push(packet.get());
        return Read::kOther;
    }
}

void MovieReader::Internals::CheckDamage() {
    // What the demuxer says of packets it found damaged, where it sets no
    // flag on them or the flag is lost on the way (an audio parser drops it).
    static constexpr std::string_view kDamage[] = {"corrupt", "PES packet size mismatch",
                                                   "truncated"};
    for (const LoggedMessage& message : watch->Take()) {
        for (std::string_view damage : kDamage) {
            if (message.text.find(damage) != std::string::npos) {
                throw MovieError(fmt::format("{}: the file is cut short or damaged ({})",
                                             FramePrefix(), message.text));
            }
        }
        NoteLibraryMessage(message.text);
    }
}

void MovieReader::Internals::CheckComplete() const {
    const AVFormatContext* format = input.get();
    if (format->pb && format->pb->error < 0) {
        throw MovieError(
            fmt::format("{}: cannot read: {}", FramePrefix(), ErrorText(format->pb->error)));
    }
    // QuickTime and MP4 list every sample in their header: fewer packets
    // means the media data stops early (a file cut at a packet boundary).
    const int listed = avformat_index_get_entries_count(video);
    if (std::strstr(format->iformat->name, "mov") != nullptr && listed > video_packets) {
        throw MovieError(
            fmt::format("{}: the file is cut short: {} of the {} video packets it "
                        "lists are there",
                        FramePrefix(), video_packets, listed));
    }
    if (format->duration_estimation_method == AVFMT_DURATION_FROM_STREAM) CheckDurations();
}

void MovieReader::Internals::CheckDurations() const {
    // The container declares the streams' durations in its header: every
    // stream must reach its own end, give or take two frames. QuickTime and
    // MP4 give each stream's start and duration; Matroska only the whole
    // file's duration, which libavformat counts from 0, not from the start.
    const AVFormatContext* format = input.get();
    const AVRational rate =
        video->avg_frame_rate.num > 0 ? video->avg_frame_rate : AVRational{10, 1};
    const std::int64_t slack = av_rescale_q(2, av_inv_q(rate), kMicroseconds);
    const auto seconds = [](std::int64_t microseconds) {
        return double(microseconds) / AV_TIME_BASE;
    };
    bool own_durations = false;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        if (stream->duration <= 0 || stream->start_time == kNoTimestamp) continue;
        own_durations = true;
        const std::int64_t declared =
            av_rescale_q(stream->start_time + stream->duration, stream->time_base, kMicroseconds);
        const std::int64_t reached = stream_ends[i];
        if (reached == kNoTimestamp || reached < declared - slack) {
            throw MovieError(fmt::format(
                "{}: the file is cut short: stream {} ends at {:.3f} s of the {:.3f} s it "
                "declares",
                FramePrefix(), i, reached == kNoTimestamp ? 0.0 : seconds(reached),
                seconds(declared)));
        }
    }
    if (own_durations || format->duration <= 0 || packets_end == kNoTimestamp) return;
    if (packets_end < format->duration - slack) {
        throw MovieError(
            fmt::format("{}: the file is cut short: its streams end at {:.3f} s of the {:.3f} s "
                        "it declares",
                        FramePrefix(), seconds(packets_end), seconds(format->duration)));
    }
}

void MovieReader::Internals::Convert(const AVFrame& coded, long number, ConversionState& state,
                                     Image& image) const {
    const AVFrame* frame = &coded;
    const std::string prefix = fmt::format("{}: frame {}", path, number);
    if (frame->width != width || frame->height != height) {
        throw MovieError(fmt::format("{}: the frame size changes from {}x{} to {}x{}", prefix,
                                     width, height, frame->width, frame->height));
    }
    const auto from = AVPixelFormat(frame->format);
    const AVPixelFormat to = RgbaFormatOf(type);
    image.Reshape(width, height, type, has_alpha);
    const int row_bytes = int(image.RowBytes());
    // Frames already in the wanted layout pass unconverted, as they pass the
    // ffmpeg program's filters (the converter would round float samples).
    if (from == to) {
        if (type == SampleType::kFloat) {
            InterleaveFloat(*frame, image);
            return;
        }
        for (int y = 0; y < height; ++y) {
            std::memcpy(image.PixelAddress(0, y),
                        frame->data[0] + std::ptrdiff_t(y) * frame->linesize[0],
                        std::size_t(row_bytes));
        }
        return;
    }
    if (!state.converter || from != state.from) {
        state.converter = MakeConverter(width, height, from, to, path);
        state.from = from;
        state.matrix = AVCOL_SPC_NB;
    }
    const AVColorSpace tagged_matrix =
        ValidTag(frame->colorspace, AVCOL_SPC_NB, AVCOL_SPC_UNSPECIFIED);
    const AVColorRange tagged_range =
        ValidTag(frame->color_range, AVCOL_RANGE_NB, AVCOL_RANGE_UNSPECIFIED);
    if (tagged_matrix != state.matrix || tagged_range != state.range) {
        SetColorDetails(state.converter.get(), tagged_matrix, tagged_range, -1);
        state.matrix = tagged_matrix;
        state.range = tagged_range;
    }
    SwsContext* converter = state.converter.get();
    FramePtr& planar = state.planar;
    // FFmpeg's frames have rows aligned for its SIMD code; the image's rows
    // are tight. Converting into an aligned frame keeps the converter on the
    // code path the ffmpeg program takes, so the samples come out the same.
    const bool aligned = type != SampleType::kFloat && row_bytes % 64 == 0 &&
                         reinterpret_cast<std::uintptr_t>(image.pixels.data()) % 64 == 0;
    if (aligned) {
        std::array<std::uint8_t*, 4> planes{reinterpret_cast<std::uint8_t*>(image.pixels.data()),
                                            nullptr, nullptr, nullptr};
        std::array<int, 4> strides{row_bytes, 0, 0, 0};
        sws_scale(converter, frame->data, frame->linesize, 0, height, planes.data(),
                  strides.data());
        return;
    }
    if (!planar || planar->width != width || planar->height != height) {
        planar = NewFrame();
        planar->width = width;
        planar->height = height;
        planar->format = to;
        if (int code = av_frame_get_buffer(planar.get(), 0); code < 0) {
            throw MovieError(fmt::format("{}: {}", prefix, ErrorText(code)));
        }
    }
    sws_scale(converter, frame->data, frame->linesize, 0, height, planar->data, planar->linesize);
    if (type == SampleType::kFloat) {
        InterleaveFloat(*planar, image);
        return;
    }
    for (int y = 0; y < height; ++y) {
        std::memcpy(image.PixelAddress(0, y),
                    planar->data[0] + std::ptrdiff_t(y) * planar->linesize[0],
                    std::size_t(row_bytes));
    }
}

namespace {

/// The format FFmpeg's probe finds for the local file `path`, whatever it
/// is; null when it finds none.
const AVInputFormat* ProbedFormat(const std::string& path) {
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    AVIOContext* io = nullptr;
    const int code = avio_open2(&io, ("file:" + path).c_str(), AVIO_FLAG_READ, nullptr, &options);
    av_dict_free(&options);
    if (code < 0) return nullptr;
    const AVInputFormat* format = nullptr;
    const int score = av_probe_input_buffer2(io, &format, path.c_str(), nullptr, 0, 0);
    avio_closep(&io);
    return score >= 0 ? format : nullptr;
}

/// Opens the demuxer over `io` or, when it is null, the local file `name`:
/// only with a demuxer of movie_formats.h, only local files for anything it
/// opens, and within the probe's bounds; `watch` takes what it logs.
InputPtr OpenDemuxer(const std::string& name, AVIOContext* io, const MovieProbe& probe,
                     std::unique_ptr<LogWatch>& watch) {
    const std::string demuxers = MovieDemuxers();
    AVDictionary* options = nullptr;
    av_dict_set(&options, "format_whitelist", demuxers.c_str(), 0);
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    if (probe.probe_bytes > 0) av_dict_set_int(&options, "probesize", probe.probe_bytes, 0);
    if (probe.analyze_microseconds > 0) {
        av_dict_set_int(&options, "analyzeduration", probe.analyze_microseconds, 0);
    }
    AVFormatContext* opened = avformat_alloc_context();
    if (opened == nullptr) throw std::bad_alloc();
    // What FFmpeg logs against the demuxer, from before it opens the file.
    watch = std::make_unique<LogWatch>(opened);
    opened->pb = io;
    // "file:" before the name: a name such as "http:x.mp4" is a file too.
    const std::string url = io != nullptr ? name : "file:" + name;
    const int code = avformat_open_input(&opened, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (code >= 0) return InputPtr(opened);
    const AVInputFormat* format = io != nullptr ? nullptr : ProbedFormat(name);
    if (format != nullptr && av_match_list(format->name, demuxers.c_str(), ',') <= 0) {
        throw MovieRefused(fmt::format(
            "{}: not a movie container the tool reads: FFmpeg takes it for {} ({}); it reads {}, "
            "and GIF and APNG",
            name, format->long_name != nullptr ? format->long_name : format->name, format->name,
            MovieContainerNames()));
    }
    throw MovieError(fmt::format("{}: cannot open as a movie: {}", name, ErrorText(code)));
}

}  // namespace

MovieReader::MovieReader(const std::string& path, std::uint64_t max_pixels, int threads)
    : MovieReader(nullptr, path, max_pixels, MovieProbe{0, 0, threads}) {}

MovieReader::MovieReader(AVIOContext* io, const std::string& name, std::uint64_t max_pixels,
                         const MovieProbe& probe)
    : in_(std::make_unique<Internals>()) {
    InstallFfmpegLog();
    in_->path = name;
    in_->max_pixels = max_pixels;
    in_->decoder_threads = probe.decoder_threads;
    in_->packet = NewPacket();
    in_->decoded = NewFrame();
    in_->input = OpenDemuxer(name, io, probe, in_->watch);
    in_->reopenable = io == nullptr;
    AVFormatContext* format = in_->input.get();
    if (int code = avformat_find_stream_info(format, nullptr); code < 0) {
        throw MovieError(fmt::format("{}: cannot read the streams: {}", name, ErrorText(code)));
    }
    const AVCodec* codec = in_->FindVideo();
    // FFmpeg does not count an animated PNG's frames: its control chunk does.
    if (io == nullptr && std::string_view(format->iformat->name) == "apng") {
        in_->declared_frames = AnimatedPngFrames(name).value_or(-1);
    }
    const AVCodecParameters* parameters = in_->video->codecpar;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(parameters->format));
    if (desc == nullptr) {
        throw MovieError(fmt::format("{}: the pixel format of the video stream is unknown", name));
    }
    in_->type = SampleTypeOfPixels(*desc);
    in_->has_alpha = (desc->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;

    Internals* in = in_.get();
    in_->source = MovieSource{name,
                              format,
                              in_->video,
                              av_guess_sample_aspect_ratio(format, in_->video, nullptr),
                              in_->width,
                              in_->height,
                              in_->type,
                              in_->has_alpha,
                              [in] { return in->Spacing(); }};
    in_->ReadStreamSideData();
    in_->OpenDecoder(codec);
}

const AVCodec* MovieReader::Internals::FindVideo() {
    AVFormatContext* format = input.get();
    const AVCodec* codec = nullptr;
    const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (index == AVERROR_STREAM_NOT_FOUND) {
        throw MovieError(fmt::format("{}: has no video stream", path));
    }
    if (index < 0 || codec == nullptr) {
        throw MovieError(
            fmt::format("{}: no decoder for its video stream ({})", path,
                        avcodec_get_name(format->streams[std::max(index, 0)]->codecpar->codec_id)));
    }
    video_index = index;
    video = format->streams[index];
    keep_stream.assign(format->nb_streams, false);
    stream_ends.assign(format->nb_streams, kNoTimestamp);
    width = video->codecpar->width;
    height = video->codecpar->height;
    if (width <= 0 || height <= 0) {
        throw MovieError(fmt::format("{}: the video stream has no frame size", path));
    }
    if (std::uint64_t(width) * std::uint64_t(height) > max_pixels) {
        throw MovieRefused(fmt::format("{}: {}x{} frames are above the limit of {} pixels", path,
                                       width, height, max_pixels));
    }
    return codec;
}

void MovieReader::Internals::ReadStreamSideData() {
    const auto side_data = [&](AVPacketSideDataType kind, std::size_t size) -> const void* {
        std::size_t found = 0;
        const std::uint8_t* data = av_stream_get_side_data(video, kind, &found);
        return data != nullptr && found >= size ? data : nullptr;
    };
    const auto* m = static_cast<const std::int32_t*>(
        side_data(AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(std::int32_t)));
    source.display_matrix = m;
    if (m != nullptr) {
        // The turn as the ffmpeg program reads it (clockwise, 0 to 360), and
        // the lossless turn it makes for it.
        const double rotation = std::round(av_display_rotation_get(m));
        double theta = -rotation;
        theta -= 360 * std::floor(theta / 360 + 0.9 / 360);
        matrix = {true, rotation, true, {}};
        if (std::abs(theta - 90) < 1) {
            matrix.upright = {true, false, m[3] <= 0};
        } else if (std::abs(theta - 180) < 1) {
            matrix.upright = {false, m[0] < 0, m[4] < 0};
        } else if (std::abs(theta - 270) < 1) {
            matrix.upright = {true, true, m[3] < 0};
        } else if (std::abs(theta) < 1) {
            matrix.upright = {false, false, m[4] < 0};
        } else {
            matrix.whole_turn = false;
        }
    }
    if (const void* data = side_data(AV_PKT_DATA_MASTERING_DISPLAY_METADATA, sizeof mastering)) {
        std::memcpy(&mastering, data, sizeof mastering);
        source.mastering = &mastering;
    }
    if (const void* data = side_data(AV_PKT_DATA_CONTENT_LIGHT_LEVEL, sizeof light_level)) {
        std::memcpy(&light_level, data, sizeof light_level);
        source.light_level = &light_level;
    }
    source.dolby_vision = side_data(AV_PKT_DATA_DOVI_CONF, 1) != nullptr;
}

void MovieReader::Internals::ReadFirstFrameSideData(const AVFrame& frame) {
    const AVFrameSideData* data = nullptr;
    if (source.mastering == nullptr &&
        (data = av_frame_get_side_data(&frame, AV_FRAME_DATA_MASTERING_DISPLAY_METADATA)) &&
        data->size >= sizeof mastering) {
        std::memcpy(&mastering, data->data, sizeof mastering);
        source.mastering = &mastering;
    }
    if (source.light_level == nullptr &&
        (data = av_frame_get_side_data(&frame, AV_FRAME_DATA_CONTENT_LIGHT_LEVEL)) &&
        data->size >= sizeof light_level) {
        std::memcpy(&light_level, data->data, sizeof light_level);
        source.light_level = &light_level;
    }
    source.hdr10_plus = av_frame_get_side_data(&frame, AV_FRAME_DATA_DYNAMIC_HDR_PLUS) != nullptr;
    source.captions = av_frame_get_side_data(&frame, AV_FRAME_DATA_A53_CC) != nullptr;
}

VideoSpacing MovieReader::Internals::Spacing() {
    if (spacing) return *spacing;
    std::vector<std::int64_t> stamps;
    const int listed = avformat_index_get_entries_count(video);
    if (std::strstr(input->iformat->name, "mov") != nullptr && listed > 0) {
        // QuickTime and MP4 list every frame: their decoding times are as
        // evenly spaced as their presentation times.
        for (int i = 0; i < listed; ++i)
            stamps.push_back(avformat_index_get_entry(video, i)->timestamp);
    } else {
        // The video's timestamps, from a second pass over the packets alone
        // (a reader over memory cannot make one: its frames count as uneven).
        if (!reopenable) return {};
        AVDictionary* options = nullptr;
        av_dict_set(&options, "protocol_whitelist", "file", 0);
        AVFormatContext* opened = nullptr;
        const int code =
            avformat_open_input(&opened, ("file:" + path).c_str(), input->iformat, &options);
        av_dict_free(&options);
        if (code < 0) return {};
        const InputPtr scan(opened);
        const PacketPtr read = NewPacket();
        while (av_read_frame(scan.get(), read.get()) >= 0) {
            const std::int64_t stamp = read->pts != kNoTimestamp ? read->pts : read->dts;
            if (read->stream_index == video_index && stamp != kNoTimestamp) stamps.push_back(stamp);
            av_packet_unref(read.get());
        }
    }
    spacing = SpacingOf(std::move(stamps));
    return *spacing;
}

VideoSpacing MovieReader::Internals::SpacingOf(std::vector<std::int64_t> stamps) const {
    const AVRational rate =
        video->avg_frame_rate.num > 0 ? video->avg_frame_rate : video->r_frame_rate;
    if (stamps.empty() || rate.num <= 0 || rate.den <= 0) return {};
    // Frame k lies within a tick of the first plus k frames.
    std::sort(stamps.begin(), stamps.end());
    const double frame = av_q2d(av_inv_q(rate)) / av_q2d(video->time_base);
    for (std::size_t k = 0; k < stamps.size(); ++k) {
        const double expected = double(stamps.front()) + double(k) * frame;
        if (std::abs(double(stamps[k]) - expected) > 1.0) return {};
    }
    const double first = double(stamps.front()) / frame;
    return {true, std::abs(first - std::round(first)) * frame <= 1.0};
}

void MovieReader::Internals::OpenDecoder(const AVCodec* codec) {
    decoder.reset(avcodec_alloc_context3(codec));
    if (!decoder) throw std::bad_alloc();
    AVCodecContext* context = decoder.get();
    if (int code = avcodec_parameters_to_context(context, video->codecpar); code < 0) {
        throw MovieError(fmt::format("{}: {}", path, ErrorText(code)));
    }
    context->pkt_timebase = video->time_base;
    av_opt_set(context, "threads",
               decoder_threads > 0 ? std::to_string(decoder_threads).c_str() : "auto", 0);
    if (int code = avcodec_open2(context, codec, nullptr); code < 0) {
        throw MovieError(
            fmt::format("{}: cannot open the {} decoder: {}", path, codec->name, ErrorText(code)));
    }
}

MovieReader::~MovieReader() = default;

int MovieReader::width() const {
    return in_->source.width;
}
int MovieReader::height() const {
    return in_->source.height;
}
SampleType MovieReader::type() const {
    return in_->type;
}
bool MovieReader::has_alpha() const {
    return in_->has_alpha;
}
long MovieReader::frame_count() const {
    return in_->video->nb_frames > 0 ? long(in_->video->nb_frames) : in_->declared_frames;
}
const std::string& MovieReader::path() const {
    return in_->path;
}
std::uint64_t MovieReader::OtherStreamsBytesPerFrame() const {
    const Internals& in = *in_;
    const AVRational rate =
        in.video->avg_frame_rate.num > 0 ? in.video->avg_frame_rate : in.video->r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) return 0;
    std::int64_t bits_per_second = 0;
    for (unsigned i = 0; i < in.input->nb_streams; ++i) {
        const AVCodecParameters& parameters = *in.input->streams[i]->codecpar;
        if (int(i) != in.video_index && parameters.bit_rate > 0) {
            bits_per_second += parameters.bit_rate;
        }
    }
    return std::uint64_t(av_rescale_q(bits_per_second / 8, av_inv_q(rate), {1, 1}));
}

const MovieSource& MovieReader::source() const {
    return in_->source;
}
const DisplayMatrix& MovieReader::display_matrix() const {
    return in_->matrix;
}

void MovieReader::TurnFramesUpright() {
    Internals& in = *in_;
    if (in.frames_decoded > 0 || in.holding) {
        throw std::logic_error("MovieReader: frames are turned from the first one only");
    }
    if (!in.matrix.present || !in.matrix.whole_turn || in.turn) return;
    in.turn = true;
    in.source.display_matrix = nullptr;
    if (in.matrix.upright.transpose) std::swap(in.source.width, in.source.height);
}

void MovieReader::CopyPacketsInto(const std::vector<int>& streams, CopiedPackets& packets) {
    if (in_->frames_decoded > 0 || in_->video_packets > 0) {
        throw std::logic_error("MovieReader: packets are copied from the start of the file only");
    }
    for (int index : streams) in_->keep_stream.at(std::size_t(index)) = true;
    in_->copied = &packets;
}

bool MovieReader::Internals::Decode() {
    if (drained) return false;
    for (;;) {
        int code = avcodec_receive_frame(decoder.get(), decoded.get());
        if (code == 0) break;
        if (code == kErrorEof) {
            drained = true;
            return false;
        }
        if (code != kErrorAgain) {
            throw MovieError(fmt::format("{}: cannot decode: {}", FramePrefix(), ErrorText(code)));
        }
        if (demuxed_all) {
            // Only after a flush can the decoder run out; EAGAIN here would loop.
            throw MovieError(fmt::format("{}: the decoder stalled", FramePrefix()));
        }
        Read read = Read::kOther;
        while (read == Read::kOther) read = ReadPacket();
        if (read == Read::kEnd) {
            code = avcodec_send_packet(decoder.get(), nullptr);
        } else {
            code = avcodec_send_packet(decoder.get(), packet.get());
            av_packet_unref(packet.get());
        }
        if (code < 0 && code != kErrorEof) {
            throw MovieError(fmt::format("{}: cannot decode: {}", FramePrefix(), ErrorText(code)));
        }
    }
    if ((decoded->flags & AV_FRAME_FLAG_CORRUPT) || decoded->decode_error_flags != 0) {
        av_frame_unref(decoded.get());
        throw MovieError(fmt::format("{}: the decoder found the frame damaged", FramePrefix()));
    }
    return true;
}

void MovieReader::Prime() {
    Internals& in = *in_;
    if (in.holding || in.frames_decoded > 0 || !in.Decode()) return;
    in.ReadFirstFrameSideData(*in.decoded);
    in.held = NewFrame();
    av_frame_move_ref(in.held.get(), in.decoded.get());
    in.holding = true;
}

bool MovieReader::Decode(DecodedFrame& into) {
    Internals& in = *in_;
    if (in.holding) {
        av_frame_move_ref(in.decoded.get(), in.held.get());
        in.holding = false;
    } else if (!in.Decode()) {
        return false;
    }
    DecodedFrame::Data& data = *into.data_;
    av_frame_unref(data.frame.get());
    av_frame_move_ref(data.frame.get(), in.decoded.get());
    data.number = ++in.frames_decoded;
    return true;
}

void MovieReader::Convert(DecodedFrame& decoded, MovieFrame& frame) const {
    const Internals& in = *in_;
    DecodedFrame::Data& data = *decoded.data_;
    const AVFrame& coded = *data.frame;
    if (in.turn) {
        in.Convert(coded, data.number, data.conversion, data.coded);
        Orient(data.coded, in.matrix.upright, frame.image);
    } else {
        in.Convert(coded, data.number, data.conversion, frame.image);
    }
    frame.pts = coded.best_effort_timestamp;
    frame.duration = coded.pkt_duration;
    frame.number = data.number;
    frame.interlaced = coded.interlaced_frame != 0;
    frame.top_field_first = coded.top_field_first != 0;
    frame.captions.clear();
    if (const AVFrameSideData* cc = av_frame_get_side_data(&coded, AV_FRAME_DATA_A53_CC)) {
        frame.captions.assign(cc->data, cc->data + cc->size);
    }
    av_frame_unref(data.frame.get());
}

bool MovieReader::Next(MovieFrame& frame) {
    if (!Decode(in_->sequential)) return false;
    Convert(in_->sequential, frame);
    return true;
}

}  // namespace render
