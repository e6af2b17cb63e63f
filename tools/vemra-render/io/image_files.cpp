#include "tools/vemra-render/io/image_files.h"

#include <OpenImageIO/filesystem.h>
#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <span>
#include <system_error>

#include "tools/vemra-render/io/compression.h"
#include "tools/vemra-render/io/dpx_header.h"
#include "tools/vemra-render/io/image_files_oiio.h"
#include "tools/vemra-render/io/movie_formats.h"
#ifdef VEMRA_SANITIZER_TEST_HOOK
#include "tools/vemra-render/io/sanitizer_reports.h"
#endif
#include "tools/vemra-render/run/atomic_output.h"
#include "tools/vemra-render/run/interrupt.h"
#include "tools/vemra-render/run/quiet_stderr.h"

namespace render {

namespace fs = std::filesystem;

namespace {

/// The first line of an OpenImageIO error message (the lines after it
/// repeat it in the words of the format's library).
std::string OneLine(const std::string& message) {
    std::size_t start = message.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) return "unknown error";
    std::string line = message.substr(start, message.find_first_of("\r\n", start) - start);
    while (std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    return line;
}

}  // namespace

LoadedImage::LoadedImage() : header(std::make_unique<ImageFileHeader>()) {}
LoadedImage::~LoadedImage() = default;
LoadedImage::LoadedImage(LoadedImage&&) noexcept = default;
LoadedImage& LoadedImage::operator=(LoadedImage&&) noexcept = default;

OIIO::TypeDesc FileTypeOf(SampleType type) {
    switch (type) {
        case SampleType::kUint8:
            return OIIO::TypeDesc::UINT8;
        case SampleType::kUint16:
            return OIIO::TypeDesc::UINT16;
        case SampleType::kFloat:
            return OIIO::TypeDesc::FLOAT;
    }
    return OIIO::TypeDesc::FLOAT;
}

namespace {

/// Channels read in one decode when the needed ones lie this close together.
constexpr int kMostChannelsReadTogether = 8;
/// Pages counted at most in a file that does not say how many it holds.
constexpr int kMostFramesCounted = 1'000'000;

/// The most frames a file of `format_name` can hold, where the format sets a
/// bound: the walk from frame to frame stops there, whatever the header
/// claims (each step may cost what the whole header does).
int MostFramesOf(std::string_view format_name) {
    if (format_name == "dpx") return 8;  // image elements
    return kMostFramesCounted;
}

/// Index of the channel named `name` (case-insensitive), or -1.
int FindChannel(const OIIO::ImageSpec& header, std::string_view name) {
    for (int c = 0; c < header.nchannels; ++c) {
        const std::string channel(header.channel_name(c));
        if (channel.size() == name.size() &&
            std::equal(channel.begin(), channel.end(), name.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) ==
                       std::tolower(static_cast<unsigned char>(b));
            })) {
            return c;
        }
    }
    return -1;
}

/// Which file channels become red, green, blue and alpha (-1: none).
struct ChannelMap {
    int red, green, blue, alpha;
};

ChannelMap MapChannels(const OIIO::ImageSpec& header) {
    const int n = header.nchannels;
    int alpha = header.alpha_channel >= 0 && header.alpha_channel < n ? header.alpha_channel : -1;
    if (alpha < 0) alpha = FindChannel(header, "A");
    if (n == 1) return {0, 0, 0, -1};
    if (n == 2) {
        if (alpha < 0) alpha = 1;  // grey and alpha
        const int grey = alpha == 0 ? 1 : 0;
        return {grey, grey, grey, alpha};
    }
    ChannelMap map{FindChannel(header, "R"), FindChannel(header, "G"), FindChannel(header, "B"),
                   alpha};
    if (map.red < 0 || map.green < 0 || map.blue < 0) {
        // No channel names to go by: the first three that are not alpha.
        int found[3] = {-1, -1, -1};
        int taken = 0;
        for (int c = 0; c < n && taken < 3; ++c) {
            if (c != alpha) found[taken++] = c;
        }
        map.red = found[0];
        map.green = found[1];
        map.blue = found[2];
    }
    return map;
}

}  // namespace

SampleType SampleTypeOfFile(OIIO::TypeDesc file_type) {
    switch (file_type.basetype) {
        case OIIO::TypeDesc::UINT8:
        case OIIO::TypeDesc::INT8:
            return SampleType::kUint8;
        case OIIO::TypeDesc::HALF:
        case OIIO::TypeDesc::FLOAT:
        case OIIO::TypeDesc::DOUBLE:
            return SampleType::kFloat;
        default:
            return SampleType::kUint16;
    }
}

namespace {

/// Opens `path` for reading, alpha exactly as stored (no premultiplying on
/// the way in). Throws InputError.
std::unique_ptr<OIIO::ImageInput> OpenInput(const std::string& path, OIIO::ImageSpec& header) {
    auto fail = [&](const std::string& cause) { return InputError(path + ": " + cause); };
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (!fs::exists(status)) throw fail("no such file");
    if (fs::is_directory(status)) throw fail("is a folder, not an image");
    CheckDpxFile(path);  // before the library's own look, which opens it
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    std::unique_ptr<OIIO::ImageInput> in = OIIO::ImageInput::create(path);
    if (!in) throw fail(OneLine(OIIO::geterror()));
    if (!in->open(path, header, config)) throw fail(OneLine(in->geterror()));
    return in;
}

/// An OpenEXR file's parts are layers or views of one frame, not frames.
bool PartsAreLayers(const OIIO::ImageInput& in) {
    return std::string_view(in.format_name()) == "openexr";
}

}  // namespace

std::optional<ImageFileSummary> ReadImageFileSummary(const std::string& path) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return std::nullopt;
    try {
        CheckDpxFile(path);
    } catch (const InputError&) {
        return std::nullopt;
    }
    const QuietStderr quiet;  // the frame's own read reports a damaged file, once
    const std::unique_ptr<OIIO::ImageInput> in = OIIO::ImageInput::create(path);
    OIIO::ImageSpec header;
    const bool opened = in && in->open(path, header);
    OIIO::geterror();
    if (!opened) return std::nullopt;
    in->close();
    return ImageFileSummary{header.width, header.height, header.nchannels,
                            SampleTypeOfFile(header.format)};
}

int CountFrames(const std::string& path) {
    const QuietStderr quiet;
    OIIO::ImageSpec header;
    const std::unique_ptr<OIIO::ImageInput> in = OpenInput(path, header);
    if (PartsAreLayers(*in)) return 1;
    // Movie readers know their count; others are walked page by page.
    if (const int known = header.get_int_attribute("oiio:subimages", 0); known > 0) return known;
    const int most = MostFramesOf(in->format_name());
    int frames = 1;
    while (frames < most && in->seek_subimage(frames, 0)) ++frames;
    (void)in->geterror();
    return frames;
}

void ReadImage(const std::string& path, std::uint64_t max_pixels, LoadedImage& into, int frame) {
    const QuietStderr quiet;
#ifdef VEMRA_SANITIZER_TEST_HOOK
    RaiseSanitizerReportForTest();
#endif
    OIIO::ImageSpec header;
    const std::unique_ptr<OIIO::ImageInput> in = OpenInput(path, header);
    // The seek fills `header` with the frame's own description.
    if (frame != 0 && !in->seek_subimage(frame, 0, header)) {
        throw InputError(fmt::format("{}: has no frame {}", path, frame + 1));
    }
    ReadOpenedImage(*in, header, path, max_pixels, into);
    // The library shows an animated PNG's default image alone: the file
    // holds more frames all the same (the movie reader reads them).
    if (into.format_name == "png" && AnimatedPngFrames(path)) into.more_frames = true;
    // An OpenEXR file's further parts are layers of this frame: a note.
    if (into.more_frames && PartsAreLayers(*in)) {
        into.more_frames = false;
        into.notes.push_back(fmt::format(
            "{}: its parts after the first are layers of one frame, not frames: only the first "
            "part is rendered and written",
            path));
    }
}

LoadedImage ReadImage(const std::string& path, std::uint64_t max_pixels) {
    LoadedImage loaded;
    ReadImage(path, max_pixels, loaded);
    return loaded;
}

LoadedImage ReadOpenedImage(OIIO::ImageInput& in, const OIIO::ImageSpec& header,
                            const std::string& name, std::uint64_t max_pixels) {
    LoadedImage loaded;
    ReadOpenedImage(in, header, name, max_pixels, loaded);
    return loaded;
}

namespace {

/// Throws unless `header` describes one plane of pixels the tool can hold
/// within `max_pixels`: InputError for a corrupt header, InputRefused for
/// what the tool will not take.
void CheckHeader(const OIIO::ImageSpec& header, const std::string& name, std::uint64_t max_pixels) {
    auto fail = [&](const std::string& cause) { return InputError(name + ": " + cause); };
    auto refuse = [&](const std::string& cause) { return InputRefused(name + ": " + cause); };
    if (header.width <= 0 || header.height <= 0 || header.nchannels <= 0) {
        throw fail(fmt::format("corrupt: {} x {} pixels, {} channels", header.width, header.height,
                               header.nchannels));
    }
    if (header.depth > 1) throw refuse("volume images are not supported");
    // No plane at all would be read as nothing and the image left black.
    if (header.depth < 1) throw fail(fmt::format("corrupt: depth {}", header.depth));
    const std::uint64_t pixels = std::uint64_t(header.width) * std::uint64_t(header.height);
    if (pixels > max_pixels) {
        throw refuse(fmt::format("{} x {} = {} pixels is above the limit of {} (--max-pixels)",
                                 header.width, header.height, pixels, max_pixels));
    }
    // The host's worlds count row bytes in 32 bits: 16 bytes a float pixel.
    if (header.width > std::numeric_limits<std::int32_t>::max() / 16) {
        throw refuse(fmt::format("{} pixels wide is wider than a host world can be", header.width));
    }
}

/// Decodes the channels `map` names from `in` into `loaded`, in one call
/// when they lie close together.
void ReadChannels(OIIO::ImageInput& in, const OIIO::ImageSpec& header, const ChannelMap& map,
                  const std::string& name, LoadedImage& loaded) {
    const SampleType type = SampleTypeOfFile(header.format);
    const std::size_t sample = SampleBytes(type);
    const std::size_t pixels = std::size_t(header.width) * std::size_t(header.height);
    const int wanted[4] = {map.red, map.green, map.blue, map.alpha};
    int first = header.nchannels, last = -1;
    for (int channel : wanted) {
        if (channel < 0) continue;
        first = std::min(first, channel);
        last = std::max(last, channel);
    }
    auto fail = [&] { return InputError(name + ": " + OneLine(in.geterror())); };
    // A file with alpha and only two other channels has no third colour: that
    // one is read as zero, from a buffer of four channels filled with zero.
    const bool colour_missing = map.red < 0 || map.green < 0 || map.blue < 0;
    if (!colour_missing && last - first < kMostChannelsReadTogether) {
        // One decode: the channels from the first needed to the last, as the
        // file interleaves them.
        const int span = last - first + 1;
        std::array<int, 4> at{};
        for (std::size_t c = 0; c < 4; ++c) at[c] = wanted[c] < 0 ? -1 : wanted[c] - first;
        loaded.layout = SampleLayout::Interleaved(type, header.width, span, at);
        loaded.buffer.resize(pixels * std::size_t(span) * sample);
        if (!in.read_image(in.current_subimage(), 0, first, last + 1, FileTypeOf(type),
                           loaded.buffer.data()) ||
            in.has_error()) {
            throw fail();
        }
        return;
    }
    // The needed channels lie far apart among many others (or one is
    // missing): each is read on its own, straight into its place among four,
    // so the memory held stays that of four channels whatever the file carries.
    std::array<int, 4> at{0, 1, 2, map.alpha >= 0 ? 3 : -1};
    loaded.layout = SampleLayout::Interleaved(type, header.width, 4, at);
    loaded.buffer.resize(pixels * 4 * sample);
    if (colour_missing) std::fill(loaded.buffer.begin(), loaded.buffer.end(), std::byte{0});
    for (std::size_t c = 0; c < 4; ++c) {
        if (wanted[c] < 0) continue;
        if (!in.read_image(in.current_subimage(), 0, wanted[c], wanted[c] + 1, FileTypeOf(type),
                           loaded.buffer.data() + c * sample, OIIO::stride_t(4 * sample)) ||
            in.has_error()) {
            throw fail();
        }
    }
}

/// The note naming the channels of `header` that `map` leaves out, if any.
void NoteDroppedChannels(const OIIO::ImageSpec& header, const ChannelMap& map,
                         const std::string& name, std::vector<std::string>& notes) {
    std::vector<std::string> dropped;
    for (int c = 0; c < header.nchannels; ++c) {
        if (c != map.red && c != map.green && c != map.blue && c != map.alpha) {
            const std::string channel_name(header.channel_name(c));
            dropped.push_back(channel_name.empty() ? std::to_string(c) : channel_name);
        }
    }
    if (!dropped.empty()) {
        notes.push_back(fmt::format("{}: channel(s) {} not carried to the output", name,
                                    fmt::join(dropped, ", ")));
    }
}

}  // namespace

void ReadOpenedImage(OIIO::ImageInput& in, const OIIO::ImageSpec& file_header,
                     const std::string& name, std::uint64_t max_pixels, LoadedImage& loaded) {
    if (!loaded.header) loaded.header = std::make_unique<ImageFileHeader>();
    loaded.header->fields = file_header;
    loaded.format_name = in.format_name();
    loaded.notes.clear();
    loaded.more_frames = false;
    const OIIO::ImageSpec& header = loaded.header->fields;
    CheckHeader(header, name, max_pixels);
    const ChannelMap map = MapChannels(header);
    loaded.width = header.width;
    loaded.height = header.height;
    ReadChannels(in, header, map, name, loaded);
    // Whether a frame follows, asked once this one is read, so no seek back.
    loaded.more_frames = in.seek_subimage(in.current_subimage() + 1, 0);
    (void)in.geterror();  // a failed look for a next frame is no error of the read
    in.close();
    NoteDroppedChannels(header, map, name, loaded.notes);
}

std::string CheckOutputFormat(const fs::path& target) {
    const std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(target.string());
    if (!out) {
        OIIO::geterror();  // takes the library's pending message, which says the same
        throw OutputError(fmt::format("{}: no image format writes files ending in \"{}\"",
                                      target.string(), target.extension().string()));
    }
    return out->format_name();
}

namespace {

/// Sets the compression of `header`, a file of `format_name` (see compression.h).
void SetCompression(OIIO::ImageSpec& header, std::string_view format_name,
                    const std::string& option, bool from_same_format) {
    const std::string value = ChooseCompression(
        format_name, option, from_same_format ? header.get_string_attribute("compression") : "");
    if (value.empty()) return;  // a format with no say here: the library's own default
    if (format_name == "png") {
        const PngCompression png = PngCompressionOf(value);
        header.erase_attribute("compression");
        header.attribute("png:compressionLevel", png.level);
        header.attribute("png:filter", png.filter);
    } else {
        header.attribute("compression", value);
    }
}

}  // namespace

std::unique_ptr<AtomicFile> EncodeImage(const fs::path& target, const Image& image,
                                        const WriteSettings& settings,
                                        std::vector<std::string>& notes) {
    const OIIO::TypeDesc file_type = settings.source != nullptr
                                         ? settings.source->header->fields.format
                                         : FileTypeOf(image.type);
    return EncodeImageAs(target, image, settings, file_type, notes);
}

std::unique_ptr<AtomicFile> EncodeImageAs(const fs::path& target, const Image& image,
                                          const WriteSettings& settings, OIIO::TypeDesc file_type,
                                          std::vector<std::string>& notes) {
    const std::string name = target.string();
    CheckOutputPath(target);
    std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(name);
    if (!out) {
        throw OutputError(fmt::format("{}: cannot write: {}", name, OneLine(OIIO::geterror())));
    }

    int channels = image.has_alpha ? 4 : 3;
    if (channels == 4 && !out->supports("alpha")) {
        channels = 3;
        notes.push_back(
            fmt::format("{}: alpha not written ({} files hold none)", name, out->format_name()));
    }
    OIIO::ImageSpec header(image.width, image.height, channels, file_type);
    bool same_format = false;
    if (settings.source != nullptr) {
        const OIIO::ImageSpec& source = settings.source->header->fields;
        same_format = settings.source->format_name == out->format_name();
        if (same_format) header.extra_attribs = source.extra_attribs;
        header.x = source.x;
        header.y = source.y;
        header.full_x = source.full_x;
        header.full_y = source.full_y;
        header.full_width = source.full_width;
        header.full_height = source.full_height;
    }
    header.default_channel_names();
    header.alpha_channel = channels == 4 ? 3 : -1;
    // Alpha exactly as held: no un-premultiplying on the way out.
    header.attribute("oiio:UnassociatedAlpha", 1);
    SetCompression(header, out->format_name(), settings.compression, same_format);

    // Success is what the calls return: the TIFF writer leaves a message
    // about its (empty) Exif directory behind even when all went well.
    auto encode = [&](const std::string& open_name, bool by_name) {
        const QuietStderr quiet;
        bool opened = false;
        if (by_name) {
            // The writer creates the file itself: the interrupt's sweep must
            // not run between its creation and the writer's open.
            const std::unique_lock files = LockOutputFiles();
            opened = out->open(open_name, header);
        } else {
            opened = out->open(open_name, header);
        }
        if (!opened ||
            !out->write_image(FileTypeOf(image.type), image.pixels.data(),
                              OIIO::stride_t(image.PixelBytes())) ||
            !out->close()) {
            throw OutputError(fmt::format("{}: cannot write: {}", name, OneLine(out->geterror())));
        }
    };
    auto file = std::make_unique<AtomicFile>(target);
    if (out->supports("ioproxy")) {
        // Encoded in memory, then written by us, so that every write error
        // is seen and the file appears only when complete.
        std::vector<unsigned char> own;
        std::vector<unsigned char>& bytes = settings.encoded != nullptr ? *settings.encoded : own;
        bytes.clear();
        OIIO::Filesystem::IOVecOutput proxy(bytes);
        out->set_ioproxy(&proxy);
        encode(name, false);
        out.reset();
        file->Write(std::as_bytes(std::span(bytes)));
    } else {
        encode(file->temp_path(), true);
        out.reset();
    }
    file->Flush();
    return file;
}

std::vector<std::string> WriteImage(const fs::path& target, const Image& image,
                                    const WriteSettings& settings) {
    std::vector<std::string> notes;
    EncodeImage(target, image, settings, notes)->Commit();
    return notes;
}

std::vector<std::string> WriteImageAs(const fs::path& target, const Image& image,
                                      const WriteSettings& settings, OIIO::TypeDesc file_type) {
    std::vector<std::string> notes;
    EncodeImageAs(target, image, settings, file_type, notes)->Commit();
    return notes;
}

void ShareImageLibraryThreads(int threads, int in_flight) {
    OIIO::attribute("threads", threads);
    OIIO::attribute("exr_threads", in_flight > 1 ? -1 : threads);
}

}  // namespace render
