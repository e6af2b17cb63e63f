// Every text the effect hands to the host, looked up by number: the rows of
// strings.h. The checks below keep each text within the host buffer it is
// copied into.
#pragma once

#include <cstdint>
#include <string_view>
#include <type_traits>

#include "host/effect_api.h"
#include "resources/plugin_identity.h"
#include "resources/strings.h"

namespace vemra {

// The table's index type is the host's long.
static_assert(std::is_same_v<A_long, std::int32_t>);

/// The text of row `id`. A direct index: callers pass only 1 to 6.
const char* GetString(A_long id);

/// The about text's format and its version numbers.
inline constexpr char kAboutFormat[] = "%s v%d.%d\r%s";

namespace string_checks {

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

static_assert(AboutLength() <= PF_MAX_EFFECT_MSG_LEN, "the about text must fit return_msg");
static_assert(Length(StrID_Temperature_Param_Name) <= PF_MAX_EFFECT_PARAM_NAME_LEN &&
                  Length(StrID_Magenta_Param_Name) <= PF_MAX_EFFECT_PARAM_NAME_LEN &&
                  Length(StrID_Opacity_Param_Name) <= PF_MAX_EFFECT_PARAM_NAME_LEN &&
                  Length(StrID_Clamp_Param_Name) <= PF_MAX_EFFECT_PARAM_NAME_LEN,
              "parameter names must fit the host's name field");

}  // namespace string_checks
}  // namespace vemra
