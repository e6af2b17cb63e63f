// The per-pixel callback form shared by the host's iteration suites, the
// effect's own row walker and the pixel adapters.
#pragma once

#include <cstdint>

/// (refcon, x, y, source pixel, destination pixel) returning an error code.
/// The refcon is the render's TemperatureSettings; x and y are the pixel's
/// coordinates in the world. Pixels are passed untyped because a host's
/// iteration knows only their size: its 8-bit iteration carries ARGB and BGRA
/// pixels alike, and each function reads them in its own layout.
using PixelFunction = std::int32_t (*)(void* refcon, std::int32_t x, std::int32_t y, const void* in,
                                       void* out);
