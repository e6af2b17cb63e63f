// Fuzzes what vemra-render does with an image once a decoder has described
// and delivered it: the header checks (tile sizes among them) and channel
// mapping of ReadOpenedImage,
// the choice of host and layout, the conversions into a world and back, and
// the compare sheet. A reader of our own stands in for the decoder, with
// arbitrary dimensions, depth, channel counts and names, alpha channel,
// sample types (per channel too), data windows and sample bits, and may fail
// on any row. The decoders themselves are not fuzzed here.
//
// Invariants: no sanitizer report; ReadOpenedImage either refuses with an
// InputError or returns an image of the header's size, read in tiles no
// larger than four times the image or the tile limit, in the type that holds
// the file's samples, every channel kept, with an opaque alpha when the file has none (and grey
// files, or files with R, G, B and A named, carry the file's own samples);
// every conversion into a layout the host renders keeps the size and comes
// back as the documented rules say (8-bit files and float-to-float bit for
// bit, 16-bit files within one code, samples outside 0..1 counted as
// clipped); the compare sheet keeps both halves' pixels exactly.
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_input.h"
#include "tools/vemra-render/io/image_files_oiio.h"
#include "tools/vemra-render/pixels/compare_sheet.h"
#include "tools/vemra-render/pixels/pixel_convert.h"
#include "tools/vemra-render/session/layout_choice.h"

namespace {

using vemra::fuzz::FuzzInput;
using vemra::fuzz::Require;

/// SplitMix64, for the sample bits of each row.
std::uint64_t Mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

/// A decoder stand-in: the header it was given, and rows of bits drawn from
/// a seed, each row the same whenever it is read. Fails on `fail_row`.
class FuzzReader final : public OIIO::ImageInput {
  public:
    FuzzReader(const OIIO::ImageSpec& header, std::uint64_t seed, int fail_row)
        : seed_(seed), fail_row_(fail_row) {
        m_spec = header;
    }
    const char* format_name() const override { return "fuzz"; }
    bool open(const std::string&, OIIO::ImageSpec& header) override {
        header = m_spec;
        return true;
    }
    bool close() override { return true; }

    bool read_native_scanline(int subimage, int miplevel, int y, int z, void* data) override {
        if (subimage != 0 || miplevel != 0 || y < m_spec.y || y - m_spec.y >= m_spec.height ||
            z != m_spec.z) {
            errorfmt("row {} of a {}-row image starting at {} asked for", y, m_spec.height,
                     m_spec.y);
            return false;
        }
        if (y - m_spec.y == fail_row_) {
            errorfmt("row {} is corrupt", y);
            return false;
        }
        RowBits(y - m_spec.y, static_cast<unsigned char*>(data));
        return true;
    }

    /// A tile: the same bits each row holds, where the tile covers the
    /// image; zeros beyond it.
    bool read_native_tile(int subimage, int miplevel, int x, int y, int z, void* data) override {
        if (subimage != 0 || miplevel != 0 || m_spec.tile_width <= 0) return false;
        const std::size_t pixel = m_spec.pixel_bytes(true);
        const auto tile_width = std::size_t(m_spec.tile_width);
        std::vector<unsigned char> row(m_spec.scanline_bytes(true));
        auto* out = static_cast<unsigned char*>(data);
        std::memset(out, 0, m_spec.tile_bytes(true));
        for (int ty = 0; ty < std::max(1, m_spec.tile_height); ++ty) {
            const int image_y = y + ty - m_spec.y;
            if (image_y < 0 || image_y >= m_spec.height || z != m_spec.z) continue;
            if (image_y == fail_row_) return false;
            RowBits(image_y, row.data());
            const int first = x - m_spec.x;
            const int count = std::min(m_spec.tile_width, m_spec.width - first);
            if (first < 0 || count <= 0) continue;
            std::memcpy(out + std::size_t(ty) * tile_width * pixel,
                        row.data() + std::size_t(first) * pixel, std::size_t(count) * pixel);
        }
        return true;
    }

    /// Converts row by row as it reads, as many decoders do. (OpenImageIO's
    /// generic conversion reads into a 64 MB buffer, whose allocation costs
    /// more under AddressSanitizer than all the rest of a run.)
    bool read_scanlines(int subimage, int miplevel, int ybegin, int yend, int z, int chbegin,
                        int chend, OIIO::TypeDesc format, void* data, OIIO::stride_t xstride,
                        OIIO::stride_t ystride) override {
        chend = std::min(chend, m_spec.nchannels);
        if (chbegin < 0 || chbegin >= chend) return false;
        if (format == OIIO::TypeDesc::UNKNOWN) format = m_spec.format;
        OIIO::stride_t zstride = OIIO::AutoStride;
        OIIO::ImageSpec::auto_stride(xstride, ystride, zstride, format, chend - chbegin,
                                     m_spec.width, m_spec.height);
        std::vector<std::size_t> offsets;  // of each channel in a native pixel
        std::size_t offset = 0;
        for (int c = 0; c < m_spec.nchannels; ++c) {
            offsets.push_back(offset);
            offset += m_spec.channelformat(c).size();
        }
        std::vector<unsigned char> row(m_spec.scanline_bytes(true));
        for (int y = ybegin; y < yend; ++y) {
            if (!read_native_scanline(subimage, miplevel, y, z, row.data())) return false;
            auto* out = static_cast<unsigned char*>(data) + (y - ybegin) * ystride;
            for (int x = 0; x < m_spec.width; ++x) {
                for (int c = chbegin; c < chend; ++c) {
                    OIIO::convert_pixel_values(
                        m_spec.channelformat(c), row.data() + std::size_t(x) * offset + offsets[c],
                        format, out + x * xstride + (c - chbegin) * std::int64_t(format.size()));
                }
            }
        }
        return true;
    }

    /// The native bits of row `row` (0 the first), all channels interleaved.
    void RowBits(int row, unsigned char* data) const {
        const std::size_t bytes = m_spec.scanline_bytes(true);
        std::uint64_t state = Mix(seed_ ^ (std::uint64_t(row) << 32));
        for (std::size_t i = 0; i < bytes; ++i) {
            if (i % 8 == 0) state = Mix(state);
            data[i] = static_cast<unsigned char>(state >> (8 * (i % 8)));
        }
    }

  private:
    std::uint64_t seed_;
    int fail_row_;
};

const OIIO::TypeDesc kTypes[] = {
    OIIO::TypeDesc::UINT8, OIIO::TypeDesc::INT8,   OIIO::TypeDesc::UINT16,
    OIIO::TypeDesc::INT16, OIIO::TypeDesc::UINT32, OIIO::TypeDesc::INT32,
    OIIO::TypeDesc::HALF,  OIIO::TypeDesc::FLOAT,  OIIO::TypeDesc::DOUBLE};
const char* const kNames[] = {"R", "G", "B", "A", "r", "a", "Y", "Z", "", "AR", "B"};

OIIO::TypeDesc AnyType(FuzzInput& in) {
    return kTypes[in.Range(0, std::int32_t(std::size(kTypes)) - 1)];
}

/// A size: usually small, sometimes zero, negative or too large.
int Size(FuzzInput& in) {
    switch (in.Range(0, 15)) {
        case 0:
            return in.Range(-3, 0);
        case 1:
            return std::numeric_limits<int>::max();
        case 2:
            return in.Range(1 << 20, 1 << 28);
        default:
            return in.Range(1, 12);
    }
}

OIIO::ImageSpec MakeHeader(FuzzInput& in) {
    OIIO::ImageSpec header;
    header.width = Size(in);
    header.height = Size(in);
    header.depth = in.OneOf({1, 1, 1, 1, 0, 2});
    header.x = in.Range(-1000, 1000);
    header.y = in.Range(-1000, 1000);
    header.z = in.Range(-2, 2);
    header.full_x = in.Next<int>();
    header.full_y = in.Next<int>();
    header.full_width = in.Next<int>();
    header.full_height = in.Next<int>();
    header.nchannels = in.Range(0, 15) == 0 ? in.OneOf({-1, 0, 70}) : in.Range(1, 6);
    header.format = AnyType(in);
    const int channels = std::max(header.nchannels, 0);
    if (in.Flag()) {
        for (int c = 0; c < channels; ++c) header.channelformats.push_back(AnyType(in));
    }
    const bool named = in.Flag();
    for (int c = 0; c < channels; ++c) {
        header.channelnames.emplace_back(
            named   ? kNames[in.Range(0, std::int32_t(std::size(kNames)) - 1)]
            : c < 4 ? std::string(1, "RGBA"[c])
                    : "extra" + std::to_string(c));
    }
    header.alpha_channel = in.Range(-2, channels + 1);
    return header;
}

/// Full scale of an integer sample type, as the image holds it.
float ExpectedOpaque(render::SampleType type) {
    return type == render::SampleType::kUint8    ? 255.0f
           : type == render::SampleType::kUint16 ? 65535.0f
                                                 : 1.0f;
}

/// Index of the one channel called `letter` in either case, or -1 when there
/// is none or more than one.
int OnlyChannel(const OIIO::ImageSpec& header, char letter) {
    int found = -1;
    for (int c = 0; c < header.nchannels; ++c) {
        const std::string& name = header.channelnames[std::size_t(c)];
        if (name.size() == 1 && std::toupper(static_cast<unsigned char>(name[0])) == letter) {
            if (found >= 0) return -1;
            found = c;
        }
    }
    return found;
}

/// Checks the image ReadOpenedImage returned against the header and the bits.
void CheckLoaded(const render::LoadedImage& loaded, const OIIO::ImageSpec& header,
                 const FuzzReader& reader) {
    const render::ConstSamples image = loaded.samples();
    Require(image.width == header.width && image.height == header.height,
            "the image has the header's size");
    Require(image.layout.type == render::SampleTypeOfFile(header.format),
            "the image holds the file's sample type");
    std::ptrdiff_t last_sample = 0;
    for (std::ptrdiff_t offset : image.layout.offset) last_sample = std::max(last_sample, offset);
    Require(
        loaded.buffer.size() >=
            std::size_t(std::ptrdiff_t(image.height - 1) * image.layout.row_step +
                        std::ptrdiff_t(image.width - 1) * image.layout.pixel_step + last_sample) +
                render::SampleBytes(image.layout.type),
        "the buffer holds every pixel the layout describes");
    if (!loaded.has_alpha()) {
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x)
                Require(image.Sample(x, y, render::kAlpha) == ExpectedOpaque(image.layout.type),
                        "an image without alpha carries an opaque one");
    }
    // Every channel besides the colour is kept for the writer, in its own
    // type: the colour buffer holds them all, or the part's own samples do.
    const render::KeptPart& part = loaded.kept->parts.at(0);
    bool others = false;
    for (int c = 0; c < header.nchannels; ++c) others = others || !part.colour.IsColour(c);
    const std::size_t native =
        std::size_t(header.width) * std::size_t(header.height) * header.pixel_bytes(true);
    Require(!others || (part.native.empty() ? loaded.buffer.size() : part.native.size()) == native,
            "every channel is kept");

    // The file's own samples, where the mapping is plain: 8-bit grey, or
    // channels named R, G, B and A, all stored as bytes.
    if (header.format != OIIO::TypeDesc::UINT8 || !header.channelformats.empty()) return;
    int source[4] = {-1, -1, -1, -1};
    if (header.nchannels == 1) {
        source[0] = source[1] = source[2] = 0;
    } else {
        const int alpha = OnlyChannel(header, 'A');
        const bool alpha_given =
            header.alpha_channel >= 0 && header.alpha_channel < header.nchannels;
        if (alpha_given && header.alpha_channel != alpha) return;
        const int named[4] = {OnlyChannel(header, 'R'), OnlyChannel(header, 'G'),
                              OnlyChannel(header, 'B'), alpha};
        if (std::count(named, named + 4, -1) != 0) return;
        std::copy(named, named + 4, source);
    }
    std::vector<unsigned char> row(header.scanline_bytes(true));
    for (int y = 0; y < image.height; ++y) {
        reader.RowBits(y, row.data());
        for (int x = 0; x < image.width; ++x) {
            for (int c = 0; c < 4; ++c) {
                if (source[c] < 0) continue;
                const unsigned char stored = row[std::size_t(x * header.nchannels + source[c])];
                Require(image.Sample(x, y, render::Channel(c)) == float(stored),
                        "grey and named channels carry the file's samples");
            }
        }
    }
}

/// Samples of `image` outside 0..1 (NaN included), which an integer layout clips.
std::size_t OutsideUnit(const render::Image& image) {
    std::size_t count = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            for (int c = 0; c < 4; ++c) {
                const float v = image.Sample(x, y, c);
                if (!(v >= 0.0f && v <= 1.0f)) ++count;
            }
    return count;
}

/// Into every layout a host renders and back, as the conversion rules say.
void CheckConversions(const render::LoadedImage& loaded) {
    const render::Image image = render::ToImage(loaded.samples());
    const render::HostCapabilities caps{true,
                                        {PrPixelFormat_BGRA_4444_32f, PrPixelFormat_BGRA_4444_8u}};
    const std::optional<render::HostKind> hosts[] = {std::nullopt, render::HostKind::kAe,
                                                     render::HostKind::kPrmr};
    const std::optional<render::Depth> depths[] = {std::nullopt, render::Depth::k8,
                                                   render::Depth::k16, render::Depth::kFloat};
    for (const auto& host : hosts) {
        for (const auto& depth : depths) {
            render::LayoutChoice choice{};
            try {
                choice = render::ChooseLayout(image.type, host, depth, caps);
            } catch (const render::LayoutError&) {
                continue;
            }
            sim::World world(choice.layout, image.width, image.height);
            const render::ConversionReport report = render::SamplesToWorld(loaded.samples(), world);
            render::Image back =
                render::Image::Blank(image.width, image.height, image.type, image.has_alpha);
            render::WorldToSamples(world, render::SamplesOf(back));
            Require(back.width == image.width && back.height == image.height &&
                        back.type == image.type && back.has_alpha == image.has_alpha,
                    "an image back from a world has the same size and type");

            const bool float_world = choice.layout == sim::Layout::kBgraFloat;
            const bool sixteen = choice.layout == sim::Layout::kArgb16;
            using render::SampleType;
            if (image.type == SampleType::kFloat) {
                Require(report.clipped == (float_world ? 0 : OutsideUnit(image)),
                        "samples outside 0..1 are counted as clipped");
                if (float_world) Require(back.pixels == image.pixels, "float to float is exact");
                continue;
            }
            Require(report.clipped == 0, "nothing clipped from an integer file");
            if (image.type == SampleType::kUint8 || float_world) {
                Require(back.pixels == image.pixels, "8-bit files come back bit for bit");
            } else if (sixteen) {
                for (int y = 0; y < image.height; ++y)
                    for (int x = 0; x < image.width; ++x)
                        for (int c = 0; c < 4; ++c)
                            Require(std::abs(back.Sample(x, y, c) - image.Sample(x, y, c)) <= 1.0f,
                                    "16-bit files come back within one code");
            }
        }
    }
}

void CheckCompareSheet(const render::Image& before) {
    render::Image after = before;
    for (std::byte& b : after.pixels) b = ~b;
    const render::Image sheet = render::MakeCompareSheet(before, after);
    const int strip = sheet.height - before.height;
    const int gap = sheet.width - 2 * before.width;
    Require(strip >= 0 && gap >= 0, "the sheet holds both images");
    for (int y = 0; y < before.height; ++y) {
        Require(std::memcmp(sheet.PixelAddress(0, strip + y), before.PixelAddress(0, y),
                            before.RowBytes()) == 0 &&
                    std::memcmp(sheet.PixelAddress(before.width + gap, strip + y),
                                after.PixelAddress(0, y), after.RowBytes()) == 0,
                "the compare sheet keeps both halves' pixels");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    OIIO::attribute("threads", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    OIIO::ImageSpec header = MakeHeader(in);
    const auto seed = in.Next<std::uint64_t>();
    const int fail_row = in.Range(0, 7) == 0 ? in.Range(0, 12) : -1;
    const std::uint64_t pixels = header.width > 0 && header.height > 0
                                     ? std::uint64_t(header.width) * std::uint64_t(header.height)
                                     : 0;
    const std::uint64_t fits = std::min<std::uint64_t>(pixels, 4096);
    const std::uint64_t max_pixels =
        in.OneOf<std::uint64_t>({4096, 0, fits, fits == 0 ? 0 : fits - 1});
    // Tiles, read last so that the seeds of untiled headers stay as they were:
    // usually none, else of any size, some of them far beyond the image.
    if (in.Range(0, 3) == 3) {
        header.tile_width = in.OneOf({16, 64, 1 << 15, 1 << 16, -16});
        header.tile_height = in.OneOf({16, 64, 1 << 15, 1 << 16, 0});
        header.tile_depth = in.OneOf({1, 1, 0, 2});
    }
    const std::uint64_t tile =
        header.tile_width > 0 && header.tile_height > 0 && header.tile_depth > 0
            ? std::uint64_t(header.tile_width) * std::uint64_t(header.tile_height) *
                  std::uint64_t(header.tile_depth)
            : 0;

    FuzzReader reader(header, seed, fail_row);
    render::LoadedImage loaded;
    try {
        loaded = render::ReadOpenedImage(reader, header, "fuzz.img", max_pixels);
    } catch (const render::InputError& error) {
        Require(std::strncmp(error.what(), "fuzz.img: ", 10) == 0, "a refusal names the image");
        return 0;
    }
    Require(pixels <= max_pixels && pixels != 0, "only images within the limit are read");
    Require(header.tile_width == 0 || tile != 0, "tiles of no size are refused");
    Require(tile <= std::max(4 * pixels, render::kTilePixelsAlways),
            "only tiles within four times the image or the tile limit are read");
    Require(fail_row < 0 || fail_row >= header.height, "a failing read is never a success");
    CheckLoaded(loaded, header, reader);
    CheckConversions(loaded);
    CheckCompareSheet(render::ToImage(loaded.samples()));
    return 0;
}
