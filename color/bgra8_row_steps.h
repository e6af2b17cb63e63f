// The body of the row functions, compiled once per instruction set: by
// bgra8_row.cpp for baseline x86-64 and by bgra8_row_avx2.cpp with -mavx2.
// Everything here has internal linkage (an unnamed namespace), so the linker
// can never take one file's copy for the other's and run AVX2 code on a
// processor without it.
//
// Each block of kLanes pixels is taken apart into one vector per channel and
// runs the kernel's steps lane by lane, with the kernel's precision for every
// operation: the temperature and magenta products in double, each rounded to
// single at its end; mixing in single; then the adapter's conversion back,
// saturated (NaN gives 0) and truncated. The build's -ffp-contract=off keeps
// every product and sum a separate rounding.
//
// No step is skipped, and none needs to be for 8-bit input, whose working
// values are finite: a temperature or magenta of +-0 makes every factor
// exactly 1, and single(1 * x) is x; with mixing off (mix not below 1, or
// NaN) the share is 1 and the input's 0, and single(0 * input) +
// single(1 * x) is x (a -0 becomes +0, which gives the byte 0 all the same).
// The clamp step changes a byte only where a channel is NaN, which it turns
// into full scale; every other value saturates to the same byte either way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "color/temperature_settings.h"

namespace {

template <int kLanes>
struct RowVectors {
    // GCC's vector types; the typedef form keeps the attribute in a template.
    typedef float Float __attribute__((vector_size(4 * kLanes)));
    typedef double Double __attribute__((vector_size(8 * kLanes)));
    typedef std::int32_t Int __attribute__((vector_size(4 * kLanes)));
    typedef std::uint32_t Word __attribute__((vector_size(4 * kLanes)));
};

/// The per-row constants, formed from the settings by the kernel's operations.
struct RowFactors {
    double red_temperature;   ///< t + 1
    double blue_temperature;  ///< 1 - t
    double shift;             ///< m + 1, for red and blue
    double green;             ///< 1 - single(2m)
    float mix;                ///< mix, or 1 with mixing off
    float keep;               ///< single(1 - mix): the untouched pixel's share
    bool clamp;
};

RowFactors MakeRowFactors(const TemperatureSettings& s) {
    const double t = static_cast<double>(s.temperature);
    const double m = static_cast<double>(s.magenta);
    const float d = 2.0f * s.magenta;  // single precision, as the kernel forms it
    const float mix = s.mix < 1.0f ? s.mix : 1.0f;
    return {t + 1.0, 1.0 - t, m + 1.0, 1.0 - static_cast<double>(d), mix, 1.0f - mix, s.clamp != 0};
}

/// single(factor * widened value), lane by lane.
template <int kLanes>
[[gnu::always_inline]] inline typename RowVectors<kLanes>::Float Scale(
    typename RowVectors<kLanes>::Float value, double factor) {
    using V = RowVectors<kLanes>;
    return __builtin_convertvector(__builtin_convertvector(value, typename V::Double) * factor,
                                   typename V::Float);
}

/// One channel's bytes (the low byte of each lane) through the steps it
/// takes part in and back to bytes. `own` runs the temperature and magenta
/// scalings that apply to this channel.
template <int kLanes, typename Own>
[[gnu::always_inline]] inline typename RowVectors<kLanes>::Word Channel(
    const RowFactors& f, typename RowVectors<kLanes>::Word bytes, Own own) {
    using V = RowVectors<kLanes>;
    using Float = typename V::Float;
    // byte / 255, a true division rounded once: exact input for the steps.
    const Float input =
        __builtin_convertvector(__builtin_convertvector(bytes, typename V::Int), Float) / 255.0f;
    const Float shifted = own(input);
    const Float mixed = f.keep * input + f.mix * shifted;

    const Float full = Float{} + 255.0f;
    Float scaled = mixed * 255.0f;
    // Saturate from above; NaN becomes full scale with the clamp, else stays
    // NaN and becomes 0 below.
    scaled = f.clamp ? (scaled < full ? scaled : full) : (scaled >= full ? full : scaled);
    scaled = scaled > Float{} ? scaled : Float{};
    return __builtin_convertvector(__builtin_convertvector(scaled, typename V::Int),
                                   typename V::Word);
}

template <int kLanes>
[[gnu::always_inline]] inline typename RowVectors<kLanes>::Word ShiftBlock(
    const RowFactors& f, typename RowVectors<kLanes>::Word pixels) {
    using Float = typename RowVectors<kLanes>::Float;
    const auto byte = [pixels](int position) { return (pixels >> (8 * position)) & 0xFFu; };
    const auto blue = Channel<kLanes>(f, byte(0), [&f](Float v) {
        return Scale<kLanes>(Scale<kLanes>(v, f.blue_temperature), f.shift);
    });
    const auto green =
        Channel<kLanes>(f, byte(1), [&f](Float v) { return Scale<kLanes>(v, f.green); });
    const auto red = Channel<kLanes>(f, byte(2), [&f](Float v) {
        return Scale<kLanes>(Scale<kLanes>(v, f.red_temperature), f.shift);
    });
    return (pixels & 0xFF000000u) | (red << 16) | (green << 8) | blue;
}

/// The row in blocks of kLanes pixels; the last, shorter block goes through a
/// block-sized buffer on the stack, so every pixel takes the same path.
template <int kLanes>
void ShiftRow(const TemperatureSettings& settings, const void* in, void* out, std::size_t count) {
    using Word = typename RowVectors<kLanes>::Word;
    const RowFactors f = MakeRowFactors(settings);
    const auto* source = static_cast<const unsigned char*>(in);
    auto* target = static_cast<unsigned char*>(out);
    constexpr std::size_t kBlock = sizeof(Word);
    std::size_t done = 0;
    for (; done + kLanes <= count; done += kLanes) {
        Word pixels;
        std::memcpy(&pixels, source + done * 4, kBlock);
        pixels = ShiftBlock<kLanes>(f, pixels);
        std::memcpy(target + done * 4, &pixels, kBlock);
    }
    if (done < count) {
        const std::size_t bytes = (count - done) * 4;
        Word pixels{};
        std::memcpy(&pixels, source + done * 4, bytes);
        pixels = ShiftBlock<kLanes>(f, pixels);
        std::memcpy(target + done * 4, &pixels, bytes);
    }
}

}  // namespace
