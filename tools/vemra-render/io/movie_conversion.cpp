#include "tools/vemra-render/io/movie_conversion.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <new>

#include "tools/vemra-render/io/movie_error.h"
#include "tools/vemra-render/run/library_log.h"

namespace render::movie {

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

SampleType SampleTypeOfPixels(const AVPixFmtDescriptor& desc) {
    if (desc.flags & AV_PIX_FMT_FLAG_FLOAT) return SampleType::kFloat;
    int depth = 0;
    for (int c = 0; c < desc.nb_components; ++c) depth = std::max(depth, desc.comp[c].depth);
    return depth <= 8 ? SampleType::kUint8 : depth <= 16 ? SampleType::kUint16 : SampleType::kFloat;
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
    // The converter warns of the JPEG formats' implied full range (yuvj420p,
    // ...), which SetColorDetails sets here explicitly; anything else it
    // says goes to the notes.
    LogWatch log(c);
    const int code = sws_init_context(c, nullptr, nullptr);
    for (const LoggedMessage& message : log.Take()) {
        if (message.text.find("deprecated pixel format used") == std::string::npos) {
            NoteLibraryMessage(message.text);
        }
    }
    if (code < 0) {
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

}  // namespace render::movie
