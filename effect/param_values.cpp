// A render's parameter array to colour settings: the four values read
// straight from entries 1 to 4, converted by the rule every edition shares.
#include "color/control_values.h"
#include "effect/parameters.h"

namespace vemra {

TemperatureSettings SettingsFromParams(PF_ParamDef* const params[]) {
    return SettingsFromControls({
        .temperature = params[kParamTemperature]->u.fs_d.value,
        .magenta = params[kParamMagenta]->u.fs_d.value,
        .opacity = params[kParamOpacity]->u.fd.value,
        .clamp = params[kParamClamp]->u.bd.value,
    });
}

}  // namespace vemra
