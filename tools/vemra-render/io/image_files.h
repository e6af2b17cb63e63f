// Reading and writing image files through OpenImageIO. Pixel values pass as
// the file holds them: no colour management, no alpha (un)premultiplication.
// This header shows none of the image library's types; image_files_oiio.h
// has the parts that take them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/vemra-render/pixels/data_type.h"
#include "tools/vemra-render/pixels/image.h"
#include "tools/vemra-render/pixels/samples.h"
#include "tools/vemra-render/run/atomic_output.h"
#include "tools/vemra-render/run/notes.h"
#include "tools/vemra-render/run/refusal.h"

namespace render {

/// Thrown when an input cannot be used; the message is one line naming the
/// file and the cause.
class InputError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// An input the tool will not take, told before its pixels are read: above
/// --max-pixels, wider than a host world can be, a volume. A refusal.
class InputRefused : public InputError, public Refusal {
  public:
    using InputError::InputError;
};

/// The image library's own description of a file (its sample format,
/// windows and metadata), defined in image_files_oiio.h.
struct ImageFileHeader;
/// What a file holds besides the samples the effect renders (its other
/// channels and parts), defined in image_files_oiio.h.
struct KeptData;

/// Which channels and parts of a file the effect renders.
struct ColourChoice {
    /// --channels: the names of red, green, blue (and alpha); empty: chosen
    /// as image_channels.h says.
    std::vector<std::string> channels;
    /// --parts: the names of a multi-part file's parts to render; empty:
    /// every part that holds colour. The others are copied.
    std::vector<std::string> parts;
    /// The output holds several parts: every part is read. Otherwise only
    /// the first part rendered is, and the others are named in a note.
    bool all_parts = true;
};

/// The colour samples of a part of a file, as `layout` places them.
struct PartSamples {
    std::vector<std::byte> buffer;
    int width = 0;
    int height = 0;
    SampleLayout layout;

    ConstSamples samples() const { return {buffer.data(), width, height, layout}; }
    bool has_alpha() const { return layout.has(kAlpha); }
};

/// A decoded frame as the file holds it, and what is needed to write the
/// result in its likeness. One LoadedImage can be read into frame after frame:
/// its buffers are kept and only grow.
struct LoadedImage {
    LoadedImage();
    ~LoadedImage();
    LoadedImage(LoadedImage&&) noexcept;
    LoadedImage& operator=(LoadedImage&&) noexcept;

    std::unique_ptr<ImageFileHeader> header;  ///< the file's own description
    std::string format_name;                  ///< the library's name of the format, e.g. "png"
    /// Things the reader gave up or found, for notes on standard error.
    std::vector<PendingNote> notes;
    /// The decoder's samples of the channels the tool renders, in the type
    /// that holds the file's (half as float), as `layout` places them. Grey
    /// has red, green and blue at one offset; a file without alpha has none.
    /// The buffer may hold the file's other channels too, between them.
    std::vector<std::byte> buffer;
    int width = 0;
    int height = 0;
    SampleLayout layout;
    /// The file holds frames after the one read (pages of a TIFF, frames of
    /// a movie); an OpenEXR file's further parts are layers of its one frame
    /// and do not count.
    bool more_frames = false;
    /// The colour of the file's further parts that are rendered too (an
    /// OpenEXR file's passes held as parts of their own), in file order.
    std::vector<PartSamples> further;
    /// The file's other channels and parts, for the writer.
    std::unique_ptr<KeptData> kept;

    ConstSamples samples() const { return {buffer.data(), width, height, layout}; }
    bool has_alpha() const { return layout.has(kAlpha); }
};

/// What a file's header says of its first frame, read without decoding it.
struct ImageFileSummary {
    int width = 0;
    int height = 0;
    int channels = 0;
    SampleType type = SampleType::kUint8;  ///< the type that holds the file's samples
};

/// The frames of a file as the image library sees them: pages of a TIFF,
/// frames of an animation; one for most files, and for an OpenEXR file,
/// whose parts are layers or views of one frame.
struct FileFrames {
    int count = 1;
    /// Where each page of a TIFF file starts (its directory), so that a
    /// page is opened there rather than found by a walk through every page
    /// before it (image_pages.h); empty for other files.
    std::vector<std::uint64_t> tiff_pages;
};

/// Finds the frames of `path`, walking through them once. Throws
/// InputError for a file that cannot be opened, InputRefused for one whose
/// header is refused before it is opened (image_readers.h).
FileFrames FindFrames(const std::string& path, std::uint64_t max_pixels);

/// The summary of frame `frame` of `path` (of `frames`, when found) when it
/// is a regular file the image library opens and takes within
/// `max_pixels`; nullopt otherwise (a pipe is never opened, since that would
/// take what its frame reads).
std::optional<ImageFileSummary> ReadImageFileSummary(const std::string& path,
                                                     std::uint64_t max_pixels, int frame = 0,
                                                     const FileFrames* frames = nullptr);

/// Reads image `frame` (from 0: the first page or frame) of `path` into `into` (opened at its own
/// page when `frames` gives where it starts), every channel in
/// one decode when they share a type: the colour `choice` picks (image_channels.h) as the tool
/// holds it (only half and other types are converted, half to float), the other channels kept
/// in their own types for the writer. Grey becomes red = green = blue. An OpenEXR file's parts
/// are read each (all of them, or the first rendered one: ColourChoice::all_parts). Sets
/// `into.more_frames`. The size is checked against `max_pixels`, and the samples of a part
/// against `max_pixels` x kMostSamplesPerPixel, before any pixel memory is allocated. Throws
/// InputError for a missing, unreadable, truncated or corrupt file, a size above the limit, a
/// layout the tool cannot hold, and InputRefused for a colour `choice` cannot pick and a deep part.
void ReadImage(const std::string& path, std::uint64_t max_pixels, LoadedImage& into, int frame = 0,
               const ColourChoice& choice = {}, const FileFrames* frames = nullptr);
LoadedImage ReadImage(const std::string& path, std::uint64_t max_pixels = kDefaultMaxPixels);

/// Samples a pixel may carry, all channels together, in a file at
/// --max-pixels: a file with more channels is held to fewer pixels. The
/// parts of a multi-part file read together are held to the same samples.
inline constexpr std::uint64_t kMostSamplesPerPixel = 64;

/// Pixels a file's tile may hold even where the image is smaller; beyond
/// that a tile holds at most four times the image's pixels.
inline constexpr std::uint64_t kTilePixelsAlways = 1024 * 1024;

/// Parts (layers, passes, views) of one OpenEXR file the tool reads at most.
inline constexpr int kMostParts = 1024;

/// Throws InputRefused when the headers of `path` rule out `choice` (a
/// colour it cannot pick, a part it names that the file lacks) or hold a
/// deep part, so that a run is refused before any work. Does nothing for a
/// file it cannot open or will not take (within `max_pixels`): its frame's
/// read says why.
void CheckColourChoice(const std::string& path, const ColourChoice& choice,
                       std::uint64_t max_pixels);

/// How to write an image.
struct WriteSettings {
    /// The file the image came from: its other channels and parts are
    /// written with it, and its windows, as far as the format holds them
    /// (image_formats.h); its metadata too when the output is of the same
    /// format. Its sample type is the written one unless `data_type` says
    /// otherwise. Null: the image alone.
    const LoadedImage* source = nullptr;
    /// --compression as given (empty: the source's own when the format is
    /// the same, else the tool's default for the format); see compression.h.
    std::string compression;
    /// Where the encoded file is built before it is written; kept from frame
    /// to frame by the caller. Null: a buffer of the call's own.
    std::vector<unsigned char>* encoded = nullptr;
    /// --data-type: the type written; unset: the source's, as the format
    /// holds it (image_formats.h).
    std::optional<DataType> data_type;
    /// The type of the samples' source when there is no source file: a
    /// 10-bit movie's frames arrive as 16-bit samples. Unset: the image's own.
    std::optional<DataType> source_type;
    /// The rendered colour of the source's further parts
    /// (LoadedImage::further), in the same order.
    std::span<const Image> further;
    /// The image is no likeness of the source (a before/after sheet): only
    /// the source's type, compression and metadata are kept.
    bool image_only = false;
};

/// Throws OutputError unless OpenImageIO has a writer for the extension of
/// `target`, so a job can be refused before any work is done; returns the
/// writer's format name ("png", "openexr", ...).
std::string CheckOutputFormat(const std::filesystem::path& target);

/// Encodes `image` in the format the extension of `target` names into a
/// temporary file beside it, flushed to disk, and returns that file for the
/// caller to commit (rename into place) or drop. Adds notes about what the
/// format could not hold to `notes`. Throws OutputError naming the file.
std::unique_ptr<AtomicFile> EncodeImage(const std::filesystem::path& target, const Image& image,
                                        const WriteSettings& settings,
                                        std::vector<PendingNote>& notes);

/// Encodes `image` in the format the extension of `target` names and writes
/// it atomically (see atomic_output.h): red, green, blue, and alpha when the
/// image has one and the format can hold it. Returns notes about what the
/// format could not hold. Throws OutputError naming the file and the cause.
std::vector<std::string> WriteImage(const std::filesystem::path& target, const Image& image,
                                    const WriteSettings& settings);

/// Gives the image library's codecs the threads a frame has: `threads` each
/// of `in_flight` frames at once. OpenEXR's thread pool is one for the whole
/// process: with several frames in flight each frame compresses on its own
/// thread (no pool), since a pool of one would take every frame's work in turn.
void ShareImageLibraryThreads(int threads, int in_flight);

}  // namespace render
