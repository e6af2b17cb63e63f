#include "tools/vemra-render/io/image_readers.h"

#include <OpenImageIO/imageio.h>
#include <OpenImageIO/strutil.h>
#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "tools/vemra-render/io/dpx_header.h"
#include "tools/vemra-render/io/image_files_oiio.h"
#include "tools/vemra-render/io/image_pages.h"
#include "tools/vemra-render/io/movie_demuxer.h"
#include "tools/vemra-render/io/movie_formats.h"
#include "tools/vemra-render/io/rla_header.h"
#include "tools/vemra-render/run/quiet_stderr.h"

namespace render {

namespace fs = std::filesystem;

namespace {

/// The image library's readers the tool never uses: its FFmpeg reader opens
/// whatever FFmpeg recognises, with no whitelist (a concat list or an HLS
/// playlist is followed to the files it names), and its null reader makes up
/// an image from a file's name without reading the file.
constexpr std::array<std::string_view, 2> kReadersNotUsed{"ffmpeg", "null"};

/// The image library's readers the tool uses, in the library's order, and
/// the format each file ending names (lower case).
struct ReaderTable {
    std::vector<std::string> formats;
    std::map<std::string, std::string, std::less<>> by_extension;
};

const ReaderTable& Readers() {
    static const ReaderTable table = [] {
        ReaderTable readers;
        const std::string inputs(OIIO::get_string_attribute("input_format_list"));
        for (const std::string_view format : OIIO::Strutil::splitsv(inputs, ",")) {
            if (std::find(kReadersNotUsed.begin(), kReadersNotUsed.end(), format) ==
                kReadersNotUsed.end()) {
                readers.formats.emplace_back(format);
            }
        }
        for (const auto& [format, extensions] : OIIO::get_extension_map()) {
            for (const std::string& extension : extensions) {
                readers.by_extension.emplace(OIIO::Strutil::lower(extension), format);
            }
        }
        return readers;
    }();
    return table;
}

/// The ending of `path`'s file name after its last dot, in lower case.
std::string LowerExtension(const std::string& path) {
    const std::string name = fs::path(path).filename().string();
    const std::size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? "" : OIIO::Strutil::lower(name.substr(dot + 1));
}

/// A reader of `format` when it takes the file at `path` by its contents:
/// its own quick look says so, or else, for the reader the file's ending
/// names (`named`), it opens the file, as the library itself would: some
/// readers' quick look refuses their own files (the SGI reader's, on a
/// little-endian machine).
std::unique_ptr<OIIO::ImageInput> ReaderIfValid(const std::string& format, const std::string& path,
                                                bool named) {
    std::unique_ptr<OIIO::ImageInput> in = OIIO::ImageInput::create(format);
    bool takes = in && in->valid_file(path);
    if (in && !takes && named) {
        OIIO::ImageSpec header;
        takes = in->open(path, header);
        in->close();
        in = OIIO::ImageInput::create(format);  // unopened, as a found reader is
    }
    if (in) (void)in->geterror();
    (void)OIIO::geterror();  // a reader that does not take the file is no error yet
    return takes ? std::move(in) : nullptr;
}

/// The reader the rule picks for `path`, or null when no reader takes it.
/// Some readers look at a file by opening it, so the header is checked first.
std::unique_ptr<OIIO::ImageInput> FindImageReader(const std::string& path,
                                                  std::uint64_t max_pixels) {
    CheckBeforeOpening(path, max_pixels);
    const ReaderTable& readers = Readers();
    const auto named = readers.by_extension.find(LowerExtension(path));
    std::string tried;
    if (named != readers.by_extension.end() &&
        std::find(readers.formats.begin(), readers.formats.end(), named->second) !=
            readers.formats.end()) {
        tried = named->second;
        if (std::unique_ptr<OIIO::ImageInput> in = ReaderIfValid(tried, path, true)) return in;
    }
    for (const std::string& format : readers.formats) {
        if (format == tried) continue;
        if (std::unique_ptr<OIIO::ImageInput> in = ReaderIfValid(format, path, false)) return in;
    }
    return nullptr;
}

/// Frames counted at most in a file.
constexpr int kMostFramesCounted = 1'000'000;

/// The most frames a file of `format_name` can hold, where the format sets a
/// bound: the walk from frame to frame stops there, whatever the header
/// claims (each step may cost what the whole header does).
int MostFramesOf(std::string_view format_name) {
    if (format_name == "dpx") return 8;  // image elements
    return kMostFramesCounted;
}

/// What is wrong with a GIF file whose first bytes are `header`: a logical
/// screen (the canvas every frame is drawn on, which the library allocates
/// as it opens the file) above `max_pixels`. Nullopt for any other file.
std::optional<std::string> GifScreenProblem(std::span<const std::byte> header,
                                            std::uint64_t max_pixels) {
    if (header.size() < 10 || (std::memcmp(header.data(), "GIF87a", 6) != 0 &&
                               std::memcmp(header.data(), "GIF89a", 6) != 0)) {
        return std::nullopt;
    }
    auto word = [&](std::size_t at) {
        return std::to_integer<std::uint64_t>(header[at]) |
               std::to_integer<std::uint64_t>(header[at + 1]) << 8;
    };
    const std::uint64_t width = word(6);
    const std::uint64_t height = word(8);
    if (width * height <= max_pixels) return std::nullopt;
    return fmt::format(
        "its logical screen of {} x {} = {} pixels is above the limit of {} "
        "(--max-pixels)",
        width, height, width * height, max_pixels);
}

/// Refuses an RLA file whose header the library's decoder would loop on.
void CheckRlaHeader(const std::string& path) {
    std::array<std::byte, kRlaHeaderBytesChecked> header{};
    std::ifstream file(path, std::ios::binary);
    file.read(reinterpret_cast<char*>(header.data()), std::streamsize(header.size()));
    const auto got = std::size_t(std::max<std::streamsize>(0, file.gcount()));
    if (const std::optional<std::string> problem = RlaHeaderProblem({header.data(), got})) {
        throw InputRefused(path + ": " + *problem);
    }
}

}  // namespace

void CheckBeforeOpening(const std::string& path, std::uint64_t max_pixels) {
    // A FIFO is not read here: that would take what its reader needs.
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return;
    std::array<std::byte, kDpxHeaderBytesChecked> header{};
    std::ifstream file(path, std::ios::binary);
    file.read(reinterpret_cast<char*>(header.data()), std::streamsize(header.size()));
    const auto got = std::size_t(std::max<std::streamsize>(0, file.gcount()));
    const std::uintmax_t size = fs::file_size(path, error);
    if (got == 0 || error) return;
    const std::span<const std::byte> read(header.data(), got);
    std::optional<std::string> problem = DpxHeaderProblem(read, size);
    if (!problem) problem = GifScreenProblem(read, max_pixels);
    if (problem) throw InputRefused(path + ": " + *problem);
}

std::unique_ptr<OIIO::ImageInput> CreateImageReader(const std::string& path,
                                                    std::uint64_t max_pixels) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (!fs::exists(status)) throw InputError(path + ": no such file");
    if (fs::is_directory(status)) throw InputError(path + ": is a folder, not an image");
    if (std::unique_ptr<OIIO::ImageInput> in = FindImageReader(path, max_pixels)) return in;
    std::optional<ProbedContainer> probed;
    if (fs::is_regular_file(status)) probed = ProbeContainer(path);
    if (probed && probed->movie) {
        throw InputRefused(
            fmt::format("{}: is a movie ({}), not an image: give it as the only input", path,
                        probed->description));
    }
    // An animated image no image reader takes is damaged; FFmpeg's image
    // demuxers ("png_pipe") say no more than the image readers did.
    if (probed && !probed->animation && !probed->demuxer.ends_with("_pipe")) {
        throw InputRefused(
            fmt::format("{}: not an image or a movie the tool reads: FFmpeg takes it for {} ({})",
                        path, probed->description, probed->demuxer));
    }
    throw InputError(path + ": not an image file the tool reads: no image format takes it");
}

OpenedImage OpenImage(const std::string& path, std::uint64_t max_pixels, const FileFrames* frames,
                      int frame) {
    OpenedImage opened;
    opened.in = CreateImageReader(path, max_pixels);
    const bool at_page =
        frames != nullptr && frame > 0 && std::size_t(frame) < frames->tiff_pages.size();
    if (at_page) {
        auto file = std::make_unique<TiffPageFile>(path, frames->tiff_pages[std::size_t(frame)]);
        if (!file->opened() || !opened.in->supports("ioproxy") ||
            !opened.in->set_ioproxy(file.get())) {
            throw InputError(fmt::format("{}: cannot open its page {}", path, frame + 1));
        }
        opened.file = std::move(file);
    }
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    if (!opened.in->open(path, opened.header, config)) {
        throw InputError(path + ": " +
                         OneLine(opened.in->geterror(), "cannot be opened: the file is damaged"));
    }
    if (std::string_view(opened.in->format_name()) == "rla") CheckRlaHeader(path);
    // The seek fills the header with the frame's own description.
    if (!at_page && frame != 0 && !opened.in->seek_subimage(frame, 0, opened.header)) {
        throw InputError(fmt::format("{}: has no frame {}", path, frame + 1));
    }
    return opened;
}

bool PartsAreLayers(const OIIO::ImageInput& in) {
    return std::string_view(in.format_name()) == "openexr";
}

std::optional<ImageFileSummary> ReadImageFileSummary(const std::string& path,
                                                     std::uint64_t max_pixels, int frame,
                                                     const FileFrames* frames) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return std::nullopt;
    const QuietStderr quiet;  // the frame's own read reports a damaged file, once
    try {
        const OpenedImage opened = OpenImage(path, max_pixels, frames, frame);
        const OIIO::ImageSpec& header = opened.header;
        return ImageFileSummary{header.width, header.height, header.nchannels,
                                SampleTypeOfFile(header.format)};
    } catch (const InputError&) {
        return std::nullopt;
    }
}

FileFrames FindFrames(const std::string& path, std::uint64_t max_pixels) {
    const QuietStderr quiet;
    const OpenedImage opened = OpenImage(path, max_pixels);
    OIIO::ImageInput& in = *opened.in;
    FileFrames frames;
    if (PartsAreLayers(in)) return frames;
    // A TIFF's pages are found by one walk of their own; unless the library
    // takes its later pages for the first one's MIP levels, as it does a
    // texture's.
    if (std::string_view(in.format_name()) == "tiff" && !in.seek_subimage(0, 1)) {
        (void)in.geterror();
        if (auto pages = FindTiffPages(path, kMostFramesCounted); pages && !pages->empty()) {
            frames.tiff_pages = std::move(*pages);
            frames.count = int(frames.tiff_pages.size());
            return frames;
        }
    }
    // Movie readers know their count; others are walked frame by frame.
    if (const int known = opened.header.get_int_attribute("oiio:subimages", 0); known > 0) {
        frames.count = std::min(known, kMostFramesCounted);
        return frames;
    }
    const int most = MostFramesOf(in.format_name());
    while (frames.count < most && in.seek_subimage(frames.count, 0)) ++frames.count;
    (void)in.geterror();
    return frames;
}

InputKind KindOfInput(const std::string& path, std::uint64_t max_pixels) {
    if (IsMoviePath(path)) return InputKind::kMovie;
    // A FIFO or a device is never looked into: that would take what its read needs.
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return InputKind::kImage;
    // An animated PNG's and a GIF's frames come from the movie stages: the
    // image library shows an APNG's first frame alone, lays a GIF's frames
    // over each other without their disposal, and takes a cut GIF's frames
    // for the whole.
    if (AnimatedPngFrames(path) || IsGifFile(path)) return InputKind::kAnimation;
    const QuietStderr quiet;  // some format libraries print as they look
    if (FindImageReader(path, max_pixels)) return InputKind::kImage;
    const std::optional<ProbedContainer> probed = ProbeContainer(path);
    return probed && probed->movie ? InputKind::kMovie : InputKind::kImage;
}

}  // namespace render
