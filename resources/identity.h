// Who the effect is, in every edition: its names and its version. Nothing
// here depends on a host, so the After Effects plug-in and the frei0r edition
// take the same words from this one place.
#pragma once

#include <cstdint>

namespace vemra {

inline constexpr char kDisplayName[] = "Vemra Temperature";  ///< shown in the effect menu
inline constexpr char kMatchName[] = "Vemra Temperature";    ///< stored in projects
inline constexpr char kMenuCategory[] = "Vemra";

inline constexpr std::uint32_t kVersionMajor = 1;
inline constexpr std::uint32_t kVersionMinor = 0;

}  // namespace vemra
