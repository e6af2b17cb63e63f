// The parts of the image-file reader and writer that speak OpenImageIO's
// types: for io/'s own sources, and for the tests and fuzzers that hand the
// reader decoders of their own or write files of an exact sample type.
#pragma once

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
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
/// repeat it in the words of the format's library); `otherwise` when the
/// library said nothing.
std::string OneLine(const std::string& message, std::string_view otherwise);

/// What a failed decode says when the image library gives no reason (its
/// readers of PNM and DPX files, among others, fail on missing bytes alone).
inline constexpr std::string_view kSilentReadFailure =
    "its pixels cannot be read: the file is cut short or damaged";

/// The image library's reader for `path` under the one rule (image_readers.h):
/// the reader its extension names when that reader takes the file, else the
/// first that recognises its contents; never the library's FFmpeg reader nor
/// its null reader. Checks the header first (CheckBeforeOpening). Throws
/// InputError naming the file when it is missing or no reader takes it, and
/// InputRefused for a movie, a playlist and a header refused.
std::unique_ptr<OIIO::ImageInput> CreateImageReader(const std::string& path,
                                                    std::uint64_t max_pixels);

/// An image file opened for reading, alpha exactly as stored.
struct OpenedImage {
    /// What the reader reads through when it is not the file itself (a TIFF
    /// opened at a page); declared first, so that it outlives `in`.
    std::unique_ptr<OIIO::Filesystem::IOProxy> file;
    std::unique_ptr<OIIO::ImageInput> in;
    OIIO::ImageSpec header;  ///< of the frame opened
};

/// Opens frame `frame` of `path` with CreateImageReader: a TIFF page where
/// `frames` says it starts, another frame by the reader's own seek. Throws
/// InputError (InputRefused as CreateImageReader does).
OpenedImage OpenImage(const std::string& path, std::uint64_t max_pixels,
                      const FileFrames* frames = nullptr, int frame = 0);

/// An OpenEXR file's parts are layers or views of one frame, not frames.
bool PartsAreLayers(const OIIO::ImageInput& in);

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
