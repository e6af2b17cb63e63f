// The four pixel adapters: one per host layout, each a PixelFunction, the
// host's per-pixel callback form (refcon, x, y, source, destination); source
// and destination point at pixels of the adapter's layout. The refcon is the render's
// TemperatureSettings; x and y are ignored. Every adapter reads its whole source
// pixel before writing, so source and destination may be the same pixel.
// All return 0.
#pragma once

#include <cstdint>

#include "color/pixel_function.h"
#include "color/pixel_layouts.h"
#include "color/temperature_settings.h"

/// 8-bit ARGB: bytes divided by 255 (a true division), shifted by the kernel,
/// multiplied back by 255, saturated (NaN gives 0) and truncated.
std::int32_t ProcessPixelArgb8(void* refcon, std::int32_t x, std::int32_t y, const void* in,
                               void* out);

/// 16-bit ARGB with full scale 32768: as the 8-bit adapter with 32768 for 255.
/// Stored values above 32768 are read as they are and come back as 32768.
std::int32_t ProcessPixelArgb16(void* refcon, std::int32_t x, std::int32_t y, const void* in,
                                void* out);

/// 8-bit BGRA: the 8-bit ARGB adapter in the other byte order.
std::int32_t ProcessPixelBgra8(void* refcon, std::int32_t x, std::int32_t y, const void* in,
                               void* out);

/// 32-bit float BGRA: the kernel's steps applied directly to the four floats,
/// with no scaling and no saturation; alpha is copied bit for bit.
std::int32_t ProcessPixelBgraFloat(void* refcon, std::int32_t x, std::int32_t y, const void* in,
                                   void* out);
