// Every pixel layout the effect handles, declared once: which memory position
// holds which channel, the channel type and the value that means full scale.
//
// The working pixel is PixelArgbFloat; the four host layouts are the ones the
// host hands over (8/16-bit ARGB, 8-bit and 32-bit float BGRA). The Channels
// descriptors below are the data that the per-layout adapter code is generated
// from: an adapter never names a channel's position itself.
#pragma once

#include <cstddef>
#include <cstdint>

/// Working pixel of the colour kernel: full scale is 1.0; values outside 0..1,
/// infinities and NaN are legal and are carried through.
struct PixelArgbFloat {
    float alpha, red, green, blue;
};

/// 8-bit alpha, red, green, blue; full scale 255.
struct PixelArgb8 {
    std::uint8_t alpha, red, green, blue;
};

/// 16-bit alpha, red, green, blue; full scale 32768. Stored values up to 65535
/// are read as they are and saturate at 32768 on the way back.
struct PixelArgb16 {
    std::uint16_t alpha, red, green, blue;
};

/// 8-bit blue, green, red, alpha; full scale 255.
struct PixelBgra8 {
    std::uint8_t blue, green, red, alpha;
};

/// 32-bit float blue, green, red, alpha; full scale 1.0, any float is legal.
struct PixelBgraFloat {
    float blue, green, red, alpha;
};

/// Where each channel sits in a pixel, counted in channels from its start.
struct ChannelOrder {
    int alpha, red, green, blue;
};

/// Describes a layout as data: the channel type, its full-scale value, the
/// position of each channel and the member that holds it.
template <typename Pixel>
struct Channels;

template <>
struct Channels<PixelArgb8> {
    using Type = std::uint8_t;
    static constexpr float kFullScale = 255.0f;
    static constexpr ChannelOrder kOrder{0, 1, 2, 3};
    static constexpr Type PixelArgb8::*alpha = &PixelArgb8::alpha;
    static constexpr Type PixelArgb8::*red = &PixelArgb8::red;
    static constexpr Type PixelArgb8::*green = &PixelArgb8::green;
    static constexpr Type PixelArgb8::*blue = &PixelArgb8::blue;
};

template <>
struct Channels<PixelArgb16> {
    using Type = std::uint16_t;
    static constexpr float kFullScale = 32768.0f;
    static constexpr ChannelOrder kOrder{0, 1, 2, 3};
    static constexpr Type PixelArgb16::*alpha = &PixelArgb16::alpha;
    static constexpr Type PixelArgb16::*red = &PixelArgb16::red;
    static constexpr Type PixelArgb16::*green = &PixelArgb16::green;
    static constexpr Type PixelArgb16::*blue = &PixelArgb16::blue;
};

template <>
struct Channels<PixelBgra8> {
    using Type = std::uint8_t;
    static constexpr float kFullScale = 255.0f;
    static constexpr ChannelOrder kOrder{3, 2, 1, 0};
    static constexpr Type PixelBgra8::*alpha = &PixelBgra8::alpha;
    static constexpr Type PixelBgra8::*red = &PixelBgra8::red;
    static constexpr Type PixelBgra8::*green = &PixelBgra8::green;
    static constexpr Type PixelBgra8::*blue = &PixelBgra8::blue;
};

template <>
struct Channels<PixelBgraFloat> {
    using Type = float;
    static constexpr float kFullScale = 1.0f;
    static constexpr ChannelOrder kOrder{3, 2, 1, 0};
    static constexpr Type PixelBgraFloat::*alpha = &PixelBgraFloat::alpha;
    static constexpr Type PixelBgraFloat::*red = &PixelBgraFloat::red;
    static constexpr Type PixelBgraFloat::*green = &PixelBgraFloat::green;
    static constexpr Type PixelBgraFloat::*blue = &PixelBgraFloat::blue;
};

static_assert(sizeof(PixelArgbFloat) == 16 && sizeof(PixelBgraFloat) == 16);
static_assert(sizeof(PixelArgb8) == 4 && sizeof(PixelBgra8) == 4 && sizeof(PixelArgb16) == 8);

/// The positions in each descriptor agree with the members they name.
template <typename Pixel>
constexpr bool OrderMatchesMembers() {
    using C = Channels<Pixel>;
    constexpr auto size = sizeof(typename C::Type);
    return offsetof(Pixel, alpha) == C::kOrder.alpha * size &&
           offsetof(Pixel, red) == C::kOrder.red * size &&
           offsetof(Pixel, green) == C::kOrder.green * size &&
           offsetof(Pixel, blue) == C::kOrder.blue * size;
}
static_assert(OrderMatchesMembers<PixelArgb8>() && OrderMatchesMembers<PixelArgb16>() &&
              OrderMatchesMembers<PixelBgra8>() && OrderMatchesMembers<PixelBgraFloat>());
