#include "tools/vemra-render/io/movie_reader.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <new>

#include "tools/vemra-render/io/ffmpeg_common.h"

namespace render {

namespace movie {

std::string ErrorText(int code) {
    std::array<char, AV_ERROR_MAX_STRING_SIZE> text{};
    if (av_strerror(code, text.data(), text.size()) < 0) return fmt::format("error {}", code);
    return text.data();
}

void QuietFfmpegLog() {
    // Every failure reaches the caller as a MovieError of one line, so
    // FFmpeg's own messages (an encoder's statistics, a demuxer's warning
    // about the file it is about to fail on) would only add lines around it.
    if (av_log_get_level() == AV_LOG_INFO) av_log_set_level(AV_LOG_QUIET);
}

FramePtr NewFrame() {
    FramePtr frame(av_frame_alloc());
    if (!frame) throw std::bad_alloc();
    return frame;
}

PacketPtr NewPacket() {
    PacketPtr packet(av_packet_alloc());
    if (!packet) throw std::bad_alloc();
    return packet;
}

AVPixelFormat RgbaFormatOf(SampleType type) {
    switch (type) {
        case SampleType::kUint8:
            return AV_PIX_FMT_RGBA;
        case SampleType::kUint16:
            return AV_PIX_FMT_RGBA64LE;
        case SampleType::kFloat:
            return AV_PIX_FMT_GBRAPF32LE;
    }
    return AV_PIX_FMT_RGBA;
}

SwsPtr MakeConverter(int width, int height, AVPixelFormat from, AVPixelFormat to,
                     const std::string& name) {
    SwsPtr converter(sws_alloc_context());
    if (!converter) throw std::bad_alloc();
    SwsContext* c = converter.get();
    // The ffmpeg program converts through its scale filter with the flags
    // "bicubic" and the filter's defaults; 8-bit 4:2:0 gets MPEG-2 chroma
    // siting (vertical position 128) there, on the side that has it.
    av_opt_set_int(c, "srcw", width, 0);
    av_opt_set_int(c, "srch", height, 0);
    av_opt_set_int(c, "src_format", from, 0);
    av_opt_set_int(c, "dstw", width, 0);
    av_opt_set_int(c, "dsth", height, 0);
    av_opt_set_int(c, "dst_format", to, 0);
    av_opt_set_int(c, "sws_flags", SWS_BICUBIC, 0);
    av_opt_set_int(c, "src_h_chr_pos", -513, 0);
    av_opt_set_int(c, "src_v_chr_pos", from == AV_PIX_FMT_YUV420P ? 128 : -513, 0);
    av_opt_set_int(c, "dst_h_chr_pos", -513, 0);
    av_opt_set_int(c, "dst_v_chr_pos", to == AV_PIX_FMT_YUV420P ? 128 : -513, 0);
    if (int code = sws_init_context(c, nullptr, nullptr); code < 0) {
        throw MovieError(fmt::format("{}: cannot convert {} to {}: {}", name,
                                     av_get_pix_fmt_name(from), av_get_pix_fmt_name(to),
                                     ErrorText(code)));
    }
    return converter;
}

void SetColorDetails(SwsContext* converter, AVColorSpace matrix, AVColorRange range,
                     int output_full_range) {
    int* inv_table = nullptr;
    int* table = nullptr;
    int in_full = 0, out_full = 0, brightness = 0, contrast = 0, saturation = 0;
    sws_getColorspaceDetails(converter, &inv_table, &in_full, &table, &out_full, &brightness,
                             &contrast, &saturation);
    // The scale filter's "auto" matrix: the frame's own, BT.601 for RGB,
    // YCgCo and anything it does not know.
    int space = matrix;
    if (space < 1 || space > 10 || space == AVCOL_SPC_YCGCO) space = AVCOL_SPC_BT470BG;
    const int* coefficients = sws_getCoefficients(space);
    if (range != AVCOL_RANGE_UNSPECIFIED) in_full = range == AVCOL_RANGE_JPEG;
    if (output_full_range >= 0) out_full = output_full_range;
    sws_setColorspaceDetails(converter, coefficients, in_full, coefficients, out_full, brightness,
                             contrast, saturation);
}

void InterleaveFloat(const AVFrame& planar, Image& image) {
    // GBRAP planes: 0 green, 1 blue, 2 red, 3 alpha.
    constexpr std::array<int, 4> kPlaneOfChannel{2, 0, 1, 3};
    for (int y = 0; y < image.height; ++y) {
        auto* out = reinterpret_cast<float*>(image.PixelAddress(0, y));
        for (int c = 0; c < 4; ++c) {
            const int plane = kPlaneOfChannel[std::size_t(c)];
            const auto* in = reinterpret_cast<const float*>(
                planar.data[plane] + std::ptrdiff_t(y) * planar.linesize[plane]);
            for (int x = 0; x < image.width; ++x) out[4 * x + c] = in[x];
        }
    }
}

void DeinterleaveFloat(const Image& image, AVFrame& planar) {
    constexpr std::array<int, 4> kPlaneOfChannel{2, 0, 1, 3};
    for (int y = 0; y < image.height; ++y) {
        const auto* in = reinterpret_cast<const float*>(image.PixelAddress(0, y));
        for (int c = 0; c < 4; ++c) {
            const int plane = kPlaneOfChannel[std::size_t(c)];
            auto* out = reinterpret_cast<float*>(planar.data[plane] +
                                                 std::ptrdiff_t(y) * planar.linesize[plane]);
            for (int x = 0; x < image.width; ++x) out[x] = in[4 * x + c];
        }
    }
}

}  // namespace movie

using namespace movie;

bool IsMoviePath(std::string_view path) {
    static constexpr std::array<std::string_view, 16> kExtensions{
        "mov",  "mp4", "m4v", "mkv",  "webm", "avi", "mxf", "mts",
        "m2ts", "ts",  "mpg", "mpeg", "y4m",  "nut", "flv", "ogv"};
    const std::size_t slash = path.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) return false;
    std::string extension(name.substr(dot + 1));
    for (char& ch : extension) ch = char(std::tolower(static_cast<unsigned char>(ch)));
    return std::find(kExtensions.begin(), kExtensions.end(), extension) != kExtensions.end();
}

namespace {

/// The Image sample type that holds `format`'s samples.
SampleType HoldingType(const AVPixFmtDescriptor& desc) {
    if (desc.flags & AV_PIX_FMT_FLAG_FLOAT) return SampleType::kFloat;
    int depth = 0;
    for (int c = 0; c < desc.nb_components; ++c) depth = std::max(depth, desc.comp[c].depth);
    return depth <= 8 ? SampleType::kUint8 : depth <= 16 ? SampleType::kUint16 : SampleType::kFloat;
}

}  // namespace

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
        kept.push_back(NewPacket());
        av_packet_move_ref(kept.back().get(), packet.get());
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

MovieReader::MovieReader(const std::string& path, std::uint64_t max_pixels)
    : in_(std::make_unique<Internals>()) {
    QuietFfmpegLog();
    in_->path = path;
    in_->max_pixels = max_pixels;
    in_->packet = NewPacket();
    in_->decoded = NewFrame();

    AVFormatContext* opened = nullptr;
    if (int code = avformat_open_input(&opened, path.c_str(), nullptr, nullptr); code < 0) {
        throw MovieError(fmt::format("{}: cannot open as a movie: {}", path, ErrorText(code)));
    }
    in_->input.reset(opened);
    AVFormatContext* format = opened;
    if (int code = avformat_find_stream_info(format, nullptr); code < 0) {
        throw MovieError(fmt::format("{}: cannot read the streams: {}", path, ErrorText(code)));
    }
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
    in_->video_index = index;
    in_->video = format->streams[index];
    in_->keep_stream.assign(format->nb_streams, false);
    const AVCodecParameters* parameters = in_->video->codecpar;
    in_->width = parameters->width;
    in_->height = parameters->height;
    if (in_->width <= 0 || in_->height <= 0) {
        throw MovieError(fmt::format("{}: the video stream has no frame size", path));
    }
    if (std::uint64_t(in_->width) * std::uint64_t(in_->height) > max_pixels) {
        throw MovieError(fmt::format("{}: {}x{} frames are above the limit of {} pixels", path,
                                     in_->width, in_->height, max_pixels));
    }
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(parameters->format));
    if (desc == nullptr) {
        throw MovieError(fmt::format("{}: the pixel format of the video stream is unknown", path));
    }
    in_->type = HoldingType(*desc);
    in_->has_alpha = (desc->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;

    in_->decoder.reset(avcodec_alloc_context3(codec));
    if (!in_->decoder) throw std::bad_alloc();
    AVCodecContext* decoder = in_->decoder.get();
    if (int code = avcodec_parameters_to_context(decoder, parameters); code < 0) {
        throw MovieError(fmt::format("{}: {}", path, ErrorText(code)));
    }
    decoder->pkt_timebase = in_->video->time_base;
    av_opt_set(decoder, "threads", "auto", 0);
    if (int code = avcodec_open2(decoder, codec, nullptr); code < 0) {
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
    return in_->video->nb_frames > 0 ? long(in_->video->nb_frames) : -1;
}
const std::string& MovieReader::path() const {
    return in_->path;
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
