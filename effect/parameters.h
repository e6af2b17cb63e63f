// The effect's four controls, each declared whole in one table (identifier,
// type, name, ranges, default, precision, display and record flags), and the
// conversion of their values into the settings of one render. Parameter
// set-up copies the table to the host as it stands. The identifiers and the
// order are stored by hosts in projects: they never change.
#pragma once

#include <cstdint>

#include "color/temperature_settings.h"
#include "host/effect_api.h"
#include "resources/string_table.h"

namespace vemra {

/// Positions in the parameter array; 0 is the input layer, which the host
/// supplies itself.
enum ParamIndex : A_long {
    kParamInput = 0,
    kParamTemperature = 1,
    kParamMagenta = 2,
    kParamOpacity = 3,
    kParamClamp = 4,
    kParamCount = 5,  ///< num_params: the input layer and the four controls
};

/// One float slider as the host receives it in u.fs_d. The slider starts at
/// its default; value_desc and phase stay empty.
struct FloatSliderDeclaration {
    float valid_min, valid_max;    ///< what may be typed in
    float slider_min, slider_max;  ///< what the slider spans
    float dephault;
    std::int16_t precision;  ///< decimal places shown
    std::int16_t display_flags;
    std::uint32_t fs_flags;
    float curve_tolerance;
};

/// One 16.16 fixed-point slider as the host receives it in u.fd. The slider
/// starts at its default; value_str and value_desc stay empty.
struct FixedSliderDeclaration {
    PF_Fixed valid_min, valid_max;
    PF_Fixed slider_min, slider_max;
    PF_Fixed dephault;
    std::int16_t precision;  ///< decimal places shown
    std::int16_t display_flags;
};

/// One checkbox as the host receives it in u.bd. It starts at its default.
struct CheckboxDeclaration {
    char dephault;
    const char* label;  ///< the text beside the box
};

/// A control's whole declaration. Of the three kinds only the one that `type`
/// names is read; every field it does not set reaches the host as zero.
struct ControlDeclaration {
    ParamIndex index;
    StringId name;
    PF_ParamType type;
    A_long id;     ///< uu.id: "Temperature" and "Magenta" share 2, and no control has 3
    A_long flags;  ///< the record's flags
    FloatSliderDeclaration float_slider{};
    FixedSliderDeclaration fixed_slider{};
    CheckboxDeclaration checkbox{};
};

inline constexpr PF_Fixed kFixedOne = 65536;  ///< 1.0 in 16.16 fixed point

/// "Temperature" and "Magenta" are the same slider: valid -5..5, slider -2..2,
/// default 0, one decimal place shown.
inline constexpr FloatSliderDeclaration kShiftSlider{
    .valid_min = -5.0f,
    .valid_max = 5.0f,
    .slider_min = -2.0f,
    .slider_max = 2.0f,
    .dephault = 0.0f,
    .precision = 1,
    .display_flags = 0,
    .fs_flags = 0,
    .curve_tolerance = 0.05f,
};

/// The four controls, in the order the host numbers them.
inline constexpr ControlDeclaration kControls[] = {
    {
        .index = kParamTemperature,
        .name = StrID_Temperature_Param_Name,
        .type = PF_Param_FLOAT_SLIDER,
        .id = 2,
        .flags = 0,
        .float_slider = kShiftSlider,
    },
    {
        .index = kParamMagenta,
        .name = StrID_Magenta_Param_Name,
        .type = PF_Param_FLOAT_SLIDER,
        .id = 2,
        .flags = 0,
        .float_slider = kShiftSlider,
    },
    {
        // A percentage 0..100, default 100, shown with a percent sign.
        .index = kParamOpacity,
        .name = StrID_Opacity_Param_Name,
        .type = PF_Param_FIX_SLIDER,
        .id = 4,
        .flags = 0,
        .fixed_slider =
            {
                .valid_min = 0,
                .valid_max = 100 * kFixedOne,
                .slider_min = 0,
                .slider_max = 100 * kFixedOne,
                .dephault = 100 * kFixedOne,
                .precision = 1,
                .display_flags = PF_ValueDisplayFlag_PERCENT,
            },
    },
    {
        // Off by default, no label beside the box, not animatable.
        .index = kParamClamp,
        .name = StrID_Clamp_Param_Name,
        .type = PF_Param_CHECKBOX,
        .id = 5,
        .flags = PF_ParamFlag_CANNOT_TIME_VARY,
        .checkbox = {.dephault = 0, .label = ""},
    },
};

namespace control_checks {

/// Rows in parameter order, 1 up, and num_params counting every one of them.
constexpr bool RowsInParameterOrder() {
    A_long expected = kParamInput + 1;
    for (const ControlDeclaration& control : kControls)
        if (control.index != expected++) return false;
    return expected == kParamCount;
}
static_assert(RowsInParameterOrder(), "one row per control, in the host's order");

}  // namespace control_checks

/// Converts the four control values of a render's parameter array into the
/// colour settings, with the exact rounding the colour results depend on.
/// Trusts the array: it checks neither its length nor the parameter types.
TemperatureSettings SettingsFromParams(PF_ParamDef* const params[]);

}  // namespace vemra
