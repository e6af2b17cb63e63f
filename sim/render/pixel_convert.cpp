#include "sim/render/pixel_convert.h"

#include <cmath>
#include <cstring>
#include <type_traits>

#include "color/pixel_layouts.h"

namespace render {

namespace {

// The value domains samples live in: their storage type and full scale.
struct Uint8Domain {
    using Type = std::uint8_t;
    static constexpr std::uint32_t kFull = 255;
};
struct FileUint16Domain {
    using Type = std::uint16_t;
    static constexpr std::uint32_t kFull = 65535;
};
struct HostUint16Domain {
    using Type = std::uint16_t;
    static constexpr std::uint32_t kFull = 32768;
};
struct FloatDomain {
    using Type = float;
};

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

/// Positions of red, green, blue and alpha in an image pixel, as a tag
/// type like Channels<Pixel>, whose kOrder the conversions read.
struct ImageChannels {
    static constexpr ChannelOrder kOrder{3, 0, 1, 2};
};

/// Converts a width x height block pixel by pixel between two interleaved
/// four-channel layouts, reordering channels as the orders say. `src_row`
/// and `dst_row` give the first byte of row y. The orders are compile-time
/// constants, so the loop compiles to straight moves for equal scales.
template <typename From, typename To, typename SrcOrder, typename DstOrder, typename SrcRow,
          typename DstRow>
std::size_t ConvertBlock(int width, int height, SrcRow src_row, DstRow dst_row) {
    using In = typename From::Type;
    using Out = typename To::Type;
    constexpr ChannelOrder s = SrcOrder::kOrder;
    constexpr ChannelOrder d = DstOrder::kOrder;
    std::size_t clipped = 0;
    for (int y = 0; y < height; ++y) {
        const std::byte* in = src_row(y);
        std::byte* out = dst_row(y);
        for (int x = 0; x < width; ++x) {
            In in_pixel[4];
            std::memcpy(in_pixel, in + std::size_t(x) * sizeof in_pixel, sizeof in_pixel);
            Out out_pixel[4];
            out_pixel[d.red] = ConvertSample<From, To>(in_pixel[s.red], clipped);
            out_pixel[d.green] = ConvertSample<From, To>(in_pixel[s.green], clipped);
            out_pixel[d.blue] = ConvertSample<From, To>(in_pixel[s.blue], clipped);
            out_pixel[d.alpha] = ConvertSample<From, To>(in_pixel[s.alpha], clipped);
            std::memcpy(out + std::size_t(x) * sizeof out_pixel, out_pixel, sizeof out_pixel);
        }
    }
    return clipped;
}

/// Calls `f` with a value of the domain an image of `type` uses.
template <typename F>
void WithImageDomain(SampleType type, F&& f) {
    switch (type) {
        case SampleType::kUint8:
            return f(Uint8Domain{});
        case SampleType::kUint16:
            return f(FileUint16Domain{});
        case SampleType::kFloat:
            return f(FloatDomain{});
    }
}

/// Calls `f` with the domain of `layout` and its channel descriptor.
template <typename F>
void WithWorldDomain(sim::Layout layout, F&& f) {
    switch (layout) {
        case sim::Layout::kArgb8:
            return f(Uint8Domain{}, Channels<PixelArgb8>{});
        case sim::Layout::kArgb16:
            return f(HostUint16Domain{}, Channels<PixelArgb16>{});
        case sim::Layout::kBgra8:
            return f(Uint8Domain{}, Channels<PixelBgra8>{});
        case sim::Layout::kBgraFloat:
            return f(FloatDomain{}, Channels<PixelBgraFloat>{});
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

sim::World ImageToWorld(const Image& image, sim::Layout layout, ConversionReport* report) {
    sim::World world(layout, image.width, image.height);
    std::size_t clipped = 0;
    const auto image_row = [&image](int y) { return image.PixelAddress(0, y); };
    const auto world_row = [&world](int y) {
        return static_cast<std::byte*>(world.PixelAddress(0, y));
    };
    WithImageDomain(image.type, [&](auto from) {
        WithWorldDomain(layout, [&](auto to, auto channels) {
            clipped = ConvertBlock<decltype(from), decltype(to), ImageChannels, decltype(channels)>(
                image.width, image.height, image_row, world_row);
        });
    });
    if (report != nullptr) report->clipped += clipped;
    return world;
}

Image WorldToImage(const sim::World& world, SampleType type, bool has_alpha) {
    Image image = Image::Blank(world.width(), world.height(), type, has_alpha);
    const auto world_row = [&world](int y) {
        return static_cast<const std::byte*>(world.PixelAddress(0, y));
    };
    const auto image_row = [&image](int y) { return image.PixelAddress(0, y); };
    WithWorldDomain(world.layout(), [&](auto from, auto channels) {
        WithImageDomain(type, [&](auto to) {
            ConvertBlock<decltype(from), decltype(to), decltype(channels), ImageChannels>(
                world.width(), world.height(), world_row, image_row);
        });
    });
    return image;
}

}  // namespace render
