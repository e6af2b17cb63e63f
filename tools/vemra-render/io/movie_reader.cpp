#include "tools/vemra-render/io/movie_reader.h"

#include <fmt/format.h>

extern "C" {
#include <libavutil/avstring.h>
}

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "tools/vemra-render/io/ffmpeg_common.h"
#include "tools/vemra-render/io/movie_conversion.h"
#include "tools/vemra-render/io/movie_formats.h"
#include "tools/vemra-render/io/movie_source.h"

namespace render {

using namespace movie;

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
    FramePtr planar;  ///< GBRAPF32 conversion output for float sources
    SwsPtr converter;
    AVPixelFormat converter_from = AV_PIX_FMT_NONE;
    AVColorSpace converter_matrix = AVCOL_SPC_NB;
    AVColorRange converter_range = AVCOL_RANGE_NB;

    int width = 0;
    int height = 0;
    SampleType type = SampleType::kUint8;
    bool has_alpha = false;
    MovieSource source;

    long frames_decoded = 0;
    long video_packets = 0;
    bool demuxed_all = false;  ///< av_read_frame reached the end of the file
    bool drained = false;      ///< the decoder gave its last frame
    /// The latest end (timestamp plus duration) of any packet read, in microseconds.
    std::int64_t packets_end = kNoTimestamp;

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
    /// Throws MovieError when the file just read to its end shows it was cut
    /// short (see ReadPacket).
    void CheckComplete() const;
    /// Converts `decoded` into `image` as RGBA of `type`.
    void Convert(Image& image);
    /// Opens the decoder of the video stream.
    void OpenDecoder(const AVCodec* codec);
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
            CheckComplete();
            if (copied != nullptr) copied->Close();
            return Read::kEnd;
        }
        if (code < 0) {
            throw MovieError(fmt::format("{}: cannot read: {}", FramePrefix(), ErrorText(code)));
        }
        const int index = packet->stream_index;
        const bool is_video = index == video_index;
        const bool is_kept = !is_video && index >= 0 && std::size_t(index) < keep_stream.size() &&
                             keep_stream[std::size_t(index)];
        if (!is_video && !is_kept) {
            av_packet_unref(packet.get());
            continue;
        }
        // The demuxer marks a packet it could read only in part: the file
        // ends (or is damaged) in the middle of it.
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
        }
        if (is_video) {
            ++video_packets;
            return Read::kVideo;
        }
        copied->Push(packet.get());
        return Read::kOther;
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
    // A container that declares its duration in its header (Matroska, QuickTime,
    // ...): all its streams together must reach it, give or take two frames.
    if (format->duration > 0 && packets_end != kNoTimestamp &&
        format->duration_estimation_method == AVFMT_DURATION_FROM_STREAM) {
        const std::int64_t start = format->start_time != kNoTimestamp ? format->start_time : 0;
        const AVRational rate =
            video->avg_frame_rate.num > 0 ? video->avg_frame_rate : AVRational{10, 1};
        const std::int64_t slack = av_rescale_q(2, av_inv_q(rate), kMicroseconds);
        if (packets_end < start + format->duration - slack) {
            throw MovieError(fmt::format(
                "{}: the file is cut short: its streams end at {:.3f} s of the {:.3f} s it "
                "declares",
                FramePrefix(), double(packets_end - start) / AV_TIME_BASE,
                double(format->duration) / AV_TIME_BASE));
        }
    }
}

void MovieReader::Internals::Convert(Image& image) {
    AVFrame* frame = decoded.get();
    if (frame->width != width || frame->height != height) {
        throw MovieError(fmt::format("{}: the frame size changes from {}x{} to {}x{}",
                                     FramePrefix(), width, height, frame->width, frame->height));
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
    if (!converter || from != converter_from) {
        converter = MakeConverter(width, height, from, to, path);
        converter_from = from;
        converter_matrix = AVCOL_SPC_NB;
    }
    if (frame->colorspace != converter_matrix || frame->color_range != converter_range) {
        SetColorDetails(converter.get(), frame->colorspace, frame->color_range, -1);
        converter_matrix = frame->colorspace;
        converter_range = frame->color_range;
    }
    // FFmpeg's frames have rows aligned for its SIMD code; the image's rows
    // are tight. Converting into an aligned frame keeps the converter on the
    // code path the ffmpeg program takes, so the samples come out the same.
    const bool aligned = type != SampleType::kFloat && row_bytes % 64 == 0 &&
                         reinterpret_cast<std::uintptr_t>(image.pixels.data()) % 64 == 0;
    if (aligned) {
        std::array<std::uint8_t*, 4> planes{reinterpret_cast<std::uint8_t*>(image.pixels.data()),
                                            nullptr, nullptr, nullptr};
        std::array<int, 4> strides{row_bytes, 0, 0, 0};
        sws_scale(converter.get(), frame->data, frame->linesize, 0, height, planes.data(),
                  strides.data());
        return;
    }
    if (!planar || planar->width != width || planar->height != height) {
        planar = NewFrame();
        planar->width = width;
        planar->height = height;
        planar->format = to;
        if (int code = av_frame_get_buffer(planar.get(), 0); code < 0) {
            throw MovieError(fmt::format("{}: {}", FramePrefix(), ErrorText(code)));
        }
    }
    sws_scale(converter.get(), frame->data, frame->linesize, 0, height, planar->data,
              planar->linesize);
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
/// opens, and within the probe's bounds.
InputPtr OpenDemuxer(const std::string& name, AVIOContext* io, const MovieProbe& probe) {
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

MovieReader::MovieReader(const std::string& path, std::uint64_t max_pixels)
    : MovieReader(nullptr, path, max_pixels, MovieProbe{}) {}

MovieReader::MovieReader(AVIOContext* io, const std::string& name, std::uint64_t max_pixels,
                         const MovieProbe& probe)
    : in_(std::make_unique<Internals>()) {
    QuietFfmpegLog();
    in_->path = name;
    in_->max_pixels = max_pixels;
    in_->decoder_threads = probe.decoder_threads;
    in_->packet = NewPacket();
    in_->decoded = NewFrame();
    in_->input = OpenDemuxer(name, io, probe);
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

    in_->source = MovieSource{name,       format,
                              in_->video, av_guess_sample_aspect_ratio(format, in_->video, nullptr),
                              in_->width, in_->height,
                              in_->type,  in_->has_alpha};
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
    return in_->width;
}
int MovieReader::height() const {
    return in_->height;
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
const MovieSource& MovieReader::source() const {
    return in_->source;
}

void MovieReader::CopyPacketsInto(const std::vector<int>& streams, CopiedPackets& packets) {
    if (in_->frames_decoded > 0 || in_->video_packets > 0) {
        throw std::logic_error("MovieReader: packets are copied from the start of the file only");
    }
    for (int index : streams) in_->keep_stream.at(std::size_t(index)) = true;
    in_->copied = &packets;
}

bool MovieReader::Next(MovieFrame& frame) {
    Internals& in = *in_;
    if (in.drained) return false;
    AVCodecContext* decoder = in.decoder.get();
    for (;;) {
        int code = avcodec_receive_frame(decoder, in.decoded.get());
        if (code == 0) break;
        if (code == kErrorEof) {
            in.drained = true;
            return false;
        }
        if (code != kErrorAgain) {
            throw MovieError(
                fmt::format("{}: cannot decode: {}", in.FramePrefix(), ErrorText(code)));
        }
        if (in.demuxed_all) {
            // Only after a flush can the decoder run out; EAGAIN here would loop.
            throw MovieError(fmt::format("{}: the decoder stalled", in.FramePrefix()));
        }
        Internals::Read read = Internals::Read::kOther;
        while (read == Internals::Read::kOther) read = in.ReadPacket();
        if (read == Internals::Read::kEnd) {
            code = avcodec_send_packet(decoder, nullptr);
        } else {
            code = avcodec_send_packet(decoder, in.packet.get());
            av_packet_unref(in.packet.get());
        }
        if (code < 0 && code != kErrorEof) {
            throw MovieError(
                fmt::format("{}: cannot decode: {}", in.FramePrefix(), ErrorText(code)));
        }
    }
    AVFrame* decoded = in.decoded.get();
    if ((decoded->flags & AV_FRAME_FLAG_CORRUPT) || decoded->decode_error_flags != 0) {
        av_frame_unref(decoded);
        throw MovieError(fmt::format("{}: the decoder found the frame damaged", in.FramePrefix()));
    }
    in.Convert(frame.image);
    frame.pts = decoded->best_effort_timestamp;
    frame.duration = decoded->pkt_duration;
    frame.number = ++in.frames_decoded;
    av_frame_unref(decoded);
    return true;
}

}  // namespace render
