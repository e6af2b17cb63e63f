// Driving the effect: each command with fresh in_data and this host active,
// parameter set-up keeping what the effect declared, and renders whose
// parameter array places the values by the controls' roles.
#include <sstream>

#include "sim/host_state.h"

namespace sim {
namespace {

std::string NameOf(const PF_ParamDef& def) {
    return std::string(def.name, strnlen(def.name, sizeof def.name));
}

std::string Number(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

}  // namespace

PF_Err HostState::Run(PF_Cmd cmd, PF_ParamDef** params, World* input_world, World* output_world,
                      const PF_LayerDef* input_record) {
    const PF_EntryPointFunc entry = effect.entry_point();
    if (entry == nullptr) throw HostError("no effect is loaded (the library was moved from)");
    PF_InData& in = in_data;
    in = PF_InData{};
    in.inter.add_param = &AddParam;
    in.utils = &utils;
    in.effect_ref = &handle;
    in.quality = quality;
    in.appl_id = appl_id;
    in.pica_basicP = withhold_basic ? nullptr : &basic;
    in.width = input_world != nullptr ? input_world->width() : 0;
    in.height = input_world != nullptr ? input_world->height() : 0;
    add_param_calls = 0;
    input = input_world;
    output = output_world;
    input_param = input_record;

    struct EndOfCommand {
        HostState& state;
        ~EndOfCommand() {
            state.in_command = false;
            state.input = state.output = nullptr;
            state.input_param = nullptr;
        }
    } end{*this};
    ActiveScope active(this);
    in_command = true;
    return entry(cmd, &in, &out_data, params,
                 output_world != nullptr ? &output_world->def() : nullptr, nullptr);
}

PF_Err HostState::ParamsSetup() {
    declared.clear();
    params_ready = false;
    const PF_Err result = Run(PF_Cmd_PARAMS_SETUP, nullptr, nullptr, nullptr, nullptr);
    if (result == PF_Err_NONE) {
        params_ready = true;
        const A_long expected = A_long(declared.size()) + 1;
        if (out_data.num_params != expected) {
            Violation("parameter set-up declared " + std::to_string(declared.size()) +
                      " controls but set num_params to " + std::to_string(out_data.num_params) +
                      ", not " + std::to_string(expected));
        }
    }
    return result;
}

PF_Err HostState::EnsureParams() {
    return params_ready ? PF_Err_NONE : ParamsSetup();
}

ControlRoles HostState::RequireRoles() const {
    if (!params_ready) throw HostError("the effect's parameter set-up has not succeeded");
    const ControlRoles roles = FindControlRoles(declared);
    auto missing = [](const char* what) {
        return HostError(std::string("the effect declared no ") + what);
    };
    if (!roles.temperature) throw missing("float slider for Temperature");
    if (!roles.magenta) throw missing("second float slider for Magenta");
    if (!roles.opacity) throw missing("fixed slider for Opacity");
    if (!roles.clamp) throw missing("checkbox for Clamp");
    return roles;
}

PF_Err HostState::RenderWith(
    World& input_world, World& output_world, const ControlRoles& roles,
    const std::function<void(std::vector<PF_ParamDef>&, const ControlRoles&)>& set_values) {
    std::vector<PF_ParamDef> defs(1);
    defs[0].param_type = PF_Param_LAYER;
    defs[0].u.ld = input_world.def();
    defs.insert(defs.end(), declared.begin(), declared.end());
    // Controls that were never declared get a plain definition of their type
    // (only an unchecked render gets this far without them).
    ControlRoles placed = roles;
    auto add_plain = [&](std::optional<std::size_t>& role, PF_ParamType type) {
        if (role) return;
        PF_ParamDef plain{};
        plain.param_type = type;
        role = defs.size() - 1;
        defs.push_back(plain);
    };
    add_plain(placed.temperature, PF_Param_FLOAT_SLIDER);
    add_plain(placed.magenta, PF_Param_FLOAT_SLIDER);
    add_plain(placed.opacity, PF_Param_FIX_SLIDER);
    add_plain(placed.clamp, PF_Param_CHECKBOX);
    set_values(defs, placed);

    std::vector<PF_ParamDef*> array;
    for (PF_ParamDef& def : defs) array.push_back(&def);
    return Run(PF_Cmd_RENDER, array.data(), &input_world, &output_world, &defs[0].u.ld);
}

// --- The commands of Host ----------------------------------------------------------

PF_Err Host::Send(PF_Cmd cmd) {
    return state_->Run(cmd, nullptr, nullptr, nullptr, nullptr);
}
PF_Err Host::About() {
    return Send(PF_Cmd_ABOUT);
}
PF_Err Host::GlobalSetup() {
    return Send(PF_Cmd_GLOBAL_SETUP);
}
PF_Err Host::ParamsSetup() {
    return state_->ParamsSetup();
}

PF_Err Host::Render(World& input, World& output, const ParamValues& values) {
    if (const PF_Err setup = state_->EnsureParams(); setup != PF_Err_NONE) {
        throw HostError("the effect's parameter set-up failed with code " + std::to_string(setup) +
                        ", so there is nothing to render with");
    }
    const ControlRoles roles = state_->RequireRoles();
    const std::vector<PF_ParamDef>& declared = state_->declared;

    auto check = [&](std::size_t index, double value, double low, double high) {
        if (!(value >= low && value <= high)) {  // NaN fails both comparisons
            throw HostError(NameOf(declared[index]) + " = " + Number(value) +
                            " is outside its valid range " + Number(low) + " to " + Number(high));
        }
    };
    const PF_FloatSliderDef& temperature = declared[*roles.temperature].u.fs_d;
    const PF_FloatSliderDef& magenta = declared[*roles.magenta].u.fs_d;
    const PF_FixedSliderDef& opacity = declared[*roles.opacity].u.fd;
    check(*roles.temperature, values.temperature, double(temperature.valid_min),
          double(temperature.valid_max));
    check(*roles.magenta, values.magenta, double(magenta.valid_min), double(magenta.valid_max));
    check(*roles.opacity, values.opacity, FromFixed(opacity.valid_min),
          FromFixed(opacity.valid_max));

    return state_->RenderWith(input, output, roles,
                              [&](std::vector<PF_ParamDef>& defs, const ControlRoles& at) {
                                  // Entry i + 1 of the array is declaration i.
                                  defs[*at.temperature + 1].u.fs_d.value = values.temperature;
                                  defs[*at.magenta + 1].u.fs_d.value = values.magenta;
                                  defs[*at.opacity + 1].u.fd.value = ToFixed(values.opacity);
                                  defs[*at.clamp + 1].u.bd.value = values.clamp ? 1 : 0;
                              });
}

PF_Err Host::RenderUnchecked(World& input, World& output, const RawParamValues& values) {
    state_->EnsureParams();  // a failure leaves plain definitions to stand in
    return state_->RenderWith(input, output, FindControlRoles(state_->declared),
                              [&](std::vector<PF_ParamDef>& defs, const ControlRoles& at) {
                                  defs[*at.temperature + 1].u.fs_d.value = values.temperature;
                                  defs[*at.magenta + 1].u.fs_d.value = values.magenta;
                                  defs[*at.opacity + 1].u.fd.value = values.opacity;
                                  defs[*at.clamp + 1].u.bd.value = values.clamp;
                              });
}

ParamValues Host::Defaults() const {
    const ControlRoles roles = state_->RequireRoles();
    const std::vector<PF_ParamDef>& declared = state_->declared;
    ParamValues values;
    values.temperature = double(declared[*roles.temperature].u.fs_d.dephault);
    values.magenta = double(declared[*roles.magenta].u.fs_d.dephault);
    values.opacity = FromFixed(declared[*roles.opacity].u.fd.dephault);
    values.clamp = declared[*roles.clamp].u.bd.dephault != 0;
    return values;
}

}  // namespace sim
