// The tool's command-line option for each of the effect's controls, by the
// role the control plays (sim/controls.h: temperature, magenta, opacity,
// clamp). The one place these names are written: the parser declares them,
// and messages, tables and summaries about a control name them from here.
// Each entry says by member where its value is given, where the effect's
// declaration of the control is and where the rendered value goes, so no
// code relies on the controls' order.
#pragma once

#include <array>

#include "tools/vemra-render/jobs/options.h"
#include "tools/vemra-render/session/effect_session.h"

namespace render {

/// A slider control's option.
struct SliderOption {
    const char* flag;       ///< the long option, e.g. "--temperature"
    const char* names;      ///< with its short form, as the parser takes it
    const char* help;       ///< what it does, for --help
    const char* type_name;  ///< the value's name in --help
    std::optional<double> GivenControls::*given;
    ControlInfo DeclaredControls::*declared;
    double ParamValues::*value;
};

inline constexpr std::array<SliderOption, 3> kSliderOptions{{
    {"--temperature", "-t,--temperature", "Warmer (+) or cooler (-)", "VALUE",
     &GivenControls::temperature, &DeclaredControls::temperature, &ParamValues::temperature},
    {"--magenta", "-m,--magenta", "Towards magenta (+) or green (-)", "VALUE",
     &GivenControls::magenta, &DeclaredControls::magenta, &ParamValues::magenta},
    {"--opacity", "--opacity", "Mix with the untouched pixel, percent", "PERCENT",
     &GivenControls::opacity, &DeclaredControls::opacity, &ParamValues::opacity},
}};

/// The checkbox's option, and the one that turns it off.
struct CheckboxOption {
    const char* flag;
    const char* help;
    const char* off_flag;
    const char* off_help;
};

inline constexpr CheckboxOption kClampOption{"--clamp", "Clamp red, green and blue to 0..1",
                                             "--no-clamp", "Do not clamp"};

}  // namespace render
