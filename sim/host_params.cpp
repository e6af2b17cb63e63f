// add_param: the controls the effect declares at parameter set-up, kept in
// order for the renders that follow.
#include <cstring>

#include "sim/host_state.h"

namespace sim {

PF_Err AddParam(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDef* def) {
    Call call(Service::kAddParam, effect_ref);
    if (!call.ok()) return kErrOutsideCommand;
    if (!call.OwnHandle(effect_ref)) return kErrBadCallbackParam;
    HostState& state = call.state();
    const int number = ++state.add_param_calls;
    if (number == state.fail_add_param_call) return state.fail_add_param_code;
    if (def == nullptr) {
        call.Violation("add_param with a null definition");
        return kErrBadCallbackParam;
    }
    if (index != -1) {
        call.Violation("add_param at index " + std::to_string(index) +
                       ": only -1 (append) is supported");
        return kErrBadCallbackParam;
    }
    switch (def->param_type) {
        case PF_Param_FLOAT_SLIDER:
        case PF_Param_FIX_SLIDER:
        case PF_Param_CHECKBOX:
            break;
        default:
            call.Violation("add_param of unsupported type " +
                           std::to_string(std::int32_t(def->param_type)));
            return kErrBadCallbackParam;
    }
    PF_ParamDef copy = *def;
    if (std::memchr(def->name, '\0', sizeof def->name) == nullptr) {
        call.Violation("add_param: name is not terminated within its " +
                       std::to_string(sizeof def->name) + " bytes");
        copy.name[sizeof copy.name - 1] = '\0';
    }
    std::lock_guard lock(state.mutex);
    state.declared.push_back(copy);
    return PF_Err_NONE;
}

}  // namespace sim
