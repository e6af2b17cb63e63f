#include "tools/vemra-render/io/encoder_choice.h"

#include <fmt/format.h>

#include <cstring>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/vemra-render/io/encoder_setup.h"
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

ChosenEncoder Chosen(const AVCodec* codec, const ProfileRule* profile, std::string changed = {}) {
    ChosenEncoder chosen;
    chosen.codec = codec;
    chosen.profile = profile;
    chosen.changed = std::move(changed);
    return chosen;
}

/// What the choice starts from: the source's codec, profile and pixels.
struct SourceFormat {
    AVCodecID codec = AV_CODEC_ID_NONE;
    int profile = -99;  ///< FF_PROFILE_UNKNOWN
    AVPixelFormat pixels = AV_PIX_FMT_NONE;
    bool images = false;  ///< frames from images: no codec to keep
    bool alpha = false;
};

SourceFormat FormatOf(const SourceDescription& source) {
    const AVCodecParameters& parameters = source.video_stream().parameters.get();
    return {parameters.codec_id, parameters.profile, AVPixelFormat(parameters.format),
            source.video.from_images, source.video.has_alpha};
}

/// The first encoder of `choices` this FFmpeg has, with its profile; null
/// codec when it has none.
ChosenEncoder FirstOf(std::span<const EncoderChoice> choices, std::string changed = {}) {
    for (const EncoderChoice& choice : choices) {
        if (const AVCodec* codec =
                avcodec_find_encoder_by_name(std::string(choice.encoder).c_str())) {
            ChosenEncoder chosen =
                Chosen(codec, ProfileNamed(avcodec_get_name(codec->id), choice.profile),
                       std::move(changed));
            chosen.choice_pixels = choice.pixel_format;
            return chosen;
        }
    }
    return {};
}

/// The encoder: the one asked for, else the source's codec's, else the
/// nearest format the table names for it, else the container's fallback.
/// A default other than the source's codec comes with a note.
ChosenEncoder ChooseCodec(const SourceFormat& from, const ContainerPolicy& container,
                          const EncoderSettings& settings, const std::string& target) {
    const std::string_view codec_name = avcodec_get_name(from.codec);
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
        return Chosen(codec, codec->id == from.codec
                                 ? ProfileFor(codec_name, from.profile)
                                 : ProfileNamed(avcodec_get_name(codec->id),
                                                EncoderRules(codec->name).default_profile));
    }
    if (from.images) {
        // Without alpha, the container's default for images where it has one.
        const bool own_default = !from.alpha && !container.images.empty();
        if (ChosenEncoder chosen = FirstOf(own_default ? container.images : container.fallback);
            chosen.codec != nullptr) {
            return chosen;
        }
        throw MovieRefused(fmt::format("{}: no default video encoder for the {} format; name one",
                                       target, container.muxer));
    }
    const bool held = Holds(container, StreamKind::kVideo, codec_name);
    if (const AVCodec* own = SoftwareEncoderFor(from.codec); own && held) {
        return Chosen(own, ProfileFor(codec_name, from.profile));
    }
    const std::string cause =
        held ? fmt::format("this FFmpeg has no {} encoder", codec_name)
             : fmt::format("{} cannot hold {} video", container.name, codec_name);
    if (const ProfileRule* nearest = NearestFor(codec_name, from.profile);
        nearest != nullptr && Holds(container, StreamKind::kVideo, nearest->codec)) {
        const AVCodecDescriptor* desc =
            avcodec_descriptor_get_by_name(std::string(nearest->codec).c_str());
        if (const AVCodec* codec = desc ? SoftwareEncoderFor(desc->id) : nullptr) {
            return Chosen(codec, nearest, cause + "; encoded in the nearest format, ");
        }
    }
    if (ChosenEncoder chosen =
            FirstOf(container.fallback, cause + "; encoded with the container's fallback, ");
        chosen.codec != nullptr) {
        return chosen;
    }
    throw MovieRefused(fmt::format("{}: no default video encoder for the {} format; name one",
                                   target, container.muxer));
}

/// True when `format` carries alpha.
bool HasAlpha(AVPixelFormat format) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    return desc != nullptr && (desc->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
}

/// The pixel format for `chosen` (see ChooseEncoder): the one asked for,
/// else the profile's own, else the policy choice's, else the source's where the encoder takes it
/// (and the container keeps its alpha), else FFmpeg's nearest.
AVPixelFormat ChoosePixelFormat(const ChosenEncoder& chosen, const SourceDescription& source,
                                const ContainerPolicy& container, const EncoderSettings& settings,
                                const std::string& target) {
    const AVCodec& codec = *chosen.codec;
    if (!settings.pix_fmt.empty()) {
        const AVPixelFormat asked = av_get_pix_fmt(settings.pix_fmt.c_str());
        if (asked == AV_PIX_FMT_NONE || (codec.pix_fmts != nullptr && !Takes(codec, asked))) {
            throw MovieRefused(fmt::format("{}: the {} encoder does not take the pixel format '{}'",
                                           target, codec.name, settings.pix_fmt));
        }
        return asked;
    }
    if (chosen.profile != nullptr && !chosen.profile->pixel_format.empty()) {
        return av_get_pix_fmt(std::string(chosen.profile->pixel_format).c_str());
    }
    if (!chosen.choice_pixels.empty()) {
        return av_get_pix_fmt(std::string(chosen.choice_pixels).c_str());
    }
    const SourceVideo& video = source.video;
    const AVPixelFormat rgba = RgbaFormatOf(video.type);
    if (codec.pix_fmts == nullptr) return rgba;
    // VP8's and VP9's alpha travels beside the frames, where the container
    // has a place for it.
    const bool alpha = video.has_alpha &&
                       (!EncoderRules(codec.name).alpha_side_stream || container.alpha_side_stream);
    // The source's own pixel format when the encoder takes it: a 4:2:0 H.264
    // stays 4:2:0, as players and editors expect, and a ProRes 4444 keeps
    // its alpha and depth.
    const AVPixelFormat source_pixels = FormatOf(source).pixels;
    if (Takes(codec, source_pixels) && (alpha || !HasAlpha(source_pixels))) return source_pixels;
    // Alpha the output cannot keep: the source's format without it (VP9's
    // yuva420p as yuv420p) where the encoder takes that.
    std::vector<AVPixelFormat> opaque;
    for (const AVPixelFormat* p = codec.pix_fmts; *p != AV_PIX_FMT_NONE; ++p) {
        if (!HasAlpha(*p)) opaque.push_back(*p);
    }
    opaque.push_back(AV_PIX_FMT_NONE);
    if (!alpha && HasAlpha(source_pixels)) {
        int loss = 0;
        const AVPixelFormat without =
            avcodec_find_best_pix_fmt_of_list(opaque.data(), source_pixels, 0, &loss);
        if (without != AV_PIX_FMT_NONE && (loss & ~FF_LOSS_ALPHA) == 0) return without;
    }
    // Otherwise ranked from the frames' layout, without alpha when the source
    // has none: the choice ffmpeg makes for such frames fed as RGB.
    const AVPixelFormat ranked_from = alpha                               ? rgba
                                      : video.type == SampleType::kUint8  ? AV_PIX_FMT_RGB24
                                      : video.type == SampleType::kUint16 ? AV_PIX_FMT_RGB48LE
                                                                          : AV_PIX_FMT_GBRPF32LE;
    return avcodec_find_best_pix_fmt_of_list(alpha ? codec.pix_fmts : opaque.data(), ranked_from,
                                             alpha, nullptr);
}

/// Sets the rate: the source's where the format is defined by its rate
/// (MPEG-1/2 into the same codec, DNxHD), unless --quality is given.
void ChooseRate(ChosenEncoder& chosen, const SourceDescription& source, AVCodecID source_codec,
                const EncoderSettings& settings) {
    if (settings.quality >= 0) return;
    const SourceVideo& video = source.video;
    const bool same_codec = chosen.codec->id == source_codec;
    const bool by_rate =
        (EncoderRules(chosen.codec->name).rate == RateRule::kSourceRate && same_codec) ||
        (chosen.profile != nullptr && chosen.profile->source_rate && same_codec);
    if (!by_rate) return;
    chosen.bit_rate = video.bit_rate > 0 ? video.bit_rate : video.max_bit_rate;
    chosen.max_bit_rate = video.max_bit_rate;
    chosen.buffer_size = video.max_bit_rate > 0 ? video.buffer_size : 0;
    if (chosen.profile != nullptr && chosen.profile->source_rate && chosen.bit_rate > 0) {
        chosen.bit_rate =
            NominalRate(*chosen.codec, std::string(chosen.profile->option), video.width,
                        video.height, static_cast<AVPixelFormat>(chosen.pixel_format),
                        {video.frame_rate.num, video.frame_rate.den}, chosen.bit_rate);
    }
}

}  // namespace

ChosenEncoder ChooseEncoder(const SourceDescription& source, const ContainerPolicy& container,
                            const EncoderSettings& settings, const std::string& target) {
    const SourceFormat from = FormatOf(source);
    ChosenEncoder chosen = ChooseCodec(from, container, settings, target);
    const AVPixelFormat pixels = ChoosePixelFormat(chosen, source, container, settings, target);
    // The source's profile is kept with its pixel format only: another
    // depth or chroma asks for another profile, which the encoder picks.
    if (chosen.codec->id == from.codec && pixels != from.pixels &&
        (chosen.profile == nullptr || chosen.profile->pixel_format.empty())) {
        chosen.profile = nullptr;
    }
    // A pixel format asked for takes the profile that codes it, where the
    // profile has a format of its own (DNxHR's).
    if (chosen.profile != nullptr && !chosen.profile->pixel_format.empty() &&
        chosen.profile->pixel_format != av_get_pix_fmt_name(pixels)) {
        chosen.profile = ProfileCoding(chosen.profile->codec, av_get_pix_fmt_name(pixels));
    }
    chosen.pixel_format = pixels;
    ChooseRate(chosen, source, from.codec, settings);
    if (!chosen.changed.empty()) {
        chosen.notes.push_back(
            fmt::format("{}: {}{}", target, chosen.changed, DescribeChoice(chosen)));
    }
    if (source.video.has_alpha && !HasAlpha(pixels)) {
        chosen.notes.push_back(fmt::format("{}: the alpha of {} is dropped: {} in {} carries none",
                                           target, source.path, DescribeChoice(chosen),
                                           container.name));
    }
    return chosen;
}

std::string ColourNameProblem(const std::string& matrix, const std::string& range) {
    if (!matrix.empty() && MatrixNamed(matrix) == AVCOL_SPC_UNSPECIFIED) {
        return fmt::format(
            "--color-matrix {}: give a YCbCr matrix FFmpeg names, e.g. bt709, bt470bg, smpte170m, "
            "bt2020nc",
            matrix);
    }
    if (!range.empty() && RangeNamed(range) == AVCOL_RANGE_UNSPECIFIED) {
        return fmt::format("--color-range {}: give tv (limited) or pc (full)", range);
    }
    return {};
}

std::string DescribeChoice(const ChosenEncoder& chosen) {
    std::string text =
        fmt::format("{} ({}", chosen.codec->name,
                    av_get_pix_fmt_name(static_cast<AVPixelFormat>(chosen.pixel_format)));
    if (chosen.profile != nullptr) text += fmt::format(", {}", chosen.profile->name);
    if (chosen.bit_rate > 0) text += fmt::format(", {:g} Mb/s", double(chosen.bit_rate) / 1e6);
    return text + ")";
}

}  // namespace render
