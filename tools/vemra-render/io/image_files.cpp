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

std::string OneLine(const std::string& message, std::string_view otherwise) {
    std::size_t start = message.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) return std::string(otherwise);
    std::string line = message.substr(start, message.find_first_of("\r\n", start) - start);
    while (std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    return line;
}

std::size_t NativeOffset(const OIIO::ImageSpec& header, int c) {
    std::size_t offset = 0;
    for (int before = 0; before < c; ++before) offset += header.channelformat(before).size();
    return offset;
}

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

DataType DataTypeOfFile(OIIO::TypeDesc file_type, int bits) {
    if (file_type.basetype == OIIO::TypeDesc::HALF) return DataType::kHalf;
    if (file_type.basetype == OIIO::TypeDesc::UINT16 && bits == 10) return DataType::kUint10;
    if (file_type.basetype == OIIO::TypeDesc::UINT16 && bits == 12) return DataType::kUint12;
    return DataTypeOf(SampleTypeOfFile(file_type));
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
    // Every channel is held: a header of thousands of channels must not
    // take memory without bound.
    if (pixels * std::uint64_t(header.nchannels) > max_pixels * kMostSamplesPerPixel) {
        throw refuse(fmt::format(
            "{} channels of {} pixels are above the limit of {} samples (--max-pixels x {})",
            header.nchannels, pixels, max_pixels * kMostSamplesPerPixel, kMostSamplesPerPixel));
    }
    // The host's worlds count row bytes in 32 bits: 16 bytes a float pixel.
    if (header.width > std::numeric_limits<std::int32_t>::max() / 16) {
        throw refuse(fmt::format("{} pixels wide is wider than a host world can be", header.width));
    }
    // A tiled file is decoded a tile at a time, each tile whole: a tile far
    // larger than the image (65536 x 65536 for 16 x 16 pixels) would take
    // memory the image never needs. A writer that rounds each side of a
    // tile up (to a power of two) makes it at most four times the image.
    if (header.tile_width != 0) {
        if (header.tile_width < 0 || header.tile_height <= 0 || header.tile_depth <= 0) {
            throw fail(fmt::format("corrupt: tiles of {} x {} x {} pixels", header.tile_width,
                                   header.tile_height, header.tile_depth));
        }
        const std::uint64_t tile = std::uint64_t(header.tile_width) *
                                   std::uint64_t(header.tile_height) *
                                   std::uint64_t(header.tile_depth);
        if (tile > std::max(4 * pixels, kTilePixelsAlways)) {
            throw refuse(fmt::format(
                "its tiles of {} x {} pixels are larger than four times the image ({} x {}) and "
                "than {} pixels",
                header.tile_width, header.tile_height, header.width, header.height,
                kTilePixelsAlways));
        }
    }
}

/// What ReadNative and ReadInterleaved say when a decode fails.
InputError ReadFailure(OIIO::ImageInput& in, const std::string& name) {
    return InputError(name + ": " + OneLine(in.geterror(), kSilentReadFailure));
}

/// "beauty", or "part 2" for a part without a name.
std::string PartName(const OIIO::ImageSpec& header, int index) {
    std::string name = header.get_string_attribute("oiio:subimagename");
    return name.empty() ? fmt::format("part {}", index + 1) : name;
}

/// Decodes every channel of the current part of `in` into `into` in its own
/// type, packed as the file packs them: one call per run of channels of one
/// type, so one call for most files.
void ReadNative(OIIO::ImageInput& in, const OIIO::ImageSpec& header, const std::string& name,
                std::vector<std::byte>& into) {
    const std::size_t pixel = header.pixel_bytes(true);
    const std::size_t pixels = std::size_t(header.width) * std::size_t(header.height);
    into.resize(pixels * pixel);
    for (int first = 0; first < header.nchannels;) {
        const OIIO::TypeDesc type = header.channelformat(first);
        int end = first + 1;
        while (end < header.nchannels && header.channelformat(end) == type) ++end;
        if (!in.read_image(in.current_subimage(), 0, first, end, type,
                           into.data() + NativeOffset(header, first), OIIO::stride_t(pixel)) ||
            in.has_error()) {
            throw ReadFailure(in, name);
        }
        first = end;
    }
}

/// Every channel of `header` is one of `map`'s colour channels, and no
/// colour is missing.
bool OnlyColour(const OIIO::ImageSpec& header, const ChannelMap& map) {
    if (map.red < 0 || map.green < 0 || map.blue < 0) return false;
    for (int c = 0; c < header.nchannels; ++c) {
        if (!map.IsColour(c)) return false;
    }
    return true;
}

/// Reads every channel of the current part into `colour`'s buffer in the
/// type `as` (the file's own, or the one that holds it), laid out as `map`
/// says.
void ReadInterleaved(OIIO::ImageInput& in, const OIIO::ImageSpec& header, const ChannelMap& map,
                     SampleType as, const std::string& name, PartSamples& colour) {
    colour.buffer.resize(std::size_t(header.width) * std::size_t(header.height) *
                         std::size_t(header.nchannels) * SampleBytes(as));
    if (!in.read_image(in.current_subimage(), 0, 0, header.nchannels, FileTypeOf(as),
                       colour.buffer.data()) ||
        in.has_error()) {
        throw ReadFailure(in, name);
    }
    colour.layout = SampleLayout::Interleaved(as, header.width, header.nchannels,
                                              {map.red, map.green, map.blue, map.alpha});
}

/// Reads a rendered part: its colour into `colour`, its other channels kept
/// in `part` (or in `colour`'s buffer itself, when every channel is of one
/// type the tool holds as it is).
void ReadRenderedPart(OIIO::ImageInput& in, const std::string& name, KeptPart& part,
                      PartSamples& colour) {
    const OIIO::ImageSpec& header = part.header;
    const ChannelMap& map = part.colour;
    const SampleType type = SampleTypeOfFile(header.format);
    colour.width = header.width;
    colour.height = header.height;
    const bool one_type = header.channelformats.empty() ||
                          std::all_of(header.channelformats.begin(), header.channelformats.end(),
                                      [&](OIIO::TypeDesc t) { return t == header.format; });
    const bool held_as_stored = one_type && header.format == FileTypeOf(type);
    if ((held_as_stored && map.red >= 0 && map.green >= 0 && map.blue >= 0) ||
        OnlyColour(header, map)) {
        // One decode into the colour's buffer: the file's own samples, which
        // are also the kept ones; or, with nothing else to keep, the colour
        // converted on the way (half to float).
        part.native.clear();
        ReadInterleaved(in, header, map, type, name, colour);
        return;
    }
    // Other channels kept as the file holds them, the colour converted to
    // the type that holds it, four channels (a missing colour as zero).
    ReadNative(in, header, name, part.native);
    const int wanted[4] = {map.red, map.green, map.blue, map.alpha};
    const std::size_t sample = SampleBytes(type);
    const std::size_t pixel = header.pixel_bytes(true);
    colour.layout =
        SampleLayout::Interleaved(type, header.width, 4, {0, 1, 2, map.alpha >= 0 ? 3 : -1});
    colour.buffer.assign(std::size_t(header.width) * std::size_t(header.height) * 4 * sample,
                         std::byte{0});
    for (std::size_t c = 0; c < 4; ++c) {
        if (wanted[c] < 0) continue;
        OIIO::convert_image(
            1, header.width, header.height, 1, part.native.data() + NativeOffset(header, wanted[c]),
            header.channelformat(wanted[c]), OIIO::stride_t(pixel),
            OIIO::stride_t(pixel * std::size_t(header.width)), OIIO::AutoStride,
            colour.buffer.data() + c * sample, FileTypeOf(type), OIIO::stride_t(4 * sample),
            OIIO::stride_t(4 * sample * std::size_t(header.width)), OIIO::AutoStride);
    }
}

/// The parts of an OpenEXR file and which of them are rendered, from
/// their headers alone. Throws InputRefused for a deep part, a part
/// `choice` names that the file lacks or that holds no colour.
struct PartPlan {
    std::vector<OIIO::ImageSpec> headers;
    std::vector<int> subimages;  ///< of each part in the file
    std::vector<bool> rendered;
    int first_rendered = 0;
};

PartPlan PlanParts(OIIO::ImageInput& in, const OIIO::ImageSpec& first, const std::string& name,
                   const ColourChoice& choice) {
    PartPlan plan;
    plan.headers.push_back(first);
    plan.subimages.push_back(in.current_subimage());
    const bool layered = PartsAreLayers(in) && in.current_subimage() == 0;
    OIIO::ImageSpec next;
    for (int part = 1; layered && in.seek_subimage(part, 0, next); ++part) {
        if (part == kMostParts) {
            throw InputRefused(fmt::format("{}: holds more than {} parts", name, kMostParts));
        }
        plan.headers.push_back(next);
        plan.subimages.push_back(part);
    }
    (void)in.geterror();  // a failed look for a next part is no error of the read
    const int count = int(plan.headers.size());
    std::vector<std::string> names, deep;
    for (int p = 0; p < count; ++p) {
        names.push_back(PartName(plan.headers[std::size_t(p)], p));
        if (plan.headers[std::size_t(p)].deep) deep.push_back(names.back());
    }
    if (!deep.empty()) {
        throw InputRefused(fmt::format(
            "{}: deep part(s) {}: the tool renders and keeps flat images only (oiiotool "
            "--flatten makes one)",
            name, fmt::join(deep, ", ")));
    }
    for (const std::string& asked : choice.parts) {
        if (std::find(names.begin(), names.end(), asked) == names.end()) {
            throw InputRefused(fmt::format("{}: --parts: it has no part \"{}\" (it has {})", name,
                                           asked, fmt::join(names, ", ")));
        }
    }
    plan.rendered.assign(std::size_t(count), false);
    for (int p = 0; p < count; ++p) {
        const OIIO::ImageSpec& header = plan.headers[std::size_t(p)];
        const bool named = std::find(choice.parts.begin(), choice.parts.end(),
                                     names[std::size_t(p)]) != choice.parts.end();
        const bool colour = HoldsColour(header.channelnames, choice.channels);
        if (named && !colour) {
            throw InputRefused(fmt::format("{}: --parts: part \"{}\" holds no colour to render",
                                           name, names[std::size_t(p)]));
        }
        plan.rendered[std::size_t(p)] = choice.parts.empty() ? colour : named;
    }
    const auto first_colour = std::find(plan.rendered.begin(), plan.rendered.end(), true);
    // No part holds R, G and B: the first is rendered as a single image would be.
    if (first_colour == plan.rendered.end()) plan.rendered[0] = true;
    plan.first_rendered =
        int(std::find(plan.rendered.begin(), plan.rendered.end(), true) - plan.rendered.begin());
    return plan;
}

/// Reads part `index` of `in` as `plan` says into `loaded`.
void ReadPart(OIIO::ImageInput& in, const PartPlan& plan, int index, const std::string& name,
              std::uint64_t max_pixels, const ColourChoice& choice, LoadedImage& loaded) {
    const OIIO::ImageSpec& header = plan.headers[std::size_t(index)];
    const int subimage = plan.subimages[std::size_t(index)];
    if (in.current_subimage() != subimage && !in.seek_subimage(subimage, 0)) {
        throw InputError(name + ": " + OneLine(in.geterror(), "cannot find its part again"));
    }
    CheckHeader(header, name, max_pixels);
    KeptPart& part = loaded.kept->parts.emplace_back();
    part.header = header;
    part.rendered = plan.rendered[std::size_t(index)];
    if (!part.rendered) {
        ReadNative(in, header, name, part.native);
        return;
    }
    part.colour = ChooseColour(header.channelnames, header.alpha_channel, choice.channels, name);
    if (index == plan.first_rendered) {
        PartSamples colour;
        colour.buffer.swap(loaded.buffer);  // kept from frame to frame
        ReadRenderedPart(in, name, part, colour);
        loaded.buffer.swap(colour.buffer);
        loaded.width = colour.width;
        loaded.height = colour.height;
        loaded.layout = colour.layout;
    } else {
        ReadRenderedPart(in, name, part, loaded.further.emplace_back());
    }
}

/// Reads the parts of `in` that `choice` asks for, its current part first.
void ReadParts(OIIO::ImageInput& in, const OIIO::ImageSpec& first, const std::string& name,
               std::uint64_t max_pixels, const ColourChoice& choice, LoadedImage& loaded) {
    const PartPlan plan = PlanParts(in, first, name, choice);
    // The parts read are held at once: together they stay within the
    // samples one part may hold.
    std::uint64_t samples = 0;
    for (int p = 0; p < int(plan.headers.size()); ++p) {
        const OIIO::ImageSpec& part = plan.headers[std::size_t(p)];
        if (!choice.all_parts && p != plan.first_rendered) continue;
        samples += std::uint64_t(std::max(0, part.width)) *
                   std::uint64_t(std::max(0, part.height)) *
                   std::uint64_t(std::max(0, part.nchannels));
    }
    if (samples > max_pixels * kMostSamplesPerPixel) {
        throw InputRefused(fmt::format(
            "{}: its parts hold {} samples together, above the limit of {} (--max-pixels x {})",
            name, samples, max_pixels * kMostSamplesPerPixel, kMostSamplesPerPixel));
    }
    loaded.kept->parts.clear();
    loaded.kept->unread_parts.clear();
    loaded.further.clear();
    for (int p = 0; p < int(plan.headers.size()); ++p) {
        if (choice.all_parts || p == plan.first_rendered) {
            ReadPart(in, plan, p, name, max_pixels, choice, loaded);
        } else {
            loaded.kept->unread_parts.push_back(PartName(plan.headers[std::size_t(p)], p));
        }
    }
    const OIIO::ImageSpec& rendered = plan.headers[std::size_t(plan.first_rendered)];
    loaded.header->fields = rendered;
}

}  // namespace

void ReadImage(const std::string& path, std::uint64_t max_pixels, LoadedImage& into, int frame,
               const ColourChoice& choice, const FileFrames* frames) {
    const QuietStderr quiet;
#ifdef VEMRA_SANITIZER_TEST_HOOK
    RaiseSanitizerReportForTest();
#endif
    OpenedImage opened = OpenImage(path, max_pixels, frames, frame);
    ReadOpenedImage(*opened.in, opened.header, path, max_pixels, into, choice);
    // The library shows an animated PNG's default image alone: the file
    // holds more frames all the same (the movie reader reads them).
    if (into.format_name == "png" && AnimatedPngFrames(path)) into.more_frames = true;
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

void ReadOpenedImage(OIIO::ImageInput& in, const OIIO::ImageSpec& file_header,
                     const std::string& name, std::uint64_t max_pixels, LoadedImage& loaded,
                     const ColourChoice& choice) {
    if (!loaded.header) loaded.header = std::make_unique<ImageFileHeader>();
    if (!loaded.kept) loaded.kept = std::make_unique<KeptData>();
    loaded.header->fields = file_header;
    loaded.kept->file = name;
    loaded.format_name = in.format_name();
    loaded.notes.clear();
    loaded.more_frames = false;
    CheckHeader(file_header, name, max_pixels);
    ReadParts(in, file_header, name, max_pixels, choice, loaded);
    // Whether a frame follows, asked once this one is read, so no seek back;
    // an OpenEXR file's parts were all read as layers of this one.
    if (!PartsAreLayers(in)) {
        loaded.more_frames = in.seek_subimage(in.current_subimage() + 1, 0);
        (void)in.geterror();  // a failed look for a next frame is no error of the read
    }
    in.close();
}

void CheckColourChoice(const std::string& path, const ColourChoice& choice,
                       std::uint64_t max_pixels) {
    // A pipe is never opened here: that would take what its frame reads.
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return;
    const QuietStderr quiet;
    OpenedImage opened;
    try {
        opened = OpenImage(path, max_pixels);
    } catch (const InputError&) {
        return;  // the frame's own read says what is wrong with the file
    }
    const PartPlan plan = PlanParts(*opened.in, opened.header, path, choice);
    for (std::size_t p = 0; p < plan.headers.size(); ++p) {
        const OIIO::ImageSpec& part = plan.headers[p];
        if (plan.rendered[p])
            ChooseColour(part.channelnames, part.alpha_channel, choice.channels, path);
    }
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

void ShareImageLibraryThreads(int threads, int in_flight) {
    OIIO::attribute("threads", threads);
    OIIO::attribute("exr_threads", in_flight > 1 ? -1 : threads);
}

}  // namespace render
