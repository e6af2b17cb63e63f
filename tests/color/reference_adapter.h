// The integer adapters written out plainly, one channel at a time, as the
// reference the SSE2 adapters must match bit for bit: convert to the working
// pixel, run ApplyTemperature, convert back.
#pragma once

#include <cstdint>

#include "color/kernel.h"
#include "color/pixel_layouts.h"

namespace vemra::test {

/// Integer channel to working value: a single-precision division by full
/// scale, rounded once. For 16-bit (full scale 32768, a power of two) the
/// division is exact and equals the multiplication by 2^-15.
template <typename Pixel>
inline float ToWorking(typename Channels<Pixel>::Type value) {
    return static_cast<float>(value) / Channels<Pixel>::kFullScale;
}

/// Working value back to an integer channel: v = single(value * full scale);
/// v not above 0 (NaN included) gives 0, v at or above full scale gives full
/// scale, anything else is truncated toward zero. Never rounds, never wraps.
template <typename Pixel>
inline typename Channels<Pixel>::Type FromWorking(float value) {
    using Type = typename Channels<Pixel>::Type;
    constexpr float kFull = Channels<Pixel>::kFullScale;
    const float scaled = value * kFull;
    if (!(scaled > 0.0f)) return 0;
    if (scaled >= kFull) return static_cast<Type>(kFull);
    return static_cast<Type>(scaled);
}

/// Converts `in` to the working pixel, applies the kernel and writes the
/// result to `out`. The whole source is read before `out` is written.
template <typename Pixel>
inline std::int32_t ProcessIntegerPixel(const TemperatureSettings& settings, const Pixel& in,
                                        Pixel& out) {
    using C = Channels<Pixel>;
    const PixelArgbFloat working{ToWorking<Pixel>(in.*C::alpha), ToWorking<Pixel>(in.*C::red),
                                 ToWorking<Pixel>(in.*C::green), ToWorking<Pixel>(in.*C::blue)};
    PixelArgbFloat shifted;
    const std::int32_t result = ApplyTemperature(settings, working, shifted);
    Pixel converted{};
    converted.*C::alpha = FromWorking<Pixel>(shifted.alpha);
    converted.*C::red = FromWorking<Pixel>(shifted.red);
    converted.*C::green = FromWorking<Pixel>(shifted.green);
    converted.*C::blue = FromWorking<Pixel>(shifted.blue);
    out = converted;
    return result;
}

}  // namespace vemra::test
