// The parts of the image-file reader and writer that speak OpenImageIO's
// types: for io/'s own sources, and for the tests and fuzzers that hand the
// reader decoders of their own or write files of an exact sample type.
#pragma once

#include <OpenImageIO/imageio.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tools/vemra-render/io/image_channels.h"
#include "tools/vemra-render/io/image_files.h"
#include "tools/vemra-render/pixels/data_type.h"

namespace render {

/// A file's header as the image library read it: size, channels, sample
/// type and attributes.
struct ImageFileHeader {
    OIIO::ImageSpec fields;
};

/// One part of a file as the reader keeps it for the writer.
struct KeptPart {
    OIIO::ImageSpec header;
    /// Its colour goes through the effect: the first rendered part is
    /// LoadedImage's own samples, the others LoadedImage::further in order.
    /// Otherwise the part is written as it was read.
    bool rendered = false;
    ChannelMap colour;  ///< of a rendered part
    /// Every channel of the part in its own type, pixel after pixel as the
    /// library packs them (ImageSpec::pixel_bytes(true)). Empty when they
    /// are the rendered part's colour buffer itself, as they are when every
    /// channel has one type the tool holds unconverted (uint8, uint16, float).
    std::vector<std::byte> native;
};

/// What a file holds besides the samples the effect renders.
struct KeptData {
    std::string file;  ///< named in notes
    /// The parts read, in the file's order: every part, or the rendered
    /// one alone when the output holds one part (ColourChoice::all_parts).
    std::vector<KeptPart> parts;
    /// The names of the file's parts that were not read, for the note.
    std::vector<std::string> unread_parts;
};

/// The first line of an OpenImageIO error message (the lines after it
/// repeat it in the words of the format's library).
std::string OneLine(const std::string& message);

/// Byte offset of channel `c` within a pixel packed as the file packs it
/// (each channel in its own type).
std::size_t NativeOffset(const OIIO::ImageSpec& header, int c);

/// The file sample type of an Image sample type.
OIIO::TypeDesc FileTypeOf(SampleType type);

/// Which Image sample type holds a file sample type: 8-bit types as uint8,
/// other integer types as uint16, half, float and double as float.
SampleType SampleTypeOfFile(OIIO::TypeDesc file_type);

/// The data type of samples stored as `file_type` in `bits` bits a sample
/// (oiio:BitsPerSample; 0: the type's own): 10 and 12 bits are uint10 and
/// uint12, other types as SampleTypeOfFile holds them.
DataType DataTypeOfFile(OIIO::TypeDesc file_type, int bits = 0);

/// What ReadImage does once the file is open: checks `header`, the one the
/// reader's open gave, then reads and maps the channels from `in`. `name`
/// names the image in messages.
void ReadOpenedImage(OIIO::ImageInput& in, const OIIO::ImageSpec& header, const std::string& name,
                     std::uint64_t max_pixels, LoadedImage& into, const ColourChoice& choice = {});
LoadedImage ReadOpenedImage(OIIO::ImageInput& in, const OIIO::ImageSpec& header,
                            const std::string& name, std::uint64_t max_pixels = kDefaultMaxPixels);

/// EncodeImage and WriteImage with the file's sample type given.
std::unique_ptr<AtomicFile> EncodeImageAs(const std::filesystem::path& target, const Image& image,
                                          const WriteSettings& settings, OIIO::TypeDesc file_type,
                                          std::vector<PendingNote>& notes);
std::vector<std::string> WriteImageAs(const std::filesystem::path& target, const Image& image,
                                      const WriteSettings& settings, OIIO::TypeDesc file_type);

}  // namespace render
