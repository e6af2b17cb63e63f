#include "tools/vemra-render/io/encoder_setup.h"

#include <fmt/format.h>

#include <cmath>
#include <cstring>

#include "tools/vemra-render/io/movie_conversion.h"
#include "tools/vemra-render/run/library_log.h"

namespace render::movie {

namespace {

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

}  // namespace

ColourTags ChooseColourTags(const AVCodecParameters& source, AVPixelFormat output,
                            AVColorSpace matrix_asked, AVColorRange range_asked) {
    ColourTags tags;
    tags.primaries = ValidTag(source.color_primaries, AVCOL_PRI_NB, AVCOL_PRI_UNSPECIFIED);
    tags.transfer = ValidTag(source.color_trc, AVCOL_TRC_NB, AVCOL_TRC_UNSPECIFIED);
    tags.chroma_location =
        ValidTag(source.chroma_location, AVCHROMA_LOC_NB, AVCHROMA_LOC_UNSPECIFIED);
    if (!IsYuv(output)) {
        tags.matrix = AVCOL_SPC_RGB;
        tags.range = AVCOL_RANGE_JPEG;
        return tags;
    }
    const bool source_yuv = IsYuv(AVPixelFormat(source.format));
    const AVColorSpace matrix = ValidTag(source.color_space, AVCOL_SPC_NB, AVCOL_SPC_UNSPECIFIED);
    tags.matrix = IsUsableMatrix(matrix_asked)           ? matrix_asked
                  : source_yuv && IsUsableMatrix(matrix) ? matrix
                  : matrix == AVCOL_SPC_UNSPECIFIED      ? AVCOL_SPC_UNSPECIFIED
                                                         : AVCOL_SPC_SMPTE170M;
    const AVColorRange range =
        ValidTag(source.color_range, AVCOL_RANGE_NB, AVCOL_RANGE_UNSPECIFIED);
    if (range_asked == AVCOL_RANGE_MPEG || range_asked == AVCOL_RANGE_JPEG) {
        tags.range = range_asked;
        tags.output_full_range = range_asked == AVCOL_RANGE_JPEG;
        return tags;
    }
    if (source_yuv && range != AVCOL_RANGE_UNSPECIFIED) {
        tags.range = range;
        tags.output_full_range = range == AVCOL_RANGE_JPEG;
        return tags;
    }
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(output);
    const bool full_by_format = std::strncmp(desc->name, "yuvj", 4) == 0;
    tags.range = full_by_format                     ? AVCOL_RANGE_JPEG
                 : range == AVCOL_RANGE_UNSPECIFIED ? AVCOL_RANGE_UNSPECIFIED
                                                    : AVCOL_RANGE_MPEG;
    return tags;
}

AVColorSpace MatrixNamed(const std::string& name) {
    const int value = av_color_space_from_name(name.c_str());
    return value >= 0 && IsUsableMatrix(AVColorSpace(value)) ? AVColorSpace(value)
                                                             : AVCOL_SPC_UNSPECIFIED;
}

AVColorRange RangeNamed(const std::string& name) {
    if (name == "tv" || name == "limited") return AVCOL_RANGE_MPEG;
    if (name == "pc" || name == "full") return AVCOL_RANGE_JPEG;
    return AVCOL_RANGE_UNSPECIFIED;
}

std::string SizeHint(AVPixelFormat pixel_format, int width, int height) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(pixel_format);
    if (desc == nullptr) return {};
    const int across = 1 << desc->log2_chroma_w, down = 1 << desc->log2_chroma_h;
    const char* what = width % across != 0 ? "width" : height % down != 0 ? "height" : nullptr;
    if (what == nullptr) return {};
    return fmt::format(
        "; in {} the {} must be a multiple of {} for this encoder: choose a pixel format with "
        "--pix-fmt (e.g. yuv444p) or crop the source",
        desc->name, what, what[0] == 'w' ? across : down);
}

std::int64_t NominalRate(const AVCodec& codec, const std::string& profile, int width, int height,
                         AVPixelFormat pixels, AVRational frame_rate, std::int64_t measured) {
    const std::int64_t top = measured / 1000000;
    for (std::int64_t mbs = top; mbs > 0 && mbs * 10 >= top * 9; --mbs) {
        CodecContextPtr trial(avcodec_alloc_context3(&codec));
        if (!trial) break;
        trial->width = width;
        trial->height = height;
        trial->pix_fmt = pixels;
        trial->time_base = frame_rate.num > 0 ? av_inv_q(frame_rate) : AVRational{1, 25};
        trial->bit_rate = mbs * 1000000;
        av_opt_set(trial->priv_data, "profile", profile.c_str(), 0);
        // The refusals of the rates tried are no news.
        const LogWatch quiet(trial.get());
        if (avcodec_open2(trial.get(), &codec, nullptr) >= 0) return trial->bit_rate;
    }
    return measured;
}

std::string X265Hdr10Parameters(const std::vector<std::uint8_t>& mastering,
                                const std::vector<std::uint8_t>& light_level) {
    std::string parameters;
    if (!mastering.empty()) {
        AVMasteringDisplayMetadata m;
        std::memcpy(&m, mastering.data(), sizeof m);
        // Chromaticities in units of 0.00002, luminance of 0.0001 cd/m2.
        const auto xy = [](const AVRational(&point)[2]) {
            return fmt::format("({},{})", std::lround(av_q2d(point[0]) * 50000),
                               std::lround(av_q2d(point[1]) * 50000));
        };
        if (m.has_primaries && m.has_luminance) {
            parameters +=
                fmt::format(":master-display=G{}B{}R{}WP{}L({},{})", xy(m.display_primaries[1]),
                            xy(m.display_primaries[2]), xy(m.display_primaries[0]),
                            xy(m.white_point), std::lround(av_q2d(m.max_luminance) * 10000),
                            std::lround(av_q2d(m.min_luminance) * 10000));
        }
    }
    if (!light_level.empty()) {
        AVContentLightMetadata light;
        std::memcpy(&light, light_level.data(), sizeof light);
        parameters += fmt::format(":max-cll={},{}", light.MaxCLL, light.MaxFALL);
    }
    return parameters;
}

}  // namespace render::movie
