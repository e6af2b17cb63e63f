// The four adapters, generated from one template over the layout descriptors
// in pixel_layouts.h. A pixel's four channels travel together in one SSE2
// register: they are loaded in layout order, moved to the working order
// [red, blue, green, alpha] the steps expect, shifted, moved back and stored.
//
// The results are those of converting to PixelArgbFloat, calling
// ApplyTemperature and converting back: the conversions are the same single
// operations (a true division by full scale; a product, saturation at 0 and
// full scale with NaN giving 0, and truncation), and alpha, which the kernel
// never changes, is carried past the steps.
#include "color/adapters.h"

#include <cstring>

#include "color/temperature_steps_sse2.h"

namespace {

using vemra::sse2::ShiftColour;
using vemra::sse2::StepFactors;

/// _mm_shuffle_ps immediate from layout order to [red, blue, green, alpha].
template <typename Pixel>
constexpr int ToWorkingOrder() {
    constexpr ChannelOrder o = Channels<Pixel>::kOrder;
    return _MM_SHUFFLE(o.alpha, o.green, o.blue, o.red);
}

/// _mm_shuffle_ps immediate from [red, blue, green, alpha] to layout order.
template <typename Pixel>
constexpr int ToLayoutOrder() {
    constexpr ChannelOrder o = Channels<Pixel>::kOrder;
    int lane[4] = {};
    lane[o.red] = 0;
    lane[o.blue] = 1;
    lane[o.green] = 2;
    lane[o.alpha] = 3;
    return _MM_SHUFFLE(lane[3], lane[2], lane[1], lane[0]);
}

/// The four channels of an integer pixel as 32-bit integers, in layout order.
template <typename Type>
__m128i LoadChannels(const void* pixel);

template <>
__m128i LoadChannels<std::uint8_t>(const void* pixel) {
    std::int32_t word;
    std::memcpy(&word, pixel, sizeof word);
    const __m128i zero = _mm_setzero_si128();
    const __m128i bytes = _mm_cvtsi32_si128(word);
    return _mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero), zero);
}

template <>
__m128i LoadChannels<std::uint16_t>(const void* pixel) {
    return _mm_unpacklo_epi16(_mm_loadl_epi64(static_cast<const __m128i*>(pixel)),
                              _mm_setzero_si128());
}

/// Stores four channels, each already within 0..full scale, in layout order.
template <typename Type>
void StoreChannels(__m128i channels, void* pixel);

template <>
void StoreChannels<std::uint8_t>(__m128i channels, void* pixel) {
    const __m128i words = _mm_packs_epi32(channels, channels);
    const std::int32_t word = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
    std::memcpy(pixel, &word, sizeof word);
}

template <>
void StoreChannels<std::uint16_t>(__m128i channels, void* pixel) {
    // 0..32768 does not fit a signed 16-bit pack: shift the range down by
    // 32768, pack, and flip the top bit back.
    const __m128i shifted = _mm_sub_epi32(channels, _mm_set1_epi32(32768));
    const __m128i packed = _mm_packs_epi32(shifted, shifted);
    _mm_storel_epi64(static_cast<__m128i*>(pixel),
                     _mm_xor_si128(packed, _mm_set1_epi16(static_cast<short>(0x8000))));
}

/// The two shuffles as constants, so that they are immediates at every
/// optimisation level.
template <typename Pixel>
inline constexpr int kToWorkingOrder = ToWorkingOrder<Pixel>();
template <typename Pixel>
inline constexpr int kToLayoutOrder = ToLayoutOrder<Pixel>();

/// Lane 3 of `from`, lanes 0 to 2 of `to`, bit for bit.
inline __m128 WithAlphaOf(__m128 from, __m128 to) {
    const __m128 mask = _mm_castsi128_ps(_mm_set_epi32(-1, 0, 0, 0));
    return _mm_or_ps(_mm_and_ps(mask, from), _mm_andnot_ps(mask, to));
}

template <typename Pixel>
std::int32_t ProcessIntegerPixel(void* refcon, const void* in, void* out) {
    using C = Channels<Pixel>;
    const StepFactors factors(*static_cast<const TemperatureSettings*>(refcon));
    const __m128 full_scale = _mm_set1_ps(C::kFullScale);

    // Channel / full scale, a single-precision division rounded once.
    const __m128 layout =
        _mm_div_ps(_mm_cvtepi32_ps(LoadChannels<typename C::Type>(in)), full_scale);
    const __m128 working = _mm_shuffle_ps(layout, layout, kToWorkingOrder<Pixel>);
    // Alpha, an exact integer over full scale, comes through the steps as it
    // went in (or limited to 1, which saturates to full scale all the same).
    const __m128 shifted = ShiftColour<vemra::sse2::Clamp::kNaNOnly>(factors, working);
    __m128 scaled = _mm_mul_ps(_mm_shuffle_ps(shifted, shifted, kToLayoutOrder<Pixel>), full_scale);

    // Not above 0 (NaN included) gives 0, full scale or more gives full
    // scale, anything else is truncated toward zero.
    scaled = _mm_and_ps(_mm_cmpgt_ps(scaled, _mm_setzero_ps()), scaled);
    scaled = _mm_min_ps(scaled, full_scale);
    StoreChannels<typename C::Type>(_mm_cvttps_epi32(scaled), out);
    return 0;  // what ApplyTemperature returns
}

}  // namespace

std::int32_t ProcessPixelArgb8(void* refcon, std::int32_t, std::int32_t, const void* in,
                               void* out) {
    return ProcessIntegerPixel<PixelArgb8>(refcon, in, out);
}

std::int32_t ProcessPixelArgb16(void* refcon, std::int32_t, std::int32_t, const void* in,
                                void* out) {
    return ProcessIntegerPixel<PixelArgb16>(refcon, in, out);
}

std::int32_t ProcessPixelBgra8(void* refcon, std::int32_t, std::int32_t, const void* in,
                               void* out) {
    return ProcessIntegerPixel<PixelBgra8>(refcon, in, out);
}

std::int32_t ProcessPixelBgraFloat(void* refcon, std::int32_t, std::int32_t, const void* in,
                                   void* out) {
    const StepFactors factors(*static_cast<const TemperatureSettings*>(refcon));
    const __m128 pixel = _mm_loadu_ps(static_cast<const float*>(in));
    const __m128 working = _mm_shuffle_ps(pixel, pixel, kToWorkingOrder<PixelBgraFloat>);
    const __m128 shifted = ShiftColour(factors, working);
    const __m128 layout = _mm_shuffle_ps(shifted, shifted, kToLayoutOrder<PixelBgraFloat>);
    // Alpha is the input's, bit for bit; no scaling and no saturation. In
    // this layout alpha sits in lane 3, as in the working order.
    static_assert(Channels<PixelBgraFloat>::kOrder.alpha == 3);
    _mm_storeu_ps(static_cast<float*>(out), WithAlphaOf(pixel, layout));
    return 0;
}
