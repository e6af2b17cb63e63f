// Where the colour library meets the host's declarations, stated once: the
// colour library's pixel layouts are the host's pixel records, and its pixel
// adapters are the host's per-pixel functions as they stand. Both sides are
// declared on their own (color/ knows nothing of the host, host/ nothing of
// the colour library); everything that ties them together is checked here, at
// compile time, so a change on either side that breaks the tie stops the build
// instead of moving a channel.
#pragma once

#include <cstddef>
#include <type_traits>

#include "color/adapters.h"
#include "color/pixel_layouts.h"
#include "host/effect_api.h"

namespace vemra {
namespace pixel_binding {

/// A colour layout is a host record when both have the same size and every
/// channel has the same type at the same byte offset. Reading one through a
/// pointer to the other then reads the same channels.
template <typename Ours, typename Host>
constexpr bool SameRecord() {
    return std::is_standard_layout_v<Ours> && std::is_standard_layout_v<Host> &&
           sizeof(Ours) == sizeof(Host) && alignof(Ours) == alignof(Host) &&
           std::is_same_v<decltype(Ours::alpha), decltype(Host::alpha)> &&
           std::is_same_v<decltype(Ours::red), decltype(Host::red)> &&
           std::is_same_v<decltype(Ours::green), decltype(Host::green)> &&
           std::is_same_v<decltype(Ours::blue), decltype(Host::blue)> &&
           offsetof(Ours, alpha) == offsetof(Host, alpha) &&
           offsetof(Ours, red) == offsetof(Host, red) &&
           offsetof(Ours, green) == offsetof(Host, green) &&
           offsetof(Ours, blue) == offsetof(Host, blue);
}

}  // namespace pixel_binding

static_assert(pixel_binding::SameRecord<PixelArgb8, PF_Pixel8>(),
              "the 8-bit ARGB adapter must read and write PF_Pixel8");
static_assert(pixel_binding::SameRecord<PixelArgb16, PF_Pixel16>(),
              "the 16-bit ARGB adapter must read and write PF_Pixel16");
static_assert(pixel_binding::SameRecord<PixelBgra8, PF_Pixel_BGRA_8u>(),
              "the 8-bit BGRA adapter must read and write PF_Pixel_BGRA_8u");
static_assert(pixel_binding::SameRecord<PixelBgraFloat, PF_Pixel_BGRA_32f>(),
              "the float BGRA adapter must read and write PF_Pixel_BGRA_32f");

// The adapters have exactly the host's per-pixel function type, so each is
// handed to the host as it is: no wrapper, which would add a call per pixel.
// (The colour library names its own form PixelFunction too, in
// color/pixel_function.h; the language allows the name twice only for one and
// the same type, so the two forms cannot drift apart silently either.)
static_assert(std::is_same_v<decltype(&ProcessPixelArgb8), PixelFunction> &&
                  std::is_same_v<decltype(&ProcessPixelArgb16), PixelFunction> &&
                  std::is_same_v<decltype(&ProcessPixelBgra8), PixelFunction> &&
                  std::is_same_v<decltype(&ProcessPixelBgraFloat), PixelFunction> &&
                  std::is_same_v<decltype(AdapterSet::argb8), PixelFunction>,
              "the adapters must have the host's per-pixel function type");

/// One adapter set as the host's per-pixel functions, named by the host record
/// each one processes.
///
/// A host whose per-pixel function takes typed pixel pointers, such as
/// PF_Err (*)(void*, A_long, A_long, PF_Pixel8*, PF_Pixel8*), differs from
/// PixelFunction only in the pointer types. For such a host the one change is
/// here: a reinterpret_cast of each adapter pointer to that type. The records
/// are the adapters' layouts (checked above) and the calling convention passes
/// any data pointer alike, so the adapter then reads and writes exactly what the
/// host hands over. Never a wrapper function: it would cost a call per pixel.
struct HostPixelFunctions {
    PixelFunction pixel8;    ///< PF_Pixel8: the Iterate8 suite in After Effects
    PixelFunction pixel16;   ///< PF_Pixel16: the iterate16 suite
    PixelFunction bgra_8u;   ///< PF_Pixel_BGRA_8u: the Iterate8 suite in "PrMr"
    PixelFunction bgra_32f;  ///< PF_Pixel_BGRA_32f: the effect's own row walker
};

constexpr HostPixelFunctions ForHost(const AdapterSet& set) {
    return {set.argb8, set.argb16, set.bgra8, set.bgra_float};
}

}  // namespace vemra
