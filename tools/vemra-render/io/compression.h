// How each written file is compressed. The user's --compression comes first;
// then the input file's own setting, when it is of the same format (it is
// carried with the rest of its metadata); then the tool's default for the
// format, chosen to sit where ffmpeg's encoders sit: a comparable size at a
// comparable speed.
#pragma once

#include <string>
#include <string_view>

namespace render {

/// Throws std::invalid_argument with a one-line message when
/// `compression` is not a method the format named by `format_name` (an
/// OpenImageIO format name: "png", "openexr", "tiff", ...) writes. Formats
/// without a list of their own take any text, as OpenImageIO does.
void CheckCompression(std::string_view format_name, const std::string& compression);

/// The compression a file of `format_name` is written with: `option` when
/// given; else `source_own` (the input's own setting, when the input is of
/// the same format) when it says one; else the tool's default for the
/// format. Empty: the image library's own default.
std::string ChooseCompression(std::string_view format_name, const std::string& option,
                              const std::string& source_own);

/// PNG's writer takes a zlib level and a row filter rather than a method name.
struct PngCompression {
    int level;   ///< zlib level, 0 for "none"
    int filter;  ///< libpng's row filter mask
};
/// The PNG settings for a compression value such as "zip:3" or "none".
PngCompression PngCompressionOf(std::string_view value);

/// The methods --help lists, one line per format.
std::string CompressionHelp();

}  // namespace render
