#include "tools/vemra-render/io/movie_encoder.h"

#include <fmt/format.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "tools/vemra-render/io/ffmpeg_log.h"
#include "tools/vemra-render/io/movie_conversion.h"
#include "tools/vemra-render/run/library_log.h"

namespace render {

using namespace movie;

namespace {

/// True when `codec` drives a hardware device (it may be absent, or slow to
/// start, on the machine that renders) rather than encoding in software.
bool IsHardware(const AVCodec& codec) {
    if (codec.capabilities & AV_CODEC_CAP_HARDWARE) return true;
    for (const char* suffix : {"_omx", "_v4l2m2m", "_vaapi", "_nvenc", "_qsv", "_amf", "_mf",
                               "_videotoolbox", "_mediacodec", "_vulkan"}) {
        const std::size_t name_size = std::strlen(codec.name), suffix_size = std::strlen(suffix);
        if (name_size > suffix_size &&
            std::strcmp(codec.name + name_size - suffix_size, suffix) == 0) {
            return true;
        }
    }
    return false;
}

/// The software encoder this FFmpeg has for `id`, in FFmpeg's own order of
/// preference, except that ProRes goes to prores_ks (which encodes alpha
/// and every profile); null when there is none.
const AVCodec* SoftwareEncoderFor(AVCodecID id) {
    if (id == AV_CODEC_ID_PRORES) {
        if (const AVCodec* codec = avcodec_find_encoder_by_name("prores_ks")) return codec;
    }
    void* state = nullptr;
    while (const AVCodec* codec = av_codec_iterate(&state)) {
        if (codec->id == id && av_codec_is_encoder(codec) && !IsHardware(*codec) &&
            !(codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL)) {
            return codec;
        }
    }
    return nullptr;
}

/// True when the container `format` can certainly hold `id`.
bool ContainerHolds(const AVOutputFormat& format, AVCodecID id) {
    return avformat_query_codec(&format, id, FF_COMPLIANCE_NORMAL) == 1;
}

/// True when `format` is a YCbCr (or grey) layout rather than RGB.
bool IsYuv(AVPixelFormat format) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    return desc != nullptr && !(desc->flags & AV_PIX_FMT_FLAG_RGB) &&
           !(desc->flags & AV_PIX_FMT_FLAG_PAL);
}

/// True when `matrix` is one the converter uses as it is (see SetColorDetails).
bool IsUsableMatrix(AVColorSpace matrix) {
    return matrix >= 1 && matrix <= 10 && matrix != AVCOL_SPC_YCGCO &&
           matrix != AVCOL_SPC_UNSPECIFIED;
}

/// True when `codec` lists `format` among the pixel formats it takes.
bool Takes(const AVCodec& codec, AVPixelFormat format) {
    for (const AVPixelFormat* p = codec.pix_fmts; p != nullptr && *p != AV_PIX_FMT_NONE; ++p) {
        if (*p == format) return true;
    }
    return false;
}

}  // namespace

MovieEncoder::MovieEncoder(const MovieSource& source, const AVOutputFormat& container,
                           const MovieWriteSettings& settings, const std::string& target)
    : source_(source),
      source_time_base_(source.video->time_base),
      container_(container),
      target_(target),
      packet_(NewPacket()) {
    ChooseEncoder(settings);
    rgba_format_ = RgbaFormatOf(source_.type);
    const AVPixelFormat pixel_format = ChoosePixelFormat(settings);

    CheckFrameSize(pixel_format);

    encoder_.reset(avcodec_alloc_context3(codec_));
    if (!encoder_) throw std::bad_alloc();
    AVCodecContext* enc = encoder_.get();
    enc->width = source_.width;
    enc->height = source_.height;
    enc->pix_fmt = pixel_format;
    SetTiming();
    const int output_full_range = SetColourTags();
    if (container_.flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(enc, "threads",
               settings.threads > 0 ? std::to_string(settings.threads).c_str() : "auto", 0);
    SetQuality(settings);
    SetFieldCoding();
    SetOwnPrinting(settings);
    {
        // An encoder that refuses its settings says why in its log.
        LogWatch log(enc);
        if (int code = avcodec_open2(enc, codec_, nullptr); code < 0) {
            throw MovieRefused(WithCause(
                fmt::format("{}: cannot open the {} encoder for {}: {}", target_, codec_->name,
                            av_get_pix_fmt_name(pixel_format), ErrorText(code)),
                log));
        }
        for (const LoggedMessage& message : log.Take()) NoteLibraryMessage(message.text);
    }
    PrepareFrames(output_full_range);
}

void MovieEncoder::Fail(const std::string& what, int code) const {
    throw MovieError(fmt::format("{}: {}: {}", target_, what, ErrorText(code)));
}

void MovieEncoder::ChooseEncoder(const MovieWriteSettings& settings) {
    if (!settings.codec.empty()) {
        codec_ = avcodec_find_encoder_by_name(settings.codec.c_str());
        if (codec_ == nullptr || codec_->type != AVMEDIA_TYPE_VIDEO) {
            throw MovieRefused(fmt::format("{}: no video encoder named '{}' in this FFmpeg",
                                           target_, settings.codec));
        }
        if (avformat_query_codec(&container_, codec_->id, FF_COMPLIANCE_NORMAL) == 0) {
            throw MovieRefused(fmt::format("{}: the {} format cannot hold {} video", target_,
                                           container_.name, avcodec_get_name(codec_->id)));
        }
        return;
    }
    const AVCodecID source_id = source_.video->codecpar->codec_id;
    if (const AVCodec* own = SoftwareEncoderFor(source_id);
        own && ContainerHolds(container_, source_id)) {
        codec_ = own;
        return;
    }
    std::vector<const char*> fallbacks;
    const std::string_view name = container_.name;
    if (name == "mov") {
        fallbacks = {"prores_ks"};
    } else if (name == "matroska" || name == "nut" || name == "avi") {
        fallbacks = {"ffv1"};
    } else if (name == "webm") {
        fallbacks = {"libvpx-vp9", "libaom-av1"};
    } else {
        fallbacks = {"libx264", "mpeg4"};
    }
    for (const char* fallback : fallbacks) {
        const AVCodec* candidate = avcodec_find_encoder_by_name(fallback);
        if (candidate &&
            avformat_query_codec(&container_, candidate->id, FF_COMPLIANCE_NORMAL) != 0) {
            codec_ = candidate;
            return;
        }
    }
    throw MovieRefused(fmt::format("{}: no default video encoder for the {} format; name one",
                                   target_, container_.name));
}

AVPixelFormat MovieEncoder::ChoosePixelFormat(const MovieWriteSettings& settings) const {
    if (!settings.pix_fmt.empty()) {
        const AVPixelFormat asked = av_get_pix_fmt(settings.pix_fmt.c_str());
        if (asked == AV_PIX_FMT_NONE || (codec_->pix_fmts != nullptr && !Takes(*codec_, asked))) {
            throw MovieRefused(fmt::format("{}: the {} encoder does not take the pixel format '{}'",
                                           target_, codec_->name, settings.pix_fmt));
        }
        return asked;
    }
    if (codec_->pix_fmts == nullptr) return rgba_format_;
    // The source's own pixel format when the encoder takes it: a 4:2:0 H.264
    // stays 4:2:0, as players and editors expect, and a ProRes 4444 keeps
    // its alpha and depth.
    const auto source_pixels = static_cast<AVPixelFormat>(source_.video->codecpar->format);
    if (Takes(*codec_, source_pixels)) return source_pixels;
    // Otherwise ranked from the frames' layout, without alpha when the source
    // has none: the choice ffmpeg makes for such frames fed as RGB.
    const AVPixelFormat ranked_from = source_.has_alpha                     ? rgba_format_
                                      : source_.type == SampleType::kUint8  ? AV_PIX_FMT_RGB24
                                      : source_.type == SampleType::kUint16 ? AV_PIX_FMT_RGB48LE
                                                                            : AV_PIX_FMT_GBRPF32LE;
    return avcodec_find_best_pix_fmt_of_list(codec_->pix_fmts, ranked_from, source_.has_alpha,
                                             nullptr);
}

bool MovieEncoder::CountsInFrames() const {
    const std::string_view codec = codec_->name, container = container_.name;
    return codec == "mpeg1video" || codec == "mpeg2video" || codec == "mpeg4" ||
           container.substr(0, 3) == "mxf" || container == "avi";
}

void MovieEncoder::SetTiming() {
    AVCodecContext* enc = encoder_.get();
    const AVStream& video = *source_.video;
    const AVRational rate =
        video.avg_frame_rate.num > 0 ? video.avg_frame_rate : video.r_frame_rate;
    enc->framerate = rate;
    // Frames evenly spaced on the rate's grid: the encoder counts in
    // frames, as the ffmpeg program has it, so what the encoders derive from
    // the time base (H.264's timing info) is what it would be there, and every
    // timestamp maps back exactly. Otherwise the stream's own ticks, so that
    // every frame keeps its time (the muxer may count more coarsely:
    // Matroska counts milliseconds). Encoders and containers that count time
    // in whole frames take evenly spaced frames only.
    const VideoSpacing spacing = source_.spacing();
    enc->time_base = video.time_base;
    if (CountsInFrames()) {
        if (rate.num <= 0 || rate.den <= 0 || !spacing.even) {
            throw MovieRefused(fmt::format(
                "{}: {} ({}) counts time in whole frames, and the frames of {} are not evenly "
                "spaced (a variable frame rate): write it into .mkv, .mov or .mp4, which keep "
                "each frame's time",
                target_, container_.name, codec_->name, source_.path));
        }
        enc->time_base = av_inv_q(rate);
    } else if (spacing.even && spacing.on_grid) {
        enc->time_base = av_inv_q(rate);
    }
    enc->sample_aspect_ratio = source_.sample_aspect_ratio;
    enc->field_order = ValidTag(video.codecpar->field_order, AV_FIELD_BT + 1, AV_FIELD_UNKNOWN);
}

int MovieEncoder::SetColourTags() {
    AVCodecContext* enc = encoder_.get();
    const AVCodecParameters& parameters = *source_.video->codecpar;
    enc->color_primaries =
        ValidTag(parameters.color_primaries, AVCOL_PRI_NB, AVCOL_PRI_UNSPECIFIED);
    enc->color_trc = ValidTag(parameters.color_trc, AVCOL_TRC_NB, AVCOL_TRC_UNSPECIFIED);
    enc->chroma_sample_location =
        ValidTag(parameters.chroma_location, AVCHROMA_LOC_NB, AVCHROMA_LOC_UNSPECIFIED);
    // The frames are RGB; the tags describe how the encoded samples relate
    // to them. A YCbCr output is converted with the source's matrix (BT.601
    // where it names none it can use) and range, and tagged with what was
    // used; an RGB output is full-range RGB.
    if (!IsYuv(enc->pix_fmt)) {
        enc->colorspace = AVCOL_SPC_RGB;
        enc->color_range = AVCOL_RANGE_JPEG;
        return -1;
    }
    const bool source_yuv = IsYuv(AVPixelFormat(parameters.format));
    const AVColorSpace matrix =
        ValidTag(parameters.color_space, AVCOL_SPC_NB, AVCOL_SPC_UNSPECIFIED);
    enc->colorspace = source_yuv && IsUsableMatrix(matrix) ? matrix
                      : matrix == AVCOL_SPC_UNSPECIFIED    ? AVCOL_SPC_UNSPECIFIED
                                                           : AVCOL_SPC_SMPTE170M;
    const AVColorRange range =
        ValidTag(parameters.color_range, AVCOL_RANGE_NB, AVCOL_RANGE_UNSPECIFIED);
    if (source_yuv && range != AVCOL_RANGE_UNSPECIFIED) {
        enc->color_range = range;
        return range == AVCOL_RANGE_JPEG;
    }
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(enc->pix_fmt);
    const bool full_by_format = std::strncmp(desc->name, "yuvj", 4) == 0;
    enc->color_range = full_by_format                     ? AVCOL_RANGE_JPEG
                       : range == AVCOL_RANGE_UNSPECIFIED ? AVCOL_RANGE_UNSPECIFIED
                                                          : AVCOL_RANGE_MPEG;
    return -1;
}

void MovieEncoder::CheckFrameSize(AVPixelFormat pixel_format) const {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(pixel_format);
    if (desc == nullptr) return;
    const int across = 1 << desc->log2_chroma_w, down = 1 << desc->log2_chroma_h;
    const char* what = source_.width % across != 0  ? "width"
                       : source_.height % down != 0 ? "height"
                                                    : nullptr;
    if (what == nullptr) return;
    throw MovieRefused(fmt::format(
        "{}: {}x{} frames cannot be encoded as {}: its colour is sampled once in every {}x{} "
        "pixels, so the {} must be a multiple of {}; choose a pixel format with --pix-fmt "
        "(e.g. yuv444p) or crop the source",
        target_, source_.width, source_.height, desc->name, across, down, what,
        what[0] == 'w' ? across : down));
}

void MovieEncoder::SetOwnPrinting(const MovieWriteSettings& settings) {
    AVCodecContext* enc = encoder_.get();
    // x265 prints to the terminal itself, past FFmpeg's log, and reads the
    // HDR10 metadata from its own parameters only (it ignores the frames').
    if (std::strcmp(codec_->name, "libx265") == 0) {
        std::string parameters = settings.quiet ? "log-level=none" : "log-level=error";
        parameters += X265Hdr10Parameters();
        av_opt_set(enc->priv_data, "x265-params", parameters.c_str(), 0);
    }
    // SVT-AV1 reads its level once, when its first encoder opens: errors
    // only, unless the user set one.
    if (std::strcmp(codec_->name, "libsvtav1") == 0) ::setenv("SVT_LOG", "1", 0);
}

std::string MovieEncoder::X265Hdr10Parameters() const {
    std::string parameters;
    if (const AVMasteringDisplayMetadata* m = source_.mastering) {
        // Chromaticities in units of 0.00002, luminance of 0.0001 cd/m2.
        const auto xy = [](const AVRational(&point)[2]) {
            return fmt::format("({},{})", std::lround(av_q2d(point[0]) * 50000),
                               std::lround(av_q2d(point[1]) * 50000));
        };
        if (m->has_primaries && m->has_luminance) {
            parameters +=
                fmt::format(":master-display=G{}B{}R{}WP{}L({},{})", xy(m->display_primaries[1]),
                            xy(m->display_primaries[2]), xy(m->display_primaries[0]),
                            xy(m->white_point), std::lround(av_q2d(m->max_luminance) * 10000),
                            std::lround(av_q2d(m->min_luminance) * 10000));
        }
    }
    if (const AVContentLightMetadata* light = source_.light_level) {
        parameters += fmt::format(":max-cll={},{}", light->MaxCLL, light->MaxFALL);
    }
    return parameters;
}

void MovieEncoder::SetFieldCoding() {
    // Interlaced sources are coded as fields by the encoders that can.
    const AVFieldOrder order =
        ValidTag(source_.video->codecpar->field_order, AV_FIELD_BT + 1, AV_FIELD_UNKNOWN);
    const bool interlaced = order == AV_FIELD_TT || order == AV_FIELD_BB || order == AV_FIELD_TB ||
                            order == AV_FIELD_BT;
    const std::string_view codec = codec_->name;
    if (interlaced &&
        (codec == "mpeg2video" || codec == "libx264" || codec == "prores_ks" || codec == "dnxhd")) {
        encoder_->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
    }
}

void MovieEncoder::AttachSideData(const MovieFrame& frame, AVFrame& encoded) const {
    // What a frame carries for the encoders that read it from frames:
    // captions (libx264 and mpeg2video embed them), HDR10's static metadata.
    for (AVFrameSideDataType type : {AV_FRAME_DATA_A53_CC, AV_FRAME_DATA_MASTERING_DISPLAY_METADATA,
                                     AV_FRAME_DATA_CONTENT_LIGHT_LEVEL}) {
        av_frame_remove_side_data(&encoded, type);
    }
    const auto attach = [&](AVFrameSideDataType type, const void* data, std::size_t size) {
        if (AVFrameSideData* side = av_frame_new_side_data(&encoded, type, size)) {
            std::memcpy(side->data, data, size);
        }
    };
    if (!frame.captions.empty()) {
        attach(AV_FRAME_DATA_A53_CC, frame.captions.data(), frame.captions.size());
    }
    if (source_.mastering != nullptr) {
        attach(AV_FRAME_DATA_MASTERING_DISPLAY_METADATA, source_.mastering,
               sizeof *source_.mastering);
    }
    if (source_.light_level != nullptr) {
        attach(AV_FRAME_DATA_CONTENT_LIGHT_LEVEL, source_.light_level, sizeof *source_.light_level);
    }
}

void MovieEncoder::SetQuality(const MovieWriteSettings& settings) {
    AVCodecContext* enc = encoder_.get();
    if (settings.codec.empty() && std::strcmp(codec_->name, "prores_ks") == 0 &&
        source_.video->codecpar->codec_id != AV_CODEC_ID_PRORES) {
        av_opt_set(enc->priv_data, "profile", "4444", 0);
    }
    if (settings.quality < 0) return;
    if (enc->priv_data != nullptr && av_opt_find(enc->priv_data, "crf", nullptr, 0, 0) != nullptr) {
        av_opt_set_int(enc->priv_data, "crf", settings.quality, 0);
    } else {
        enc->flags |= AV_CODEC_FLAG_QSCALE;
        enc->global_quality = FF_QP2LAMBDA * settings.quality;
    }
}

struct EncoderFrame::Data {
    FramePtr frame;          ///< in the encoder's layout, ready to send
    SwsPtr converter;        ///< this frame's own: converters are not shared between threads
    FramePtr planar_source;  ///< float frames deinterleaved for the converter
    bool ready = false;
};

EncoderFrame::EncoderFrame() : data_(std::make_unique<Data>()) {}
EncoderFrame::~EncoderFrame() = default;
EncoderFrame::EncoderFrame(EncoderFrame&&) noexcept = default;
EncoderFrame& EncoderFrame::operator=(EncoderFrame&&) noexcept = default;

void MovieEncoder::PrepareFrames(int output_full_range) {
    // What frames are prepared with, read from the opened encoder once: they
    // are prepared on other threads while it encodes.
    const AVCodecContext& enc = *encoder_;
    layout_ = {enc.pix_fmt, enc.colorspace, enc.time_base, enc.sample_aspect_ratio,
               output_full_range};
    // Frames already in the encoder's layout go to it unconverted, as in the
    // ffmpeg program (the converter would round float samples).
    converts_ = enc.pix_fmt != rgba_format_;
}

void MovieEncoder::Convert(const Image& image, EncoderFrame::Data& data) const {
    if (!data.frame) {
        data.frame = NewFrameWithBuffer(layout_.pixel_format, image.width, image.height, target_);
    }
    AVFrame* encoded = data.frame.get();
    // The encoder may still hold this frame's last buffer.
    if (int code = av_frame_make_writable(encoded); code < 0) Fail("frame buffer", code);
    if (!converts_) {
        if (image.type == SampleType::kFloat) {
            DeinterleaveFloat(image, *encoded);
        } else {
            for (int y = 0; y < image.height; ++y) {
                std::memcpy(encoded->data[0] + std::ptrdiff_t(y) * encoded->linesize[0],
                            image.PixelAddress(0, y), image.RowBytes());
            }
        }
        return;
    }
    if (!data.converter) {
        data.converter =
            MakeConverter(image.width, image.height, rgba_format_, layout_.pixel_format, target_);
        SetColorDetails(data.converter.get(), layout_.matrix, AVCOL_RANGE_UNSPECIFIED,
                        layout_.output_full_range);
    }
    if (image.type == SampleType::kFloat) {
        if (!data.planar_source) {
            data.planar_source =
                NewFrameWithBuffer(rgba_format_, image.width, image.height, target_);
        }
        DeinterleaveFloat(image, *data.planar_source);
        sws_scale(data.converter.get(), data.planar_source->data, data.planar_source->linesize, 0,
                  image.height, encoded->data, encoded->linesize);
        return;
    }
    std::array<const std::uint8_t*, 4> planes{
        reinterpret_cast<const std::uint8_t*>(image.pixels.data()), nullptr, nullptr, nullptr};
    std::array<int, 4> strides{int(image.RowBytes()), 0, 0, 0};
    sws_scale(data.converter.get(), planes.data(), strides.data(), 0, image.height, encoded->data,
              encoded->linesize);
}

void MovieEncoder::Prepare(const MovieFrame& frame, EncoderFrame& into) const {
    const Image& image = frame.image;
    if (image.width != source_.width || image.height != source_.height ||
        image.type != source_.type ||
        image.pixels.size() < image.RowBytes() * std::size_t(image.height)) {
        throw MovieError(fmt::format("{}: frame {} is {}x{} {}, not the source's {}x{} {}", target_,
                                     frame.number, image.width, image.height,
                                     SampleTypeName(image.type), source_.width, source_.height,
                                     SampleTypeName(source_.type)));
    }
    EncoderFrame::Data& data = *into.data_;
    Convert(image, data);
    AVFrame* encoded = data.frame.get();
    const AVRational from = source_time_base_, to = layout_.time_base;
    encoded->pts = av_rescale_q(frame.pts, from, to);
    encoded->pkt_duration = av_rescale_q(frame.duration, from, to);
    encoded->sample_aspect_ratio = layout_.sample_aspect_ratio;
    encoded->interlaced_frame = frame.interlaced;
    encoded->top_field_first = frame.top_field_first;
    AttachSideData(frame, *encoded);
    data.ready = true;
}

void MovieEncoder::Encode(EncoderFrame& frame, const PacketSink& sink) {
    EncoderFrame::Data& data = *frame.data_;
    if (!data.ready) throw std::logic_error("MovieEncoder::Encode of a frame not prepared");
    durations_[data.frame->pts] = data.frame->pkt_duration;
    Send(data.frame.get(), sink);
    data.ready = false;
    ++frames_sent_;
}

std::string MovieEncoder::Description() const {
    return fmt::format("{} ({})", codec_->name, av_get_pix_fmt_name(encoder_->pix_fmt));
}

void MovieEncoder::Flush(const PacketSink& sink) {
    Send(nullptr, sink);
}

void MovieEncoder::Send(const AVFrame* frame, const PacketSink& sink) {
    AVCodecContext* enc = encoder_.get();
    if (int code = avcodec_send_frame(enc, frame); code < 0) {
        Fail(fmt::format("cannot encode frame {}", frames_sent_ + 1), code);
    }
    for (;;) {
        const int code = avcodec_receive_packet(enc, packet_.get());
        if (code == kErrorAgain || code == kErrorEof) return;
        if (code < 0) Fail(fmt::format("cannot encode frame {}", frames_sent_ + 1), code);
        if (auto found = durations_.find(packet_->pts); found != durations_.end()) {
            if (packet_->duration == 0) packet_->duration = found->second;
            durations_.erase(found);
        }
        sink(*packet_);
        av_packet_unref(packet_.get());
    }
}

}  // namespace render
