// The loaded effect as the tool's two hosts see it: loaded once, introduced
// to each host (global set-up, parameter set-up), then asked to render.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/effect_library.h"
#include "sim/host.h"
#include "sim/world.h"
#include "tools/vemra-render/session/layout_choice.h"

namespace render {

/// Thrown when the effect cannot be loaded or set up, a value is outside a
/// control's valid range, or a render fails; the message is one line.
class EffectError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// One control as the effect declared it, in the units the host shows.
struct ControlInfo {
    std::string name;    ///< the declared name, e.g. "Temperature"
    std::string option;  ///< the tool's option for it, e.g. "--temperature"
    PF_ParamType type;
    A_long id;             ///< the identifier hosts store in projects
    double default_value;  ///< a checkbox: 0 or 1
    double valid_min, valid_max, slider_min, slider_max;  ///< sliders only
    int precision;                                        ///< decimal places shown
    bool percent;                                         ///< shown with a percent sign
};

class EffectSession {
  public:
    /// Loads the effect library at `path` and sends global set-up and
    /// parameter set-up in both hosts. `threads` is the hosts' iteration
    /// thread count (at least 1). Throws EffectError.
    EffectSession(const std::string& path, int threads);
    ~EffectSession();
    EffectSession(const EffectSession&) = delete;
    EffectSession& operator=(const EffectSession&) = delete;

    const std::string& path() const { return library_.path(); }

    /// The about text (command 0) with its carriage returns made line breaks.
    std::string AboutText();
    /// The four controls the renders set, in the order temperature, magenta,
    /// opacity, clamp, found among the declarations as the host finds them
    /// (the first two float sliders, the first fixed slider, the first checkbox).
    const std::vector<ControlInfo>& controls() const { return controls_; }
    /// Every declaration, as received.
    const std::vector<PF_ParamDef>& declared_params() const {
        return slots_[0].ae->declared_params();
    }
    /// The declared defaults.
    sim::ParamValues Defaults() const { return slots_[0].ae->Defaults(); }
    /// What each host may hand the effect, from its global set-up.
    const HostCapabilities& capabilities() const { return capabilities_; }

    /// Throws EffectError naming the option, the control and its valid range
    /// for the first value outside it.
    void CheckValues(const sim::ParamValues& values) const;

    /// Sets up `count` pairs of hosts (slot 0 is the session's own), so that
    /// `count` frames can render at once, each pair iterating on `threads`
    /// threads. Throws EffectError as the constructor does.
    void PrepareSlots(int count, int threads);
    int slots() const { return int(slots_.size()); }

    /// Renders `input` in `host` into `output` (the same layout and size) with
    /// the hosts of `slot`; different slots may render at the same time.
    /// Throws EffectError with the effect's code and message when it fails.
    void Render(int slot, HostKind host, sim::World& input, sim::World& output,
                const sim::ParamValues& values);
    /// Renders with slot 0 into a new world of the same layout and size.
    sim::World Render(HostKind host, sim::World& input, const sim::ParamValues& values);

  private:
    /// One "ae" and one "prmr" host, introduced to the effect.
    struct HostPair {
        std::unique_ptr<sim::Host> ae;
        std::unique_ptr<sim::Host> prmr;
        sim::Host& For(HostKind host) { return host == HostKind::kAe ? *ae : *prmr; }
    };
    HostPair NewHosts(int threads);

    sim::EffectLibrary library_;
    std::vector<HostPair> slots_;
    std::vector<ControlInfo> controls_;
    HostCapabilities capabilities_;
};

/// Formats a control's value as the host shows it: its precision, a percent
/// sign for percent sliders, "on"/"off" for a checkbox.
std::string FormatValue(const ControlInfo& control, double value);

}  // namespace render
