// Reading and writing image files through OpenImageIO. Pixel values pass as
// the file holds them: no colour management, no alpha (un)premultiplication.
#pragma once

#include <OpenImageIO/imageio.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/render/image.h"

namespace render {

/// Thrown when an input cannot be used; the message is one line naming the
/// file and the cause.
class InputError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// The default for --max-pixels: 8192 x 8192.
inline constexpr std::uint64_t kDefaultMaxPixels = 8192ull * 8192ull;

/// A file's pixels and what is needed to write the result in its likeness.
struct LoadedImage {
    Image image;
    OIIO::ImageSpec header;   ///< the file's own description (format, metadata, windows)
    std::string format_name;  ///< OpenImageIO's name of the file format, e.g. "png"
    /// Things the reader gave up, for a note on standard error (channels
    /// beyond red, green, blue and alpha).
    std::vector<std::string> notes;
};

/// The file sample type of an Image sample type.
OIIO::TypeDesc FileTypeOf(SampleType type);

/// Which Image sample type holds a file sample type: 8-bit types as uint8,
/// other integer types as uint16, half, float and double as float.
SampleType HoldingType(OIIO::TypeDesc file_type);

/// Reads the first image of `path`. Grey becomes red = green = blue; a file
/// without alpha gets an opaque one (has_alpha false). The size is checked
/// against `max_pixels` before any pixel memory is allocated. Throws
/// InputError for a missing, unreadable, truncated or corrupt file, a size
/// above the limit, or a layout the tool cannot hold.
LoadedImage ReadImage(const std::string& path, std::uint64_t max_pixels = kDefaultMaxPixels);

/// What ReadImage does once the file is open: checks `header`, the one the
/// reader's open gave, then reads and maps the channels from `in`. `name`
/// names the image in messages. Tests and the fuzzer hand it readers of their own.
LoadedImage ReadOpenedImage(OIIO::ImageInput& in, const OIIO::ImageSpec& header,
                            const std::string& name, std::uint64_t max_pixels = kDefaultMaxPixels);

/// How to write an image.
struct WriteSettings {
    /// Sample type in the file; the file format may store a nearer one it
    /// supports (PNG stores float as 16 bits, JPEG everything as 8 bits).
    OIIO::TypeDesc file_type = OIIO::TypeDesc::UINT8;
    /// The file the image came from: its windows are kept, and its metadata
    /// too when the output is of the same format.
    const LoadedImage* source = nullptr;
};

/// Throws OutputError unless OpenImageIO has a writer for the extension of
/// `target`, so a job can be refused before any work is done.
void CheckOutputFormat(const std::filesystem::path& target);

/// Encodes `image` in the format the extension of `target` names and writes
/// it atomically (see atomic_output.h): red, green, blue, and alpha when the
/// image has one and the format can hold it. Returns notes about what the
/// format could not hold. Throws OutputError naming the file and the cause.
std::vector<std::string> WriteImage(const std::filesystem::path& target, const Image& image,
                                    const WriteSettings& settings);

}  // namespace render
