// The library's only exported function: maps the host's command number to its
// handler, and turns an error code raised by a suite table back into a result.
#include <type_traits>

#include "effect/commands.h"
#include "effect/export.h"

extern "C" VEMRA_EXPORT PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                              PF_ParamDef* params[], PF_LayerDef* output,
                                              void* /*extra*/) {
    try {
        switch (cmd) {
            case PF_Cmd_ABOUT:
                return vemra::About(in_data, out_data);
            case PF_Cmd_GLOBAL_SETUP:
                return vemra::GlobalSetup(in_data, out_data);
            case PF_Cmd_PARAMS_SETUP:
                return vemra::ParamsSetup(in_data, out_data);
            case PF_Cmd_RENDER:
                return vemra::Render(in_data, out_data, params, output);
            default:
                // Stateless: every other command has nothing to do.
                return PF_Err_NONE;
        }
    } catch (PF_Err raised) {
        // Suite tables on the way have been destroyed and released their suites.
        return raised;
    }
}

// The declaration the host calls through must match ours exactly.
static_assert(std::is_same_v<decltype(&EntryPointFunc), PF_EntryPointFunc>);
