// The form of the pixel adapters: a per-pixel function called through a
// pointer, once for every pixel of a pass. It is the form a host's iteration
// calls; the effect checks that where it hands the adapters over.
#pragma once

#include <cstdint>

/// (refcon, x, y, source pixel, destination pixel) returning an error code.
/// The refcon is the render's TemperatureSettings; x and y are the pixel's
/// coordinates in the world. Pixels are passed untyped because a host's
/// iteration knows only their size: its 8-bit iteration carries ARGB and BGRA
/// pixels alike, and each function reads them in its own layout.
using PixelFunction = std::int32_t (*)(void* refcon, std::int32_t x, std::int32_t y, const void* in,
                                       void* out);
