// The Pixel Format suite: the formats the effect registers, and the format
// the host reports for a world (or the answer a test set up instead).
#include "sim/host_state.h"

namespace sim {

PF_Err ClearSupportedPixelFormats(PF_ProgPtr effect_ref) {
    Call call(Service::kClearSupportedPixelFormats, effect_ref);
    if (!call.ok()) return kErrOutsideCommand;
    if (!call.OwnHandle(effect_ref)) return kErrBadCallbackParam;
    if (const PF_Err failure = call.InjectedFailure()) return failure;
    HostState& state = call.state();
    std::lock_guard lock(state.mutex);
    state.pixel_formats.clear();
    return PF_Err_NONE;
}

PF_Err AddSupportedPixelFormat(PF_ProgPtr effect_ref, PrPixelFormat format) {
    Call call(Service::kAddSupportedPixelFormat, effect_ref);
    if (!call.ok()) return kErrOutsideCommand;
    if (!call.OwnHandle(effect_ref)) return kErrBadCallbackParam;
    if (const PF_Err failure = call.InjectedFailure()) return failure;
    HostState& state = call.state();
    std::lock_guard lock(state.mutex);
    state.pixel_formats.push_back(format);
    return PF_Err_NONE;
}

PF_Err GetPixelFormat(PF_EffectWorld* world, PrPixelFormat* format) {
    Call call(Service::kGetPixelFormat);
    if (!call.ok()) return kErrOutsideCommand;
    HostState& state = call.state();
    const World* known = state.WorldFor(world);
    if (known == nullptr || format == nullptr) {
        call.Violation(format == nullptr
                           ? "GetPixelFormat with a null result pointer"
                           : "GetPixelFormat of a world this command did not hand out");
        return kErrBadCallbackParam;
    }
    std::lock_guard lock(state.mutex);
    if (state.format_overridden) {
        if (state.format_answer) *format = *state.format_answer;
        return state.format_result;
    }
    *format = known->pixel_format();
    return PF_Err_NONE;
}

}  // namespace sim
