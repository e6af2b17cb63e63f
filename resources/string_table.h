// Every text the effect hands to the host, looked up by number. The table is
// constant; the checks below keep each text within the host buffer it is
// copied into.
#pragma once

#include <cstdint>
#include <string_view>

#include "host/effect_api.h"
#include "resources/plugin_identity.h"

namespace vemra {

enum StringId : A_long {
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
    A_long index;
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

/// The text of row `id`. A direct index: callers pass only 1 to 6.
const char* GetString(A_long id);

/// The about text's format and its version numbers.
inline constexpr char kAboutFormat[] = "%s v%d.%d\r%s";

namespace string_checks {

constexpr bool IdsEqualPositions() {
    for (A_long i = 0; i < StrID_NUMTYPES; ++i)
        if (kStrings[i].index != i) return false;
    return true;
}
constexpr std::size_t Length(A_long id) {
    return std::string_view(kStrings[id].str).size();
}
constexpr std::size_t Digits(std::uint32_t n) {
    return n < 10 ? 1 : 1 + Digits(n / 10);
}
/// "name v<major>.<minor>\r<description>" without its terminator.
constexpr std::size_t AboutLength() {
    return Length(StrID_Name) + 2 + Digits(kVersionMajor) + 1 + Digits(kVersionMinor) + 1 +
           Length(StrID_Description);
}

static_assert(IdsEqualPositions(), "each row's identifier is its position");
static_assert(AboutLength() <= PF_MAX_EFFECT_MSG_LEN, "the about text must fit return_msg");
static_assert(Length(StrID_Temperature_Param_Name) <= PF_MAX_EFFECT_PARAM_NAME_LEN &&
                  Length(StrID_Magenta_Param_Name) <= PF_MAX_EFFECT_PARAM_NAME_LEN &&
                  Length(StrID_Opacity_Param_Name) <= PF_MAX_EFFECT_PARAM_NAME_LEN &&
                  Length(StrID_Clamp_Param_Name) <= PF_MAX_EFFECT_PARAM_NAME_LEN,
              "parameter names must fit the host's name field");

}  // namespace string_checks
}  // namespace vemra
