// The four adapters for processors with AVX2. Results are those of the
// baseline adapters bit for bit: every rounding of the kernel's steps happens
// here too, in the same precision and order. What differs is how the work is
// laid out, because an adapter runs once per pixel and is called through a
// pointer, so it pays for every instruction and, above all, for the length of
// the chain of dependent operations from loading a pixel to storing it:
//
// - An 8-bit channel's working value, single(b / 255) widened to double, comes
//   from a constant table instead of a division and two conversions.
// - Blue and red, the two channels both scaling steps touch, travel as one pair
//   of doubles in a 128-bit register; green, which only the magenta step
//   touches, goes alongside. Converting 128 bits between single and double has
//   half the latency of converting 256 bits on the cores measured.
// - The integer adapters run the temperature, magenta and mixing steps without
//   testing the settings (see IntegerFactors for why that changes no result):
//   even a well-predicted test costs more here than it saves for settings that
//   change nothing. Alpha, which the steps never change, is taken from the
//   input and not carried through the arithmetic.
//
// This file is compiled with -mavx2 and nothing in it is called unless the
// processor reports AVX2 (adapter_sets.cpp). It defines nothing inline that the
// baseline files also define, so no AVX2 code can stand in for baseline code
// when the linker merges inline functions.
#include "color/adapters_avx2.h"

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "color/pixel_layouts.h"
#include "color/temperature_settings.h"

namespace vemra::avx2 {
namespace {

static_assert(offsetof(TemperatureSettings, magenta) ==
                  offsetof(TemperatureSettings, temperature) + sizeof(float),
              "temperature and magenta are read as one pair");

/// single(b / 255) for every byte b, a true division rounded once (the
/// compiler folds it with IEEE rounding), held as the double it widens to.
struct ByteValues {
    double value[256];
};
constexpr ByteValues MakeByteValues() {
    ByteValues values{};
    for (int b = 0; b < 256; ++b) {
        values.value[b] = static_cast<double>(static_cast<float>(b) / 255.0f);
    }
    return values;
}
constexpr ByteValues kByteValues = MakeByteValues();

/// A PSHUFB control: destination byte i takes source byte index[i], or zero
/// for a negative index.
struct ByteShuffle {
    std::int8_t index[16];
};

__m128i Load(const ByteShuffle& shuffle) {
    __m128i control;
    std::memcpy(&control, shuffle.index, sizeof control);
    return control;
}

/// BLENDPS: the lanes set in kLanes from `b`, the others from `a`. The
/// instruction takes its lane mask as an immediate, so the mask is a template
/// argument: a constant in every build, not only where the optimiser folds it.
template <int kLanes>
__m128 BlendLanes(__m128 a, __m128 b) {
    static_assert(kLanes >= 0 && kLanes < 16, "one bit per lane");
    return _mm_blend_ps(a, b, kLanes);
}

/// The working lanes of the integer adapters: blue and red first, so that the
/// pair both scaling steps change is the low half of the register.
enum Lane { kBlue = 0, kRed = 1, kGreen = 2, kAlpha = 3 };

/// Takes the low byte of the blue, red and green lanes (32-bit integers) to
/// their bytes of an 8-bit pixel; the alpha byte is left zero.
template <typename Pixel>
constexpr ByteShuffle ByteStore() {
    constexpr ChannelOrder o = Channels<Pixel>::kOrder;
    ByteShuffle s{};
    for (std::int8_t& i : s.index) i = -1;
    s.index[o.blue] = 4 * kBlue;
    s.index[o.red] = 4 * kRed;
    s.index[o.green] = 4 * kGreen;
    return s;
}

/// Spreads the four 16-bit channels of a pixel into zero-extended 32-bit lanes
/// in working order.
template <typename Pixel>
constexpr ByteShuffle WordLoad() {
    constexpr ChannelOrder o = Channels<Pixel>::kOrder;
    ByteShuffle s{};
    for (std::int8_t& i : s.index) i = -1;
    const int position[4] = {o.blue, o.red, o.green, o.alpha};
    for (int lane = 0; lane < 4; ++lane) {
        s.index[4 * lane] = static_cast<std::int8_t>(2 * position[lane]);
        s.index[4 * lane + 1] = static_cast<std::int8_t>(2 * position[lane] + 1);
    }
    return s;
}

/// Takes the 16-bit words [blue, red, green, alpha] back to layout order.
template <typename Pixel>
constexpr ByteShuffle WordStore() {
    constexpr ChannelOrder o = Channels<Pixel>::kOrder;
    ByteShuffle s{};
    for (std::int8_t& i : s.index) i = -1;
    const int position[4] = {o.blue, o.red, o.green, o.alpha};
    for (int lane = 0; lane < 4; ++lane) {
        s.index[2 * position[lane]] = static_cast<std::int8_t>(2 * lane);
        s.index[2 * position[lane] + 1] = static_cast<std::int8_t>(2 * lane + 1);
    }
    return s;
}

template <typename Pixel>
inline constexpr ByteShuffle kByteStore = ByteStore<Pixel>();
template <typename Pixel>
inline constexpr ByteShuffle kWordLoad = WordLoad<Pixel>();
template <typename Pixel>
inline constexpr ByteShuffle kWordStore = WordStore<Pixel>();

/// The per-render constants of the integer adapters, formed from the settings
/// by the operations the kernel uses, each step's factors scaled by `unit`
/// (1, or 2^-15 for 16-bit channels; see ProcessWordPixel).
///
/// No step is skipped, and none needs to be for integer input:
/// - temperature or magenta ±0 make every factor exactly 1, and
///   single(1 * x) = x for the finite values these steps see;
/// - with mixing off (mix not below 1, or NaN) `mix` is 1 and `keep` 0, and
///   single(0 * input) + single(1 * x) = x, the input being finite (-0 turns
///   into +0, which converts to the integer 0 just the same).
struct IntegerFactors {
    __m128d temperature;  ///< [1 - t, 1 + t] * unit, for [blue, red]
    __m128d magenta;      ///< [1 + m, 1 + m], for [blue, red]
    __m128d green;        ///< (1 - d) * unit in the low lane, d = single(2m)
    __m128 mix;           ///< mix, or 1 with mixing off
    __m128 keep;          ///< single(1 - mix): the untouched pixel's share
    bool clamp;
};

IntegerFactors MakeIntegerFactors(const TemperatureSettings& s, double unit) {
    const __m128d ones = _mm_set1_pd(1.0);
    const __m128d scale = _mm_set1_pd(unit);
    // [t, m] widened to double together.
    const __m128d tm = _mm_cvtps_pd(
        _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&s.temperature))));
    IntegerFactors f;
    // ADDSUBPD: [1 - t, 1 + t]; 1 + t is the kernel's t + 1.
    f.temperature = _mm_mul_pd(_mm_addsub_pd(ones, _mm_movedup_pd(tm)), scale);
    f.magenta = _mm_add_pd(ones, _mm_unpackhi_pd(tm, tm));
    const float d = 2.0f * s.magenta;  // single precision, as the kernel forms it
    f.green = _mm_mul_sd(_mm_sub_sd(ones, _mm_set_sd(static_cast<double>(d))), scale);
    // MINPS returns its second operand for NaN: mix if mix < 1, otherwise 1.
    const __m128 one = _mm_set1_ps(1.0f);
    f.mix = _mm_min_ps(_mm_set1_ps(s.mix), one);
    f.keep = _mm_sub_ps(one, f.mix);
    f.clamp = s.clamp != 0;
    return f;
}

/// The temperature, magenta and mixing steps on blue, red and green.
/// `blue_red` holds those two channels as doubles and `green` its channel in
/// the low lane, each the working value divided by the factors' `unit` (for
/// 16-bit channels, the stored integer); `input` is the untouched pixel in
/// working order. Returns the mixed values in lanes 0 to 2; lane 3 is not
/// defined.
__m128 ShiftAndMix(const IntegerFactors& f, __m128d blue_red, __m128d green, __m128 input) {
    // Each channel expression in double, rounded to single once at its end.
    const __m128 temperature = _mm_cvtpd_ps(_mm_mul_pd(blue_red, f.temperature));
    const __m128 magenta = _mm_cvtpd_ps(_mm_mul_pd(_mm_cvtps_pd(temperature), f.magenta));
    const __m128 green_out = _mm_cvtpd_ps(_mm_mul_sd(green, f.green));
    const __m128 shifted = _mm_movelh_ps(magenta, green_out);
    // single(single(k * input) + single(mix * shifted)).
    return _mm_add_ps(_mm_mul_ps(f.keep, input), _mm_mul_ps(f.mix, shifted));
}

/// Scales by full scale and saturates from above. MINPS returns its second
/// operand when either is NaN: with the clamp flag a NaN becomes full scale
/// (the clamp step makes it 1), without it stays NaN and becomes 0 below.
__m128 ScaleToFull(const IntegerFactors& f, __m128 mixed, float full_scale) {
    const __m128 full = _mm_set1_ps(full_scale);
    const __m128 scaled = _mm_mul_ps(mixed, full);
    return f.clamp ? _mm_min_ps(scaled, full) : _mm_min_ps(full, scaled);
}

template <typename Pixel>
std::int32_t ProcessBytePixel(void* refcon, const void* in, void* out) {
    constexpr ChannelOrder o = Channels<Pixel>::kOrder;
    const TemperatureSettings& s = *static_cast<const TemperatureSettings*>(refcon);
    const IntegerFactors f = MakeIntegerFactors(s, 1.0);
    std::uint32_t word;
    std::memcpy(&word, in, sizeof word);
    const auto value = [word](int position) {
        return kByteValues.value + ((word >> (8 * position)) & 0xFFu);
    };
    const __m128d blue_red = _mm_loadh_pd(_mm_load_sd(value(o.blue)), value(o.red));
    const __m128d green = _mm_load_sd(value(o.green));
    const __m128 input = _mm_movelh_ps(_mm_cvtpd_ps(blue_red), _mm_cvtpd_ps(green));  // exact

    const __m128 scaled = ScaleToFull(f, ShiftAndMix(f, blue_red, green, input), 255.0f);
    // Truncation; a negative value, or NaN (which converts to INT_MIN), gives 0.
    const __m128i channels = _mm_max_epi32(_mm_cvttps_epi32(scaled), _mm_setzero_si128());
    const auto bytes = static_cast<std::uint32_t>(
        _mm_cvtsi128_si32(_mm_shuffle_epi8(channels, Load(kByteStore<Pixel>))));
    // Alpha goes out as it came in: byte / 255 * 255 is the byte again.
    const std::uint32_t result = bytes | (word & (0xFFu << (8 * o.alpha)));
    std::memcpy(out, &result, sizeof result);
    return 0;
}

/// 16-bit channels: v / 32768 is v * 2^-15 exactly, in single and in double,
/// so each first scaling of a channel takes the integer v itself with a factor
/// multiplied by 2^-15. That factor is exact (a power of two, far from the
/// ends of the double range), and the double product is the same number
/// rounded once either way.
template <typename Pixel>
std::int32_t ProcessWordPixel(void* refcon, const void* in, void* out) {
    const TemperatureSettings& s = *static_cast<const TemperatureSettings*>(refcon);
    const IntegerFactors f = MakeIntegerFactors(s, 1.0 / 32768.0);
    const __m128i channels =
        _mm_shuffle_epi8(_mm_loadl_epi64(static_cast<const __m128i*>(in)), Load(kWordLoad<Pixel>));
    const __m128 whole = _mm_cvtepi32_ps(channels);  // exact: below 2^16
    const __m128 input = _mm_mul_ps(whole, _mm_set1_ps(1.0f / 32768.0f));
    const __m128d blue_red = _mm_cvtepi32_pd(channels);
    const __m128d green = _mm_cvtepi32_pd(_mm_unpackhi_epi64(channels, channels));

    __m128 scaled = ShiftAndMix(f, blue_red, green, input);
    // Alpha is its stored value, limited to full scale below with the others:
    // v / 32768 * 32768 is v again.
    scaled = BlendLanes<1 << kAlpha>(_mm_mul_ps(scaled, _mm_set1_ps(32768.0f)), whole);
    scaled = f.clamp ? _mm_min_ps(scaled, _mm_set1_ps(32768.0f))
                     : _mm_min_ps(_mm_set1_ps(32768.0f), scaled);
    // Truncation, then PACKUSDW takes negatives and NaN (INT_MIN) to 0.
    const __m128i truncated = _mm_cvttps_epi32(scaled);
    const __m128i words = _mm_packus_epi32(truncated, truncated);
    _mm_storel_epi64(static_cast<__m128i*>(out), _mm_shuffle_epi8(words, Load(kWordStore<Pixel>)));
    return 0;
}

/// single(factor * widened value) on all four lanes at once, for the float
/// layout: widened to double, multiplied, rounded back once.
__m128 ScaleInDouble(__m128 values, __m256d factors) {
    return _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_cvtps_pd(values), factors));
}

/// Four 32-bit lane patterns in the float layout's lane order.
struct LaneBits {
    std::uint32_t lane[4];
};
__m128 Load(const LaneBits& bits) {
    __m128 value;
    std::memcpy(&value, bits.lane, sizeof value);
    return value;
}
constexpr LaneBits InFloatLanes(std::uint32_t blue, std::uint32_t green, std::uint32_t red,
                                std::uint32_t alpha) {
    constexpr ChannelOrder o = Channels<PixelBgraFloat>::kOrder;
    LaneBits bits{};
    bits.lane[o.blue] = blue;
    bits.lane[o.green] = green;
    bits.lane[o.red] = red;
    bits.lane[o.alpha] = alpha;
    return bits;
}
constexpr std::uint32_t kAll = 0xFFFFFFFFu;
constexpr std::uint32_t kSign = 0x80000000u;
constexpr std::uint32_t kOneBits = 0x3F800000u;       // 1.0f
constexpr std::uint32_t kMinusTwoBits = 0xC0000000u;  // -2.0f
/// Keeps t in the red and blue lanes, 0 elsewhere; then flips blue's sign.
constexpr LaneBits kRedBlue = InFloatLanes(kAll, 0, kAll, 0);
constexpr LaneBits kBlueSign = InFloatLanes(kSign, 0, 0, 0);
/// m times this is [m, -2m, m, 0] in channel order: -2m is -single(2m) exactly.
constexpr LaneBits kMagentaSpread = InFloatLanes(kOneBits, kMinusTwoBits, kOneBits, 0);

/// The temperature step's factors [1 - t, 1, 1 + t, 1] in channel order:
/// 1 + [-t, 0, t, 0] in double, where 1 + (-t) is 1 - t exactly.
__m256d TemperatureFactors(float t) {
    const __m128 spread = _mm_xor_ps(_mm_and_ps(_mm_set1_ps(t), Load(kRedBlue)), Load(kBlueSign));
    return _mm256_add_pd(_mm256_set1_pd(1.0), _mm256_cvtps_pd(spread));
}

/// The magenta step's factors [1 + m, 1 - d, 1 + m, -] in channel order, from
/// [m, -d, m, 0 * m]. The alpha lane (NaN for an infinite m) is not used.
__m256d MagentaFactors(float m) {
    const __m128 spread = _mm_mul_ps(_mm_set1_ps(m), Load(kMagentaSpread));
    return _mm256_add_pd(_mm256_set1_pd(1.0), _mm256_cvtps_pd(spread));
}

}  // namespace

std::int32_t ProcessPixelArgb8(void* refcon, std::int32_t, std::int32_t, const void* in,
                               void* out) {
    return ProcessBytePixel<PixelArgb8>(refcon, in, out);
}

std::int32_t ProcessPixelBgra8(void* refcon, std::int32_t, std::int32_t, const void* in,
                               void* out) {
    return ProcessBytePixel<PixelBgra8>(refcon, in, out);
}

std::int32_t ProcessPixelArgb16(void* refcon, std::int32_t, std::int32_t, const void* in,
                                void* out) {
    return ProcessWordPixel<PixelArgb16>(refcon, in, out);
}

/// Floats can be anything, so here each step runs only when the kernel runs
/// it: skipping, rather than scaling by exactly 1, keeps the input bit for bit
/// (NaN payloads, and denormals whatever the host's floating-point mode).
/// Alpha takes part in the lane arithmetic (its factors are 1, or unused) and
/// is then put back from the input, bit for bit.
std::int32_t ProcessPixelBgraFloat(void* refcon, std::int32_t, std::int32_t, const void* in,
                                   void* out) {
    const TemperatureSettings& s = *static_cast<const TemperatureSettings*>(refcon);
    const __m128 pixel = _mm_loadu_ps(static_cast<const float*>(in));
    __m128 v = pixel;
    constexpr ChannelOrder o = Channels<PixelBgraFloat>::kOrder;
    if (s.temperature != 0.0f) {
        // Green goes through with a factor of 1 and is then taken back as it
        // was, so that the step leaves it alone bit for bit, as the kernel does.
        v = BlendLanes<1 << o.green>(ScaleInDouble(v, TemperatureFactors(s.temperature)), v);
    }
    if (s.magenta != 0.0f) v = ScaleInDouble(v, MagentaFactors(s.magenta));
    const float mix = s.mix;
    if (mix < 1.0f) {
        const __m128 keep = _mm_set1_ps(1.0f - mix);
        v = _mm_add_ps(_mm_mul_ps(keep, pixel), _mm_mul_ps(_mm_set1_ps(mix), v));
    }
    if (s.clamp != 0) {
        // MAXPS(0, v) keeps v for NaN and for -0; MINPS(v, 1) gives 1 for NaN.
        v = _mm_min_ps(_mm_max_ps(_mm_setzero_ps(), v), _mm_set1_ps(1.0f));
    }
    _mm_storeu_ps(static_cast<float*>(out), BlendLanes<1 << o.alpha>(v, pixel));
    return 0;
}

}  // namespace vemra::avx2
