#include "tools/vemra-render/session/effect_session.h"

#include <fmt/format.h>

#include <algorithm>
#include <optional>

#include "sim/controls.h"
#include "tools/vemra-render/pixels/pixel_convert.h"

namespace render {

namespace {

/// The declared name, cut at its terminator or at the field's end.
std::string NameOf(const PF_ParamDef& def) {
    return std::string(def.name, strnlen(def.name, sizeof def.name));
}

/// The control `def` declares, in the units the host shows.
ControlInfo ControlOfDeclaration(const PF_ParamDef& def) {
    ControlInfo info{NameOf(def), ControlKind::kCheckbox, long(def.uu.id), 0, 0, 0, 0, 0, 0, false};
    switch (def.param_type) {
        case PF_Param_FLOAT_SLIDER:
            info.kind = ControlKind::kFloatSlider;
            info.default_value = double(def.u.fs_d.dephault);
            info.valid_min = double(def.u.fs_d.valid_min);
            info.valid_max = double(def.u.fs_d.valid_max);
            info.slider_min = double(def.u.fs_d.slider_min);
            info.slider_max = double(def.u.fs_d.slider_max);
            info.precision = def.u.fs_d.precision;
            info.percent = (def.u.fs_d.display_flags & PF_ValueDisplayFlag_PERCENT) != 0;
            break;
        case PF_Param_FIX_SLIDER:
            info.kind = ControlKind::kFixedSlider;
            info.default_value = sim::FromFixed(def.u.fd.dephault);
            info.valid_min = sim::FromFixed(def.u.fd.valid_min);
            info.valid_max = sim::FromFixed(def.u.fd.valid_max);
            info.slider_min = sim::FromFixed(def.u.fd.slider_min);
            info.slider_max = sim::FromFixed(def.u.fd.slider_max);
            info.precision = def.u.fd.precision;
            info.percent = (def.u.fd.display_flags & PF_ValueDisplayFlag_PERCENT) != 0;
            break;
        default:
            info.default_value = def.u.bd.dephault != 0 ? 1.0 : 0.0;
            break;
    }
    return info;
}

/// A world of `layout` and size in `world`, kept when it already is one.
sim::World& EnsureWorld(std::optional<sim::World>& world, sim::Layout layout, int width,
                        int height) {
    if (!world || world->layout() != layout || world->width() != width ||
        world->height() != height) {
        world.reset();  // the old buffer goes before the new one is made
        world.emplace(layout, width, height);
    }
    return *world;
}

std::string Quoted(const char* message, std::size_t size) {
    return std::string(message, strnlen(message, size));
}

}  // namespace

std::string FormatValue(const ControlInfo& control, double value) {
    if (control.kind == ControlKind::kCheckbox) return value != 0.0 ? "on" : "off";
    const int precision = std::clamp(control.precision, 0, 6);
    return fmt::format("{:.{}f}{}", value, precision, control.percent ? "%" : "");
}

EffectSession::EffectSession(const std::string& path, int threads)
    : library_([&] {
          try {
              return sim::EffectLibrary::Load(path);
          } catch (const sim::LoadError& e) {
              throw EffectError(fmt::format("cannot load the effect: {}", e.what()));
          }
      }()) {
    slots_.push_back(NewHosts(threads));
    capabilities_.prmr_formats = slots_[0].prmr->supported_pixel_formats();
    capabilities_.ae_deep = (slots_[0].ae->out_data().out_flags & PF_OutFlag_DEEP_COLOR_AWARE) != 0;

    // The controls, found as the host finds them; the host names a role the
    // effect did not declare.
    sim::Host& ae = *slots_[0].ae;
    try {
        defaults_ = ae.Defaults();
    } catch (const sim::HostError& e) {
        throw EffectError(fmt::format("{}: {}", path, e.what()));
    }
    const std::vector<PF_ParamDef>& declared = ae.declared_params();
    const sim::ControlRoles roles = sim::FindControlRoles(declared);
    controls_ = {ControlOfDeclaration(declared[*roles.temperature]),
                 ControlOfDeclaration(declared[*roles.magenta]),
                 ControlOfDeclaration(declared[*roles.opacity]),
                 ControlOfDeclaration(declared[*roles.clamp])};
}

EffectSession::~EffectSession() = default;

EffectSession::HostPair EffectSession::NewHosts(int threads) {
    // Hosts that render keep no log of the effect's calls: nothing grows
    // frame by frame.
    HostPair pair{
        std::make_unique<sim::Host>(library_, ApplIdOf(HostKind::kAe), sim::Recording::kOff),
        std::make_unique<sim::Host>(library_, ApplIdOf(HostKind::kPrmr), sim::Recording::kOff),
        std::nullopt, std::nullopt};
    for (HostKind kind : {HostKind::kAe, HostKind::kPrmr}) {
        sim::Host& host = pair.For(kind);
        host.SetThreads(threads);
        if (const PF_Err code = host.GlobalSetup(); code != PF_Err_NONE) {
            throw EffectError(fmt::format("{}: global set-up in the {} host failed with code {}",
                                          path(), HostName(kind), code));
        }
        if (const PF_Err code = host.ParamsSetup(); code != PF_Err_NONE) {
            throw EffectError(
                fmt::format("{}: parameter set-up failed with code {}", path(), code));
        }
    }
    return pair;
}

void EffectSession::PrepareSlots(int count, int threads) {
    for (HostPair& pair : slots_) {
        pair.ae->SetThreads(threads);
        pair.prmr->SetThreads(threads);
    }
    while (int(slots_.size()) < count) slots_.push_back(NewHosts(threads));
}

std::string EffectSession::AboutText() {
    sim::Host& ae = *slots_[0].ae;
    PF_OutData& out = ae.out_data();
    out.return_msg[0] = '\0';
    if (const PF_Err code = ae.About(); code != PF_Err_NONE) {
        throw EffectError(fmt::format("{}: the about command failed with code {}", path(), code));
    }
    std::string text = Quoted(out.return_msg, sizeof out.return_msg);
    std::replace(text.begin(), text.end(), '\r', '\n');
    return text;
}

RenderReport EffectSession::RenderSamples(int slot, const ConstSamples& before,
                                          const Samples& after, const ParamValues& values,
                                          std::optional<HostKind> host,
                                          std::optional<Depth> depth) {
    HostPair& pair = slots_.at(std::size_t(slot));
    RenderReport report{ChooseLayout(before.layout.type, host, depth, capabilities_)};
    sim::World& input = EnsureWorld(pair.input, report.choice.layout, before.width, before.height);
    sim::World& output =
        EnsureWorld(pair.output, report.choice.layout, before.width, before.height);
    report.clipped = SamplesToWorld(before, input).clipped;
    Render(pair, report.choice.host, input, output, values);
    WorldToSamples(output, after);
    return report;
}

void EffectSession::ReleaseWorlds(int slot) {
    HostPair& pair = slots_.at(std::size_t(slot));
    pair.input.reset();
    pair.output.reset();
}

void EffectSession::Render(HostPair& slot, HostKind kind, sim::World& input, sim::World& output,
                           const ParamValues& values) {
    sim::Host& host = slot.For(kind);
    PF_OutData& out = host.out_data();
    out.out_flags &= ~PF_OutFlag_DISPLAY_ERROR_MESSAGE;
    out.return_msg[0] = '\0';
    PF_Err code;
    try {
        code = host.Render(input, output, values);
    } catch (const sim::HostError& e) {
        throw EffectError(e.what());
    }
    if (code != PF_Err_NONE) {
        std::string message = fmt::format("the effect failed to render ({} host, {}) with code {}",
                                          HostName(kind), DescribeLayout(input.layout()), code);
        if ((out.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) != 0) {
            message += ": " + Quoted(out.return_msg, sizeof out.return_msg);
        }
        throw EffectError(message);
    }
}

}  // namespace render
