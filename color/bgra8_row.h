// The row function: 8-bit BGRA pixels in runs, for hosts that hand over whole
// frames instead of calling a function per pixel. Every pixel comes out as
// ProcessPixelBgra8 makes it, bit for bit; the work is spread across pixels
// in vector registers instead of across the channels of one pixel.
#pragma once

#include <cstddef>

#include "color/temperature_settings.h"

/// Shifts `count` pixels of 8-bit BGRA (bytes blue, green, red, alpha) from
/// `in` to `out`, each as ProcessPixelBgra8 does. `in` and `out` may be the
/// same run; other overlaps are not allowed. Alpha is copied. Neither needs
/// any alignment.
using Bgra8Row = void (*)(const TemperatureSettings& settings, const void* in, void* out,
                          std::size_t count);

/// The row function built for baseline x86-64 (SSE2).
void ProcessRowBgra8(const TemperatureSettings& settings, const void* in, void* out,
                     std::size_t count);

namespace vemra::avx2 {
/// The same for processors with AVX2; only where AdapterSets() says so.
void ProcessRowBgra8(const TemperatureSettings& settings, const void* in, void* out,
                     std::size_t count);
}  // namespace vemra::avx2
