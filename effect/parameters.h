// The effect's four controls, declared as one table, and the conversion of
// their values into the settings of one render. The identifiers and the order
// are stored by hosts in projects: they never change.
#pragma once

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

struct ControlDeclaration {
    ParamIndex index;
    StringId name;
    PF_ParamType type;
    A_long id;  ///< uu.id: "Temperature" and "Magenta" share 2, and no control has 3
};

inline constexpr ControlDeclaration kControls[] = {
    {kParamTemperature, StrID_Temperature_Param_Name, PF_Param_FLOAT_SLIDER, 2},
    {kParamMagenta, StrID_Magenta_Param_Name, PF_Param_FLOAT_SLIDER, 2},
    {kParamOpacity, StrID_Opacity_Param_Name, PF_Param_FIX_SLIDER, 4},
    {kParamClamp, StrID_Clamp_Param_Name, PF_Param_CHECKBOX, 5},
};

// "Temperature" and "Magenta": float sliders, valid -5..5, slider -2..2.
inline constexpr float kShiftValidMin = -5.0f;
inline constexpr float kShiftValidMax = 5.0f;
inline constexpr float kShiftSliderMin = -2.0f;
inline constexpr float kShiftSliderMax = 2.0f;
inline constexpr float kShiftDefault = 0.0f;
inline constexpr std::int16_t kShiftPrecision = 1;  ///< one decimal place shown
inline constexpr float kShiftCurveTolerance = 0.05f;

// "Opacity": a 16.16 fixed-point percentage, 0..100, default 100.
inline constexpr PF_Fixed kFixedOne = 65536;
inline constexpr PF_Fixed kOpacityMin = 0;
inline constexpr PF_Fixed kOpacityMax = 100 * kFixedOne;
inline constexpr PF_Fixed kOpacityDefault = 100 * kFixedOne;
inline constexpr std::int16_t kOpacityPrecision = 1;

// "Clamp on output": off by default, no label beside the box, not animatable.
inline constexpr char kClampDefault = 0;

/// Converts the four control values of a render's parameter array into the
/// colour settings, with the exact rounding the colour results depend on.
/// Trusts the array: it checks neither its length nor the parameter types.
TemperatureSettings SettingsFromParams(PF_ParamDef* const params[]);

}  // namespace vemra
