#include "tools/vemra-render/io/encoder_choice.h"

#include <fmt/format.h>

#include <cstring>
#include <string_view>

#include "tools/vemra-render/io/ffmpeg_common.h"
#include "tools/vemra-render/io/movie_conversion.h"
#include "tools/vemra-render/io/movie_error.h"

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

/// The software encoder the tool takes for `id`: the policy's preferred
/// one, else the first this FFmpeg has in its own order of preference; null
/// when there is none.
const AVCodec* SoftwareEncoderFor(AVCodecID id) {
    if (const std::string_view preferred = PreferredEncoder(avcodec_get_name(id));
        !preferred.empty()) {
        if (const AVCodec* codec = avcodec_find_encoder_by_name(std::string(preferred).c_str())) {
            return codec;
        }
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

/// True when `codec` lists `format` among the pixel formats it takes.
bool Takes(const AVCodec& codec, AVPixelFormat format) {
    for (const AVPixelFormat* p = codec.pix_fmts; p != nullptr && *p != AV_PIX_FMT_NONE; ++p) {
        if (*p == format) return true;
    }
    return false;
}

/// The encoder: the one asked for, else the source's codec's, else the
/// container's fallback.
ChosenEncoder ChooseCodec(AVCodecID source_id, const ContainerPolicy& container,
                          const EncoderSettings& settings, const std::string& target) {
    if (!settings.codec.empty()) {
        const AVCodec* codec = avcodec_find_encoder_by_name(settings.codec.c_str());
        if (codec == nullptr || codec->type != AVMEDIA_TYPE_VIDEO) {
            throw MovieRefused(fmt::format("{}: no video encoder named '{}' in this FFmpeg", target,
                                           settings.codec));
        }
        if (!Holds(container, StreamKind::kVideo, avcodec_get_name(codec->id))) {
            throw MovieRefused(fmt::format("{}: the {} format cannot hold {} video", target,
                                           container.muxer, avcodec_get_name(codec->id)));
        }
        return {codec, {}, -1};
    }
    if (const AVCodec* own = SoftwareEncoderFor(source_id);
        own && Holds(container, StreamKind::kVideo, avcodec_get_name(source_id))) {
        return {own, {}, -1};
    }
    for (const EncoderChoice& fallback : container.fallback) {
        if (const AVCodec* candidate =
                avcodec_find_encoder_by_name(std::string(fallback.encoder).c_str())) {
            return {candidate, std::string(fallback.profile), -1};
        }
    }
    throw MovieRefused(fmt::format("{}: no default video encoder for the {} format; name one",
                                   target, container.muxer));
}

/// The pixel format for `codec` (see ChooseEncoder).
AVPixelFormat ChoosePixelFormat(const AVCodec& codec, const SourceDescription& source,
                                const EncoderSettings& settings, const std::string& target) {
    if (!settings.pix_fmt.empty()) {
        const AVPixelFormat asked = av_get_pix_fmt(settings.pix_fmt.c_str());
        if (asked == AV_PIX_FMT_NONE || (codec.pix_fmts != nullptr && !Takes(codec, asked))) {
            throw MovieRefused(fmt::format("{}: the {} encoder does not take the pixel format '{}'",
                                           target, codec.name, settings.pix_fmt));
        }
        return asked;
    }
    const SourceVideo& video = source.video;
    const AVPixelFormat rgba = RgbaFormatOf(video.type);
    if (codec.pix_fmts == nullptr) return rgba;
    // The source's own pixel format when the encoder takes it: a 4:2:0 H.264
    // stays 4:2:0, as players and editors expect, and a ProRes 4444 keeps
    // its alpha and depth.
    const auto source_pixels =
        static_cast<AVPixelFormat>(source.video_stream().parameters.get().format);
    if (Takes(codec, source_pixels)) return source_pixels;
    // Otherwise ranked from the frames' layout, without alpha when the source
    // has none: the choice ffmpeg makes for such frames fed as RGB.
    const AVPixelFormat ranked_from = video.has_alpha                     ? rgba
                                      : video.type == SampleType::kUint8  ? AV_PIX_FMT_RGB24
                                      : video.type == SampleType::kUint16 ? AV_PIX_FMT_RGB48LE
                                                                          : AV_PIX_FMT_GBRPF32LE;
    return avcodec_find_best_pix_fmt_of_list(codec.pix_fmts, ranked_from, video.has_alpha, nullptr);
}

/// Throws MovieRefused when frames of `width` x `height` do not fit the
/// chroma sampling of `pixel_format`.
void CheckFrameSize(AVPixelFormat pixel_format, int width, int height, const std::string& target) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(pixel_format);
    if (desc == nullptr) return;
    const int across = 1 << desc->log2_chroma_w, down = 1 << desc->log2_chroma_h;
    const char* what = width % across != 0 ? "width" : height % down != 0 ? "height" : nullptr;
    if (what == nullptr) return;
    throw MovieRefused(fmt::format(
        "{}: {}x{} frames cannot be encoded as {}: its colour is sampled once in every {}x{} "
        "pixels, so the {} must be a multiple of {}; choose a pixel format with --pix-fmt "
        "(e.g. yuv444p) or crop the source",
        target, width, height, desc->name, across, down, what, what[0] == 'w' ? across : down));
}

}  // namespace

ChosenEncoder ChooseEncoder(const SourceDescription& source, const ContainerPolicy& container,
                            const EncoderSettings& settings, const std::string& target) {
    ChosenEncoder chosen =
        ChooseCodec(source.video_stream().parameters.get().codec_id, container, settings, target);
    const AVPixelFormat pixel_format = ChoosePixelFormat(*chosen.codec, source, settings, target);
    CheckFrameSize(pixel_format, source.video.width, source.video.height, target);
    chosen.pixel_format = pixel_format;
    return chosen;
}

}  // namespace render
