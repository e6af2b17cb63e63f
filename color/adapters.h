// The four pixel adapters: one per host layout, each a PixelFunction, the
// host's per-pixel callback form (refcon, x, y, source, destination); source
// and destination point at pixels of the adapter's layout. The refcon is the render's
// TemperatureSettings; x and y are ignored. Every adapter reads its whole source
// pixel before writing, so source and destination may be the same pixel.
// All return 0.
//
// The four functions declared here are the baseline set, built for any x86-64
// processor. Faster sets built for wider instruction sets give the same bits;
// AdapterSets() lists them all and FastestAdapterSet() picks the one to render
// with on the processor at hand.
#pragma once

#include <cstdint>
#include <span>

#include "color/bgra8_row.h"
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

/// The four adapters and the 8-bit BGRA row function built for one
/// instruction set. Every set gives the same results bit for bit; they differ
/// only in speed.
struct AdapterSet {
    const char* name;     ///< "sse2" (baseline x86-64) or "avx2"
    bool (*supported)();  ///< whether this processor (and its OS) runs the set
    PixelFunction argb8;
    PixelFunction argb16;
    PixelFunction bgra8;
    PixelFunction bgra_float;
    Bgra8Row bgra8_row;  ///< runs of pixels, each as bgra8 makes it
};

/// Every set built into the library, the baseline (always supported) first.
/// A set's functions must not be called where its `supported` returns false.
std::span<const AdapterSet> AdapterSets();

/// The last set in AdapterSets() that this processor supports: the one a
/// render uses. Asks the processor on every call; it keeps nothing.
const AdapterSet& FastestAdapterSet();
