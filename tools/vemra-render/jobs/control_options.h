// The tool's command-line option for each of the effect's controls, in the
// order of their roles (sim/controls.h: temperature, magenta, opacity,
// clamp). The one place these names are written: the parser declares them
// and messages about a control name them from here.
#pragma once

#include <array>

namespace render {

struct ControlOption {
    const char* flag;       ///< the long option, e.g. "--temperature"
    const char* names;      ///< with its short form, as the parser takes it
    const char* help;       ///< what it does, for --help
    const char* type_name;  ///< the value's name in --help; empty for a flag
};

inline constexpr std::array<ControlOption, 4> kControlOptions{{
    {"--temperature", "-t,--temperature", "Warmer (+) or cooler (-)", "VALUE"},
    {"--magenta", "-m,--magenta", "Towards magenta (+) or green (-)", "VALUE"},
    {"--opacity", "--opacity", "Mix with the untouched pixel, percent", "PERCENT"},
    {"--clamp", "--clamp", "Clamp red, green and blue to 0..1", ""},
}};

}  // namespace render
