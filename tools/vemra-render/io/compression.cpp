#include "tools/vemra-render/io/compression.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <vector>

namespace render {

namespace {

/// What one format offers and what the tool writes when nobody says.
struct FormatCompression {
    std::string_view format;                ///< OpenImageIO's format name
    std::vector<std::string_view> methods;  ///< names --compression takes (before ":LEVEL")
    std::string_view levels;                ///< which methods take a level, for help
    std::string_view fallback;              ///< the tool's default
};

// PNG: zlib at level 3 with the "sub" row filter, and no filter search, sits
// at ffmpeg's size and speed (ffmpeg: level 6 without row filters, which is
// larger); libpng's own default (level 6, trying every filter per row) is
// several times slower for a few per cent less. OpenEXR: ZIP in blocks of 16
// rows, as ffmpeg's zip16. TIFF: zip, as OpenImageIO writes it.
const std::vector<FormatCompression>& Formats() {
    static const std::vector<FormatCompression> formats{
        {"png", {"zip", "none"}, "zip:0..9", "zip:3"},
        {"openexr",
         {"none", "rle", "zips", "zip", "piz", "pxr24", "b44", "b44a", "dwaa", "dwab"},
         "zip:1..9, zips:1..9, dwaa:LEVEL, dwab:LEVEL",
         "zip"},
        {"tiff", {"none", "lzw", "zip", "packbits"}, "zip:1..9", "zip"},
    };
    return formats;
}

const FormatCompression* Find(std::string_view format_name) {
    for (const FormatCompression& format : Formats()) {
        if (format.format == format_name) return &format;
    }
    return nullptr;
}

/// "zip:3" -> ("zip", 3); "zip" -> ("zip", -1); a bad level -> ("zip", -2).
std::pair<std::string_view, int> Split(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return {text, -1};
    const std::string_view digits = text.substr(colon + 1);
    int level = -2;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), level);
    if (error != std::errc() || end != digits.data() + digits.size() || level < 0) level = -2;
    return {text.substr(0, colon), level};
}

}  // namespace

void CheckCompression(std::string_view format_name, const std::string& compression) {
    const FormatCompression* format = Find(format_name);
    if (format == nullptr || compression.empty()) return;
    const auto [method, level] = Split(compression);
    const bool known =
        std::find(format->methods.begin(), format->methods.end(), method) != format->methods.end();
    if (!known || level == -2 || (format_name == "png" && level > 9)) {
        throw std::invalid_argument(fmt::format("--compression {}: {} files take {} (levels: {})",
                                                compression, format_name,
                                                fmt::join(format->methods, ", "), format->levels));
    }
}

std::string ChooseCompression(std::string_view format_name, const std::string& option,
                              const std::string& source_own) {
    if (!option.empty()) return option;
    if (!source_own.empty()) return source_own;
    const FormatCompression* format = Find(format_name);
    return format != nullptr ? std::string(format->fallback) : std::string();
}

PngCompression PngCompressionOf(std::string_view value) {
    const auto [method, level] = Split(value);
    // PNG_FILTER_SUB alone: one cheap filter, no search over five per row.
    return {method == "none" ? 0 : level >= 0 ? level : 6, 0x10};
}

std::string CompressionHelp() {
    std::string text;
    for (const FormatCompression& format : Formats()) {
        text += fmt::format("  {:<8} {} (levels: {}; default {})\n", format.format,
                            fmt::join(format.methods, ", "), format.levels, format.fallback);
    }
    return text;
}

}  // namespace render
