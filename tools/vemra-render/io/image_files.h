// Reading and writing image files through OpenImageIO. Pixel values pass as
// the file holds them: no colour management, no alpha (un)premultiplication.
// This header shows none of the image library's types; image_files_oiio.h
// has the parts that take them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/vemra-render/pixels/image.h"
#include "tools/vemra-render/pixels/samples.h"
#include "tools/vemra-render/run/atomic_output.h"
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
    /// Things the reader gave up, for a note on standard error (channels
    /// beyond red, green, blue and alpha).
    std::vector<std::string> notes;
    /// The decoder's samples of the channels the tool needs, in the type that
    /// holds the file's (half as float), as `layout` places them. Grey has
    /// red, green and blue at one offset; a file without alpha has none.
    std::vector<std::byte> buffer;
    int width = 0;
    int height = 0;
    SampleLayout layout;
    /// The file holds frames after the one read (pages of a TIFF, frames of
    /// a movie); an OpenEXR file's further parts are layers of its one frame
    /// and do not count (they get a note instead).
    bool more_frames = false;

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

/// The summary of `path` when it is a regular file the image library opens;
/// nullopt otherwise (a pipe is never opened, since that would take what its
/// frame reads).
std::optional<ImageFileSummary> ReadImageFileSummary(const std::string& path);

/// How many frames `path` holds as the image library sees it: pages of a
/// TIFF, frames of an animated or movie file; 1 for most files, and for an
/// OpenEXR file, whose parts are layers or views of one frame. Throws
/// InputError for a file that cannot be opened.
int CountFrames(const std::string& path);

/// Reads image `frame` (from 0: the first page or frame) of `path` into `into`, with one decode:
/// the channels that become red, green, blue and alpha are read in one call, as the file stores
/// them (only half is widened, to float). Grey becomes red = green = blue. Sets `into.more_frames`.
/// The size is checked against `max_pixels` before any pixel memory is allocated. Throws InputError
/// for a missing, unreadable, truncated or corrupt file, a size above the limit, or a layout the
/// tool cannot hold.
void ReadImage(const std::string& path, std::uint64_t max_pixels, LoadedImage& into, int frame = 0);
LoadedImage ReadImage(const std::string& path, std::uint64_t max_pixels = kDefaultMaxPixels);

/// How to write an image.
struct WriteSettings {
    /// The file the image came from: the file's sample type is the source's
    /// (the file format may store a nearer one it supports: PNG stores float
    /// as 16 bits, JPEG everything as 8 bits), its windows are kept, and its
    /// metadata too when the output is of the same format. Null: the image's
    /// own sample type.
    const LoadedImage* source = nullptr;
    /// --compression as given (empty: the source's own when the format is
    /// the same, else the tool's default for the format); see compression.h.
    std::string compression;
    /// Where the encoded file is built before it is written; kept from frame
    /// to frame by the caller. Null: a buffer of the call's own.
    std::vector<unsigned char>* encoded = nullptr;
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
                                        std::vector<std::string>& notes);

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
