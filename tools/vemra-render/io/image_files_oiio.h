// The parts of the image-file reader and writer that speak OpenImageIO's
// types: for io/'s own sources, and for the tests and fuzzers that hand the
// reader decoders of their own or write files of an exact sample type.
#pragma once

#include <OpenImageIO/imageio.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tools/vemra-render/io/image_files.h"

namespace render {

/// A file's header as the image library read it: size, channels, sample
/// type and attributes.
struct ImageFileHeader {
    OIIO::ImageSpec fields;
};

/// The file sample type of an Image sample type.
OIIO::TypeDesc FileTypeOf(SampleType type);

/// Which Image sample type holds a file sample type: 8-bit types as uint8,
/// other integer types as uint16, half, float and double as float.
SampleType SampleTypeOfFile(OIIO::TypeDesc file_type);

/// What ReadImage does once the file is open: checks `header`, the one the
/// reader's open gave, then reads and maps the channels from `in`. `name`
/// names the image in messages.
void ReadOpenedImage(OIIO::ImageInput& in, const OIIO::ImageSpec& header, const std::string& name,
                     std::uint64_t max_pixels, LoadedImage& into);
LoadedImage ReadOpenedImage(OIIO::ImageInput& in, const OIIO::ImageSpec& header,
                            const std::string& name, std::uint64_t max_pixels = kDefaultMaxPixels);

/// EncodeImage and WriteImage with the file's sample type given.
std::unique_ptr<AtomicFile> EncodeImageAs(const std::filesystem::path& target, const Image& image,
                                          const WriteSettings& settings, OIIO::TypeDesc file_type,
                                          std::vector<std::string>& notes);
std::vector<std::string> WriteImageAs(const std::filesystem::path& target, const Image& image,
                                      const WriteSettings& settings, OIIO::TypeDesc file_type);

}  // namespace render
