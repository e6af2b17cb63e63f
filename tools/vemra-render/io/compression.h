// How each written file is compressed. The user's --compression comes first;
// then the input file's own setting, when it is of the same format (it is
// carried with the rest of its metadata); then the tool's default for the
// format, chosen to sit where ffmpeg's encoders sit: a comparable size at a
// comparable speed.
#pragma once

#include <OpenImageIO/imageio.h>

#include <string>
#include <string_view>

namespace render {

/// Throws std::invalid_argument with a one-line message when
/// `compression` is not a method the format named by `format_name` (an
/// OpenImageIO format name: "png", "openexr", "tiff", ...) writes. Formats
/// without a list of their own take any text, as OpenImageIO does.
void CheckCompression(std::string_view format_name, const std::string& compression);

/// Sets the compression of `header` for a file of `format_name`: `option`
/// when given; else the header's own "compression" when `from_same_format`
/// (the input's, carried with its metadata); else the tool's default.
void SetCompression(OIIO::ImageSpec& header, std::string_view format_name,
                    const std::string& option, bool from_same_format);

/// The methods --help lists, one line per format.
std::string CompressionHelp();

}  // namespace render
