// Command 4: declares the four controls to the host, in order, each copied
// field by field from its row of the table in parameters.h. One record serves
// all four and is cleared before each, so every field a control does not set
// reaches the host as zero.
#include <cstring>

#include "effect/commands.h"
#include "effect/parameters.h"

namespace vemra {
namespace {

void Fill(PF_FloatSliderDef& slider, const FloatSliderDeclaration& d) {
    slider.value = static_cast<double>(d.dephault);
    slider.dephault = d.dephault;
    slider.valid_min = d.valid_min;
    slider.valid_max = d.valid_max;
    slider.slider_min = d.slider_min;
    slider.slider_max = d.slider_max;
    slider.precision = d.precision;
    slider.display_flags = d.display_flags;
    slider.fs_flags = d.fs_flags;
    slider.curve_tolerance = d.curve_tolerance;
}

void Fill(PF_FixedSliderDef& slider, const FixedSliderDeclaration& d) {
    slider.value = d.dephault;
    slider.dephault = d.dephault;
    slider.valid_min = d.valid_min;
    slider.valid_max = d.valid_max;
    slider.slider_min = d.slider_min;
    slider.slider_max = d.slider_max;
    slider.precision = d.precision;
    slider.display_flags = d.display_flags;
    slider.value_str[0] = '\0';
    slider.value_desc[0] = '\0';
}

void Fill(PF_CheckBoxDef& box, const CheckboxDeclaration& d) {
    box.value = d.dephault;
    box.dephault = d.dephault;
    box.u.nameptr = d.label;
}

}  // namespace

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data) {
    PF_ParamDef def;
    for (const ControlDeclaration& control : kControls) {
        std::memset(&def, 0, sizeof def);
        def.param_type = control.type;
        in_data->utils->ansi.strcpy(def.name, GetString(control.name));
        def.flags = control.flags;
        switch (control.type) {
            case PF_Param_FLOAT_SLIDER:
                Fill(def.u.fs_d, control.float_slider);
                break;
            case PF_Param_FIX_SLIDER:
                Fill(def.u.fd, control.fixed_slider);
                break;
            case PF_Param_CHECKBOX:
                Fill(def.u.bd, control.checkbox);
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
