// Conversions between a frame's samples (a file's or a raw frame's, in any
// layout SampleLayout describes) and the host's worlds (ARGB or BGRA, in the
// host's own scale), each in one pass over the pixels.
//
// Scales: an 8-bit sample and an 8-bit world both run to 255 and pass through
// unchanged. A 16-bit sample runs to 65535 and the "ae" host's 16-bit world to
// 32768; a value is carried across by v * 32768 / 65535 rounded to nearest,
// and back by w * 65535 / 32768 rounded to nearest (halves round up), so
// 0 and full scale meet exactly, every world value survives the trip out and
// back, and a file value comes back within one code. Between an integer and
// a float, 1.0 is the integer's full scale: v / full going to float, and
// float * full rounded to nearest and clipped coming back (NaN gives 0).
// Float to float is a bit-for-bit copy: values above 1, below 0, infinities
// and NaN are kept. Every one of these steps is ours: an image library's own
// integer-to-float conversion may round differently.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sim/world.h"
#include "tools/vemra-render/pixels/samples.h"

namespace render {

/// A 16-bit file value (full scale 65535) in the "ae" host's 16-bit scale
/// (full scale 32768), rounded to nearest, halves up.
std::uint16_t FileToHost16(std::uint16_t file_value);
/// A host 16-bit value back in the file's scale, rounded to nearest, halves
/// up; host values above 32768 count as 32768.
std::uint16_t Host16ToFile(std::uint16_t host_value);

/// What a conversion into a world had to give up.
struct ConversionReport {
    /// Samples outside what the world's layout holds (below 0 or above full
    /// scale, or NaN going to an integer layout), clipped to its range.
    std::size_t clipped = 0;
};

/// Converts `samples` into `world` (the same width and height), every
/// channel from the samples' scale to the world's layout's; an absent alpha
/// enters as opaque. Returns what was clipped. Throws std::invalid_argument
/// when the sizes differ or the samples lack red, green or blue.
ConversionReport SamplesToWorld(const ConstSamples& samples, sim::World& world);

/// Converts `world` into `samples` (the same width and height), every channel
/// from the layout's scale to the samples' type's; an alpha the samples do
/// not hold is left out. Throws std::invalid_argument as SamplesToWorld does.
void WorldToSamples(const sim::World& world, const Samples& samples);

}  // namespace render
