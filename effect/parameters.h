// The effect's four controls, each declared whole in one table (identifier,
// type, name, ranges, default, precision, display and record flags), and the
// conversion of their values into the settings of one render. Order, names,
// ranges and defaults come from the host-free rows in resources/controls.h;
// this table adds what only this host knows. Parameter set-up copies the
// table to the host as it stands. The identifiers and the order are stored by
// hosts in projects: they never change.
#pragma once

#include <cstdint>

#include "color/temperature_settings.h"
#include "host/effect_api.h"
#include "resources/controls.h"
#include "resources/string_table.h"

namespace vemra {

/// Positions in the parameter array; 0 is the input layer, which the host
/// supplies itself.
enum ParamIndex : A_long {
    kParamInput = 0,
    kParamTemperature = 1 + kTemperaturePosition,
    kParamMagenta = 1 + kMagentaPosition,
    kParamOpacity = 1 + kOpacityPosition,
    kParamClamp = 1 + kClampPosition,
    kParamCount = 1 + kControlCount,  ///< num_params: the input layer and the four controls
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

/// A value in the slider's units as 16.16 fixed point; the declared values
/// are whole numbers, so the product is exact.
constexpr PF_Fixed Fixed(double value) {
    return static_cast<PF_Fixed>(value * kFixedOne);
}

/// Display flags of a slider: a percentage is shown with a percent sign.
constexpr std::int16_t DisplayFlags(const SliderControl& control) {
    return control.percent ? PF_ValueDisplayFlag_PERCENT : std::int16_t{0};
}

/// A float slider as this host declares it; it keeps the curve tolerance
/// of 0.05 that hosts use to simplify its animation curves.
constexpr FloatSliderDeclaration FloatSlider(const SliderControl& control) {
    return {
        .valid_min = static_cast<float>(control.valid_min),
        .valid_max = static_cast<float>(control.valid_max),
        .slider_min = static_cast<float>(control.slider_min),
        .slider_max = static_cast<float>(control.slider_max),
        .dephault = static_cast<float>(control.dephault),
        .precision = static_cast<std::int16_t>(control.precision),
        .display_flags = DisplayFlags(control),
        .fs_flags = 0,
        .curve_tolerance = 0.05f,
    };
}

/// A fixed-point slider as this host declares it.
constexpr FixedSliderDeclaration FixedSlider(const SliderControl& control) {
    return {
        .valid_min = Fixed(control.valid_min),
        .valid_max = Fixed(control.valid_max),
        .slider_min = Fixed(control.slider_min),
        .slider_max = Fixed(control.slider_max),
        .dephault = Fixed(control.dephault),
        .precision = static_cast<std::int16_t>(control.precision),
        .display_flags = DisplayFlags(control),
    };
}

/// The four controls, in the order the host numbers them.
inline constexpr ControlDeclaration kControls[] = {
    {
        .index = kParamTemperature,
        .name = kTemperatureControl.name,
        .type = PF_Param_FLOAT_SLIDER,
        .id = 2,
        .flags = 0,
        .float_slider = FloatSlider(kTemperatureControl),
    },
    {
        .index = kParamMagenta,
        .name = kMagentaControl.name,
        .type = PF_Param_FLOAT_SLIDER,
        .id = 2,
        .flags = 0,
        .float_slider = FloatSlider(kMagentaControl),
    },
    {
        // A percentage, shown with a percent sign.
        .index = kParamOpacity,
        .name = kOpacityControl.name,
        .type = PF_Param_FIX_SLIDER,
        .id = 4,
        .flags = 0,
        .fixed_slider = FixedSlider(kOpacityControl),
    },
    {
        // No label beside the box, not animatable.
        .index = kParamClamp,
        .name = kClampControl.name,
        .type = PF_Param_CHECKBOX,
        .id = 5,
        .flags = PF_ParamFlag_CANNOT_TIME_VARY,
        .checkbox = {.dephault = kClampControl.dephault ? char{1} : char{0}, .label = ""},
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
