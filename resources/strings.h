// Every text the effect shows, looked up by number: the same rows in every
// edition. Host-free; string_table.h adds the lookup the After Effects
// plug-in uses and the checks against that host's buffers.
#pragma once

#include <cstdint>

namespace vemra {

enum StringId : std::int32_t {
    StrID_NONE = 0,
    StrID_Name = 1,
    StrID_Description = 2,
    StrID_Temperature_Param_Name = 3,
    StrID_Magenta_Param_Name = 4,
    StrID_Opacity_Param_Name = 5,
    StrID_Clamp_Param_Name = 6,
    StrID_NUMTYPES
};

struct TableString {
    std::int32_t index;
    char str[256];
};

inline constexpr TableString kStrings[StrID_NUMTYPES] = {
    {StrID_NONE, ""},
    {StrID_Name, "Temperature"},
    {StrID_Description,
     "Temperature plugin for After Effects. Warms, cools and tints footage; by the Vemra team."},
    {StrID_Temperature_Param_Name, "Temperature"},
    {StrID_Magenta_Param_Name, "Magenta"},
    {StrID_Opacity_Param_Name, "Opacity"},
    {StrID_Clamp_Param_Name, "Clamp on output"},
};

namespace string_checks {

constexpr bool IdsEqualPositions() {
    for (std::int32_t i = 0; i < StrID_NUMTYPES; ++i)
        if (kStrings[i].index != i) return false;
    return true;
}
static_assert(IdsEqualPositions(), "each row's identifier is its position");

}  // namespace string_checks
}  // namespace vemra
