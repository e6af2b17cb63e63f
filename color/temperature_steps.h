// The colour shift itself: the temperature, magenta, mixing and clamp steps on
// red, green and blue. ApplyTemperature and the float BGRA adapter both run
// exactly these steps, so the two cannot drift apart by a bit.
//
// Precision is part of the behaviour: each channel expression of the
// temperature and magenta steps is formed in double precision and rounded to
// single once, at its end; mixing is entirely single precision. The build uses
// -ffp-contract=off so that no multiply-add is fused.
#pragma once

#include "color/temperature_settings.h"

namespace vemra {

/// Red, green and blue of one pixel; alpha never takes part in the shift.
struct Rgb {
    float red, green, blue;
};

/// One scaling of a channel: single(factor * channel), the channel widened to
/// double (exactly) and the product rounded to single once. The caller forms
/// the factor in double precision (t + 1, 1 - t, m + 1, 1 - d), so each
/// channel expression of the temperature and magenta steps is double
/// throughout and rounded only here.
inline float ScaleInDouble(double factor, float channel) {
    return static_cast<float>(factor * static_cast<double>(channel));
}

/// Clamp step for one channel: below 0 gives 0, 1 or more gives 1, NaN gives 1.
/// -0 is not below 0 and stays as it is.
inline float ClampToUnit(float value) {
    if (value < 0.0f) return 0.0f;
    if (value >= 1.0f) return 1.0f;
    if (value != value) return 1.0f;
    return value;
}

/// One channel of the mixing step, in single precision:
/// single(single(k * input) + single(mix * shifted)).
inline float MixChannel(float k, float mix, float input, float shifted) {
    const float from_input = k * input;
    const float from_shifted = mix * shifted;
    return from_input + from_shifted;
}

/// Runs the temperature, magenta, mixing and clamp steps on one pixel's colour.
/// `input` is the untouched pixel: the mixing step reads it again.
inline Rgb ShiftColour(const TemperatureSettings& settings, Rgb input) {
    Rgb out = input;

    // Temperature: -0 compares equal to 0 and skips; NaN compares unequal and runs.
    const float t = settings.temperature;
    if (t != 0.0f) {
        out.red = ScaleInDouble(static_cast<double>(t) + 1.0, out.red);
        out.blue = ScaleInDouble(1.0 - static_cast<double>(t), out.blue);
    }

    // Magenta scales what the temperature step left. d = 2m is a single-precision product.
    const float m = settings.magenta;
    if (m != 0.0f) {
        const double grow = static_cast<double>(m) + 1.0;
        out.red = ScaleInDouble(grow, out.red);
        out.blue = ScaleInDouble(grow, out.blue);
        const float d = 2.0f * m;
        out.green = ScaleInDouble(1.0 - static_cast<double>(d), out.green);
    }

    // Mixing only for mix < 1 in an ordered comparison: NaN, 1 and above skip it.
    const float mix = settings.mix;
    if (mix < 1.0f) {
        const float k = 1.0f - mix;
        out.blue = MixChannel(k, mix, input.blue, out.blue);
        out.red = MixChannel(k, mix, input.red, out.red);
        out.green = MixChannel(k, mix, input.green, out.green);
    }

    if (settings.clamp != 0) {
        out.red = ClampToUnit(out.red);
        out.blue = ClampToUnit(out.blue);
        out.green = ClampToUnit(out.green);
    }
    return out;
}

}  // namespace vemra
