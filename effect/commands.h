// The four command handlers EntryPointFunc dispatches to. Each returns an
// error code; a suite the host cannot supply is raised as the bare code 516
// by the suite table and caught in EntryPointFunc.
#pragma once

#include "host/effect_api.h"

namespace vemra {

/// Command 0: writes the about text into return_msg through the ANSI suite.
PF_Err About(PF_InData* in_data, PF_OutData* out_data);

/// Command 1: declares version and flags and, in the "PrMr" host, the pixel
/// formats the effect renders. Always returns 0.
PF_Err GlobalSetup(PF_InData* in_data, PF_OutData* out_data);

/// Command 4: declares the four controls.
PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data);

/// Command 11: renders one frame of the input layer into `output`.
PF_Err Render(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output);

}  // namespace vemra
