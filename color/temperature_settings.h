// The settings of one render, shared read-only by every per-pixel call of it.
#pragma once

#include <cstdint>

/// Colour settings for one render. The render fills the record once from the
/// four parameters; the kernel and the pixel adapters only read it.
struct TemperatureSettings {
    float temperature;   ///< t: red scaled by 1 + t, blue by 1 - t; 0 skips the step.
    float magenta;       ///< m: red and blue scaled by 1 + m, green by 1 - 2m; 0 skips it.
    float mix;           ///< share of the shifted pixel; 1 and above (or NaN) skip mixing.
    std::uint8_t clamp;  ///< nonzero: red, green and blue of the result clamped to 0..1.
};
