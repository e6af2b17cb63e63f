// The effect's four controls as frei0r parameters, and their mapping.
//
// frei0r hands every parameter over as a double in 0..1. A slider's x maps
// onto its valid range as min + x * (max - min), in double; the opacity's
// percent then becomes 16.16 fixed point as llround(percent * 65536), which
// for the range 0..100 is llround(x * 6553600). The checkbox is a frei0r bool
// (on from 0.5). x outside 0..1 is clamped to it, and NaN gives the control's
// default. Names, ranges and defaults come from the declarations every
// edition shares (resources/controls.h); the explanations quote them.
#pragma once

#include <cmath>
#include <cstdint>

#include "color/control_values.h"
#include "frei0r/text.h"
#include "resources/controls.h"
#include "resources/strings.h"

namespace vemra::frei0r {

inline constexpr char kAuthor[] = "The Vemra team";
inline constexpr char kPluginExplanation[] =
    "Warms, cools and tints footage: the colour balance of Vemra Temperature, bit for bit as "
    "the plug-in renders 8-bit BGRA. Each value maps as its explanation says.";

/// The two kinds of parameter used, with frei0r's numbers for them.
enum class Kind { kBool = 0, kDouble = 1 };

/// One parameter as frei0r describes it.
struct Parameter {
    const char* name;
    Kind kind;
    const char* explanation;
    double dephault;  ///< in frei0r's 0..1
};

/// x on 0..1 for a slider's value, and back.
constexpr double SliderValue(const SliderControl& control, double x) {
    return control.valid_min + x * (control.valid_max - control.valid_min);
}
constexpr double SliderPosition(const SliderControl& control, double value) {
    return (value - control.valid_min) / (control.valid_max - control.valid_min);
}

/// What a host's value stands for: clamped to 0..1, NaN the default.
constexpr double Position(double x, double dephault) {
    if (x != x) return dephault;
    return x < 0.0 ? 0.0 : (x > 1.0 ? 1.0 : x);
}

/// The explanation of a shift slider: which way it goes and its mapping.
constexpr Text ShiftExplanation(const SliderControl& control, const char* up, const char* down) {
    const double middle = SliderPosition(control, control.dephault);
    Text text;
    text << up << " above " << middle << ", " << down << " below. The effect's "
         << kStrings[control.name].str << " is " << control.valid_min << " + "
         << (control.valid_max - control.valid_min) << "x (" << middle << " gives "
         << control.dephault << "; the plug-in's own slider spans " << control.slider_min << " to "
         << control.slider_max << ", here " << SliderPosition(control, control.slider_min) << " to "
         << SliderPosition(control, control.slider_max)
         << "). Outside 0..1 is clamped; NaN gives the default.";
    return text;
}

/// The opacity's percent starts at 0, so x * 6553600 is its 16.16 word.
static_assert(kOpacityControl.valid_min == 0.0);

constexpr Text OpacityExplanation(const SliderControl& control) {
    Text text;
    text << "Share of the shifted frame: the effect's " << kStrings[control.name].str << " is "
         << (control.valid_max - control.valid_min) << "x percent, as 16.16 fixed point llround("
         << (control.valid_max - control.valid_min) * 65536.0 << "x). Default "
         << SliderPosition(control, control.dephault) << " (" << control.dephault
         << " %); 0 leaves the frame as it is. Outside 0..1 is clamped; NaN gives the default.";
    return text;
}

constexpr Text ClampExplanation(const CheckboxControl& control) {
    Text text;
    text << "Red, green and blue clamped to 0..1 after the shift (on from 0.5). "
         << (control.dephault ? "On" : "Off") << " by default; NaN gives the default.";
    return text;
}

inline constexpr Text kTemperatureExplanation =
    ShiftExplanation(kTemperatureControl, "Warmer", "cooler");
inline constexpr Text kMagentaExplanation =
    ShiftExplanation(kMagentaControl, "Towards magenta", "towards green");
inline constexpr Text kOpacityExplanation = OpacityExplanation(kOpacityControl);
inline constexpr Text kClampExplanation = ClampExplanation(kClampControl);

/// The parameters, in the effect's order.
inline constexpr Parameter kParameters[kControlCount] = {
    {kStrings[kTemperatureControl.name].str, Kind::kDouble, kTemperatureExplanation.c_str(),
     SliderPosition(kTemperatureControl, kTemperatureControl.dephault)},
    {kStrings[kMagentaControl.name].str, Kind::kDouble, kMagentaExplanation.c_str(),
     SliderPosition(kMagentaControl, kMagentaControl.dephault)},
    {kStrings[kOpacityControl.name].str, Kind::kDouble, kOpacityExplanation.c_str(),
     SliderPosition(kOpacityControl, kOpacityControl.dephault)},
    {kStrings[kClampControl.name].str, Kind::kBool, kClampExplanation.c_str(),
     kClampControl.dephault ? 1.0 : 0.0},
};

/// The controls' values for four positions, each already through Position().
inline ControlValues ValuesAt(const double (&x)[kControlCount]) {
    const double percent = SliderValue(kOpacityControl, x[kOpacityPosition]);
    return {
        .temperature = SliderValue(kTemperatureControl, x[kTemperaturePosition]),
        .magenta = SliderValue(kMagentaControl, x[kMagentaPosition]),
        .opacity = static_cast<std::int32_t>(std::llround(percent * 65536.0)),
        .clamp = x[kClampPosition] >= 0.5 ? 1 : 0,
    };
}

}  // namespace vemra::frei0r
