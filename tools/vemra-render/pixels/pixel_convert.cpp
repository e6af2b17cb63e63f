#include "tools/vemra-render/pixels/pixel_convert.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <type_traits>

#include "host/effect_api.h"

namespace render {

namespace {

// The value domains samples live in: their storage type and full scale.
struct Uint8Domain {
    using Type = std::uint8_t;
    static constexpr auto kFull = std::uint32_t(FullScale(SampleType::kUint8));
};
struct FileUint16Domain {
    using Type = std::uint16_t;
    static constexpr auto kFull = std::uint32_t(FullScale(SampleType::kUint16));
};
struct HostUint16Domain {
    using Type = std::uint16_t;
    static constexpr std::uint32_t kFull = 32768;
};
struct FloatDomain {
    using Type = float;
};

/// Full scale of a domain in its own type: an opaque alpha.
template <typename Domain>
constexpr typename Domain::Type Opaque() {
    if constexpr (std::is_same_v<typename Domain::Type, float>) {
        return 1.0f;
    } else {
        return typename Domain::Type(Domain::kFull);
    }
}

/// Converts one sample from domain From to domain To.
template <typename From, typename To>
typename To::Type ConvertSample(typename From::Type value, std::size_t& clipped) {
    using In = typename From::Type;
    using Out = typename To::Type;
    if constexpr (std::is_same_v<In, float> && std::is_same_v<Out, float>) {
        return value;
    } else if constexpr (std::is_same_v<Out, float>) {
        return float(value) / float(From::kFull);
    } else if constexpr (std::is_same_v<In, float>) {
        if (!(value >= 0.0f && value <= 1.0f)) {  // NaN included
            ++clipped;
            return Out(value > 1.0f ? To::kFull : 0);
        }
        return Out(std::nearbyint(double(value) * double(To::kFull)));
    } else if constexpr (From::kFull == To::kFull) {
        return value;
    } else {
        // Rounded to nearest, halves up: (2 v B + A) / 2 A. Values above the
        // source's full scale (a host 16-bit value up to 65535) end at full.
        std::uint64_t v = value;
        if (v > From::kFull) {
            ++clipped;
            v = From::kFull;
        }
        return Out((2 * v * To::kFull + From::kFull) / (2 * std::uint64_t(From::kFull)));
    }
}

/// One side of a conversion: where row y starts, and each channel's byte
/// offset within a pixel.
struct Side {
    std::array<std::ptrdiff_t, 4> offset;
    std::ptrdiff_t pixel_step;
};

/// Converts a width x height block pixel by pixel. Red, green and blue are on
/// both sides; alpha is read when kInAlpha (else opaque) and written when
/// kOutAlpha. `src_row(y)` and `dst_row(y)` give the first byte of row y.
template <typename From, typename To, bool kInAlpha, bool kOutAlpha, typename SrcRow,
          typename DstRow>
std::size_t ConvertBlock(int width, int height, const Side& in, SrcRow src_row, const Side& out,
                         DstRow dst_row) {
    using In = typename From::Type;
    using Out = typename To::Type;
    std::size_t clipped = 0;
    const auto load = [](const std::byte* at) {
        In value;
        std::memcpy(&value, at, sizeof value);
        return value;
    };
    const auto store = [&clipped](std::byte* at, In value) {
        const Out converted = ConvertSample<From, To>(value, clipped);
        std::memcpy(at, &converted, sizeof converted);
    };
    const std::ptrdiff_t ir = in.offset[kRed], ig = in.offset[kGreen], ib = in.offset[kBlue],
                         ia = in.offset[kAlpha];
    const std::ptrdiff_t orr = out.offset[kRed], og = out.offset[kGreen], ob = out.offset[kBlue],
                         oa = out.offset[kAlpha];
    for (int y = 0; y < height; ++y) {
        const std::byte* s = src_row(y);
        std::byte* d = dst_row(y);
        for (int x = 0; x < width; ++x, s += in.pixel_step, d += out.pixel_step) {
            // The whole input pixel is read before anything is written.
            const In r = load(s + ir), g = load(s + ig), b = load(s + ib);
            const In a = kInAlpha ? load(s + ia) : Opaque<From>();
            store(d + orr, r);
            store(d + og, g);
            store(d + ob, b);
            if constexpr (kOutAlpha) store(d + oa, a);
        }
    }
    return clipped;
}

/// Calls `f` with a value of the domain samples of `type` use.
template <typename F>
void WithSampleDomain(SampleType type, F&& f) {
    switch (type) {
        case SampleType::kUint8:
            return f(Uint8Domain{});
        case SampleType::kUint16:
            return f(FileUint16Domain{});
        case SampleType::kFloat:
            return f(FloatDomain{});
    }
}

/// Where the channels sit in a world layout's pixel record, as the host declares it.
template <typename Pixel>
Side WorldSide() {
    return {{std::ptrdiff_t(offsetof(Pixel, red)), std::ptrdiff_t(offsetof(Pixel, green)),
             std::ptrdiff_t(offsetof(Pixel, blue)), std::ptrdiff_t(offsetof(Pixel, alpha))},
            std::ptrdiff_t(sizeof(Pixel))};
}

/// Calls `f` with the domain of `layout` and where its channels sit.
template <typename F>
void WithWorldDomain(sim::Layout layout, F&& f) {
    switch (layout) {
        case sim::Layout::kArgb8:
            return f(Uint8Domain{}, WorldSide<PF_Pixel8>());
        case sim::Layout::kArgb16:
            return f(HostUint16Domain{}, WorldSide<PF_Pixel16>());
        case sim::Layout::kBgra8:
            return f(Uint8Domain{}, WorldSide<PF_Pixel_BGRA_8u>());
        case sim::Layout::kBgraFloat:
            return f(FloatDomain{}, WorldSide<PF_Pixel_BGRA_32f>());
    }
}

/// Applies `f` to every pixel as one 32-bit word, row by row.
template <typename SrcRow, typename DstRow, typename F>
void MapWords(int width, int height, SrcRow src_row, DstRow dst_row, F f) {
    for (int y = 0; y < height; ++y) {
        const std::byte* s = src_row(y);
        std::byte* d = dst_row(y);
        for (int x = 0; x < width; ++x) {
            std::uint32_t word;
            std::memcpy(&word, s + 4 * std::ptrdiff_t(x), sizeof word);
            word = f(word);
            std::memcpy(d + 4 * std::ptrdiff_t(x), &word, sizeof word);
        }
    }
}

/// Four bytes a pixel on both sides, every channel present, no change of
/// scale: only the order of the bytes changes. The orders met in practice
/// (RGBA or BGRA files and frames against ARGB or BGRA worlds) are a rotation,
/// a reversal or nothing, done a word at a time; true when it was one of them.
template <typename SrcRow, typename DstRow>
bool ReorderBytes(int width, int height, const Side& in, SrcRow src_row, const Side& out,
                  DstRow dst_row) {
    if (in.pixel_step != 4 || out.pixel_step != 4) return false;
    // moved[i]: the input byte that lands in output byte i.
    std::array<std::ptrdiff_t, 4> moved{-1, -1, -1, -1};
    for (std::size_t c = 0; c < 4; ++c) {
        if (in.offset[c] < 0 || in.offset[c] > 3 || out.offset[c] < 0 || out.offset[c] > 3) {
            return false;
        }
        moved[std::size_t(out.offset[c])] = in.offset[c];
    }
    using Moved = std::array<std::ptrdiff_t, 4>;
    if (moved == Moved{0, 1, 2, 3}) {
        MapWords(width, height, src_row, dst_row, [](std::uint32_t w) { return w; });
    } else if (moved == Moved{3, 0, 1, 2}) {
        MapWords(width, height, src_row, dst_row,
                 [](std::uint32_t w) { return (w << 8) | (w >> 24); });
    } else if (moved == Moved{1, 2, 3, 0}) {
        MapWords(width, height, src_row, dst_row,
                 [](std::uint32_t w) { return (w >> 8) | (w << 24); });
    } else if (moved == Moved{3, 2, 1, 0}) {
        MapWords(width, height, src_row, dst_row, [](std::uint32_t w) {
            return (w >> 24) | ((w >> 8) & 0xff00u) | ((w << 8) & 0xff0000u) | (w << 24);
        });
    } else {
        return false;
    }
    return true;
}

/// Picks the alpha variant of ConvertBlock for the two sides.
template <typename From, typename To, typename SrcRow, typename DstRow>
std::size_t Convert(int width, int height, bool in_alpha, const Side& in, SrcRow src_row,
                    bool out_alpha, const Side& out, DstRow dst_row) {
    if constexpr (std::is_same_v<From, Uint8Domain> && std::is_same_v<To, Uint8Domain>) {
        if (in_alpha && out_alpha && ReorderBytes(width, height, in, src_row, out, dst_row)) {
            return 0;
        }
    }
    if (in_alpha && out_alpha)
        return ConvertBlock<From, To, true, true>(width, height, in, src_row, out, dst_row);
    if (in_alpha)
        return ConvertBlock<From, To, true, false>(width, height, in, src_row, out, dst_row);
    if (out_alpha)
        return ConvertBlock<From, To, false, true>(width, height, in, src_row, out, dst_row);
    return ConvertBlock<From, To, false, false>(width, height, in, src_row, out, dst_row);
}

void CheckShapes(const SampleLayout& layout, int width, int height, const sim::World& world) {
    if (width != world.width() || height != world.height()) {
        throw std::invalid_argument("samples and world differ in size");
    }
    if (!layout.has(kRed) || !layout.has(kGreen) || !layout.has(kBlue)) {
        throw std::invalid_argument("samples without red, green or blue");
    }
}

}  // namespace

std::uint16_t FileToHost16(std::uint16_t file_value) {
    std::size_t ignored = 0;
    return ConvertSample<FileUint16Domain, HostUint16Domain>(file_value, ignored);
}

std::uint16_t Host16ToFile(std::uint16_t host_value) {
    std::size_t ignored = 0;
    return ConvertSample<HostUint16Domain, FileUint16Domain>(host_value, ignored);
}

ConversionReport SamplesToWorld(const ConstSamples& samples, sim::World& world) {
    CheckShapes(samples.layout, samples.width, samples.height, world);
    const Side in{samples.layout.offset, samples.layout.pixel_step};
    const auto sample_row = [&samples](int y) {
        return samples.data + std::ptrdiff_t(y) * samples.layout.row_step;
    };
    const auto world_row = [&world](int y) {
        return static_cast<std::byte*>(world.PixelAddress(0, y));
    };
    ConversionReport report;
    WithSampleDomain(samples.layout.type, [&](auto from) {
        WithWorldDomain(world.layout(), [&](auto to, const Side& out) {
            report.clipped = Convert<decltype(from), decltype(to)>(
                samples.width, samples.height, samples.layout.has(kAlpha), in, sample_row, true,
                out, world_row);
        });
    });
    return report;
}

void WorldToSamples(const sim::World& world, const Samples& samples) {
    CheckShapes(samples.layout, samples.width, samples.height, world);
    const Side out{samples.layout.offset, samples.layout.pixel_step};
    const auto world_row = [&world](int y) {
        return static_cast<const std::byte*>(world.PixelAddress(0, y));
    };
    const auto sample_row = [&samples](int y) {
        return samples.data + std::ptrdiff_t(y) * samples.layout.row_step;
    };
    WithWorldDomain(world.layout(), [&](auto from, const Side& in) {
        WithSampleDomain(samples.layout.type, [&](auto to) {
            Convert<decltype(from), decltype(to)>(world.width(), world.height(), true, in,
                                                  world_row, samples.layout.has(kAlpha), out,
                                                  sample_row);
        });
    });
}

}  // namespace render
