// The effect's four controls as the user meets them, in every edition: their
// order, names, ranges and defaults in the units the controls show. Nothing
// here depends on a host. The After Effects plug-in builds its parameter
// declarations from these rows (effect/parameters.h) and the frei0r edition
// its parameters and their mapping (frei0r/), so the two cannot disagree.
#pragma once

#include "resources/strings.h"

namespace vemra {

/// Where each control stands among the four, in every edition.
enum ControlPosition : int {
    kTemperaturePosition = 0,
    kMagentaPosition = 1,
    kOpacityPosition = 2,
    kClampPosition = 3,
    kControlCount = 4,
};

/// A slider's numbers, in the units it shows.
struct SliderControl {
    StringId name;
    double valid_min, valid_max;    ///< what may be typed in
    double slider_min, slider_max;  ///< what the slider spans
    double dephault;
    int precision;  ///< decimal places shown
    bool percent;   ///< shown as a percentage
};

/// A checkbox and the state it starts in.
struct CheckboxControl {
    StringId name;
    bool dephault;
};

/// "Temperature" and "Magenta" are the same slider: valid -5..5, slider
/// -2..2, default 0, one decimal place shown.
constexpr SliderControl ShiftSlider(StringId name) {
    return {name, -5.0, 5.0, -2.0, 2.0, 0.0, 1, false};
}

inline constexpr SliderControl kTemperatureControl = ShiftSlider(StrID_Temperature_Param_Name);
inline constexpr SliderControl kMagentaControl = ShiftSlider(StrID_Magenta_Param_Name);
/// A percentage 0..100, default 100.
inline constexpr SliderControl kOpacityControl{
    StrID_Opacity_Param_Name, 0.0, 100.0, 0.0, 100.0, 100.0, 1, true};
/// Off by default.
inline constexpr CheckboxControl kClampControl{StrID_Clamp_Param_Name, false};

}  // namespace vemra
