// The colour shift with the channels of one pixel held together in SSE2
// registers. Every operation is the one the scalar steps in
// temperature_steps.h perform, in the same precision and order, so the two
// give the same bits (a NaN may differ only in its payload). SSE2 is part of
// baseline x86-64, so this needs no run-time dispatch.
#pragma once

#if !defined(__SSE2__)
#error "the pixel adapters are written for x86-64 (SSE2)"
#endif

#include <emmintrin.h>

#include "color/temperature_settings.h"

namespace vemra::sse2 {

/// The per-render constants of the steps, formed once per call from the
/// settings record with the same operations the scalar steps use.
struct StepFactors {
    bool temperature, magenta, mix, clamp;
    __m128d temperature_rb;  ///< [t + 1, 1 - t] in double
    __m128d magenta_rb;      ///< [m + 1, m + 1] in double
    __m128d magenta_g;       ///< [1 - single(2m), 1] in double
    __m128 k;                ///< single(1 - mix) in lanes 0-2, 0 in lane 3
    __m128 share;            ///< mix in lanes 0-2, 1 in lane 3

    explicit StepFactors(const TemperatureSettings& s)
        : temperature(s.temperature != 0.0f),
          magenta(s.magenta != 0.0f),
          mix(s.mix < 1.0f),
          clamp(s.clamp != 0) {
        const double t = static_cast<double>(s.temperature);
        const double m = static_cast<double>(s.magenta);
        const float d = 2.0f * s.magenta;
        temperature_rb = _mm_set_pd(1.0 - t, t + 1.0);
        magenta_rb = _mm_set1_pd(m + 1.0);
        magenta_g = _mm_set_pd(1.0, 1.0 - static_cast<double>(d));
        const float k_value = 1.0f - s.mix;
        k = _mm_set_ps(0.0f, k_value, k_value, k_value);
        share = _mm_set_ps(1.0f, s.mix, s.mix, s.mix);
    }
};

/// How the clamp step runs.
enum class Clamp {
    /// As the kernel does it: below 0 gives 0, 1 or more and NaN give 1.
    kFull,
    /// Only NaN gives 1. For integer layouts, whose conversion back saturates
    /// at 0 and full scale, this gives the same integers with fewer steps.
    kNaNOnly,
};

/// Runs the steps on a pixel held as [red, blue, green, alpha]. `input` is
/// the untouched pixel in the same lane order. The alpha lane comes through a
/// finite value unchanged (multiplied by 1, mixed as 0 * a + 1 * a), except
/// that the full clamp limits it to 0..1; callers with a float layout, where
/// alpha may be anything, put the input's alpha back themselves.
template <Clamp kClamp = Clamp::kFull>
inline __m128 ShiftColour(const StepFactors& f, __m128 input) {
    __m128 out = input;
    if (f.temperature) {
        // single((t + 1) * red), single((1 - t) * blue), each product in double.
        const __m128 rb = _mm_cvtpd_ps(_mm_mul_pd(_mm_cvtps_pd(out), f.temperature_rb));
        out = _mm_shuffle_ps(rb, out, _MM_SHUFFLE(3, 2, 1, 0));
    }
    if (f.magenta) {
        const __m128 rb = _mm_cvtpd_ps(_mm_mul_pd(_mm_cvtps_pd(out), f.magenta_rb));
        const __m128 gx =
            _mm_cvtpd_ps(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(out, out)), f.magenta_g));
        out = _mm_movelh_ps(rb, gx);
    }
    if (f.mix) {
        // single(single(k * input) + single(mix * shifted)).
        out = _mm_add_ps(_mm_mul_ps(f.k, input), _mm_mul_ps(f.share, out));
    }
    if (f.clamp && kClamp == Clamp::kNaNOnly) {
        const __m128 nan = _mm_cmpunord_ps(out, out);
        out = _mm_or_ps(_mm_and_ps(nan, _mm_set1_ps(1.0f)), _mm_andnot_ps(nan, out));
    } else if (f.clamp) {
        // Below 0 gives 0; 1 or more, and NaN, give 1; -0 stays -0.
        const __m128 one = _mm_set1_ps(1.0f);
        const __m128 below_zero = _mm_cmplt_ps(out, _mm_setzero_ps());
        const __m128 not_below_one = _mm_cmpnlt_ps(out, one);  // true for NaN too
        out = _mm_andnot_ps(below_zero, out);
        out = _mm_or_ps(_mm_and_ps(not_below_one, one), _mm_andnot_ps(not_below_one, out));
    }
    return out;
}

}  // namespace vemra::sse2
