// The colour kernel: the effect's whole image operation, on one working pixel.
#pragma once

#include <cstdint>

#include "color/pixel_layouts.h"
#include "color/temperature_settings.h"

/// Shifts one pixel's colour balance by `settings`: red and blue apart by the
/// temperature, red and blue against green by the magenta, mixed back with the
/// untouched pixel by `mix` and, if asked, red, green and blue clamped to 0..1.
/// Alpha is copied bit for bit. `input` and `output` must be distinct records.
/// Always returns 0; callers pass the result on as their own.
std::int32_t ApplyTemperature(const TemperatureSettings& settings, const PixelArgbFloat& input,
                              PixelArgbFloat& output);
