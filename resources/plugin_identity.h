// Who the effect says it is to a host of the After Effects API: its version
// word and flags, over the names and version in identity.h. Global set-up
// writes these words into PF_OutData and the property-list resource is
// generated from the same definitions, so the two always agree.
#pragma once

#include <cstdint>

#include "host/effect_api.h"
#include "resources/identity.h"

namespace vemra {

/// Packs a version the way the host reads it: build in bits 0-8, stage in
/// bits 9-10, bug-fix in bits 11-14, minor in bits 15-18, major from bit 19.
constexpr std::uint32_t PackVersion(std::uint32_t major, std::uint32_t minor, std::uint32_t bug_fix,
                                    std::uint32_t stage, std::uint32_t build) {
    return (major << 19) | (minor << 15) | (bug_fix << 11) | (stage << 9) | build;
}

/// Version 1.0, bug-fix 0, stage 0, build 1.
inline constexpr std::uint32_t kVersionWord = PackVersion(kVersionMajor, kVersionMinor, 0, 0, 1);
static_assert(kVersionWord == 0x00080001);

/// Pixel-independent, and renders 16-bit worlds.
inline constexpr A_long kOutFlags = PF_OutFlag_PIX_INDEPENDENT | PF_OutFlag_DEEP_COLOR_AWARE;
static_assert(kOutFlags == 0x02000400);
/// The second flags word: bit 6 alone.
inline constexpr A_long kOutFlags2 = kOutFlag2Bit6;
static_assert(kOutFlags2 == 0x00000040);

// Property-list words that appear nowhere else.
inline constexpr std::uint16_t kPropertyListVersionMajor = 2;  ///< "ePVR"
inline constexpr std::uint16_t kPropertyListVersionMinor = 0;
inline constexpr std::uint16_t kApiVersionMajor = 13;  ///< "eSVR"
inline constexpr std::uint16_t kApiVersionMinor = 4;
inline constexpr std::uint16_t kInfoFlags = 0;         ///< "eINF"
inline constexpr std::uint32_t kReservedInfoWord = 8;  ///< "aeFL"

}  // namespace vemra
