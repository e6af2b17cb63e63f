// Command 4: declares the four controls to the host, in order, from the table
// in parameters.h. One record serves all four and is cleared before each, so
// every field a control does not set reaches the host as zero.
#include <cstring>

#include "effect/commands.h"
#include "effect/parameters.h"

namespace vemra {
namespace {

void FillFloatSlider(PF_FloatSliderDef& slider) {
    slider.value = static_cast<double>(kShiftDefault);
    slider.dephault = static_cast<double>(kShiftDefault);
    slider.valid_min = kShiftValidMin;
    slider.valid_max = kShiftValidMax;
    slider.slider_min = kShiftSliderMin;
    slider.slider_max = kShiftSliderMax;
    slider.precision = kShiftPrecision;
    slider.display_flags = 0;
    slider.fs_flags = 0;
    slider.curve_tolerance = kShiftCurveTolerance;
}

void FillFixedSlider(PF_FixedSliderDef& slider) {
    slider.value = kOpacityDefault;
    slider.dephault = kOpacityDefault;
    slider.valid_min = kOpacityMin;
    slider.valid_max = kOpacityMax;
    slider.slider_min = kOpacityMin;
    slider.slider_max = kOpacityMax;
    slider.precision = kOpacityPrecision;
    slider.display_flags = PF_ValueDisplayFlag_PERCENT;
    slider.value_str[0] = '\0';
    slider.value_desc[0] = '\0';
}

void FillCheckbox(PF_ParamDef& def) {
    def.u.bd.value = kClampDefault;
    def.u.bd.dephault = kClampDefault;
    def.u.bd.u.nameptr = "";
    def.flags = PF_ParamFlag_CANNOT_TIME_VARY;
}

}  // namespace

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data) {
    PF_ParamDef def;
    for (const ControlDeclaration& control : kControls) {
        std::memset(&def, 0, sizeof def);
        def.param_type = control.type;
        in_data->utils->ansi.strcpy(def.name, GetString(control.name));
        switch (control.type) {
            case PF_Param_FLOAT_SLIDER:
                FillFloatSlider(def.u.fs_d);
                break;
            case PF_Param_FIX_SLIDER:
                FillFixedSlider(def.u.fd);
                break;
            case PF_Param_CHECKBOX:
                FillCheckbox(def);
                break;
            case PF_Param_LAYER:
                break;
        }
        def.uu.id = control.id;
        // A refused control ends set-up at once; num_params stays as it was.
        const PF_Err result = in_data->inter.add_param(in_data->effect_ref, -1, &def);
        if (result != PF_Err_NONE) return result;
    }
    out_data->num_params = kParamCount;
    return PF_Err_NONE;
}

}  // namespace vemra
