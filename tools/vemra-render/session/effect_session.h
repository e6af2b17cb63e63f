// The loaded effect as the tool's two hosts see it: loaded once, introduced
// to each host (global set-up, parameter set-up), then asked to render.
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/effect_library.h"
#include "sim/host.h"
#include "sim/world.h"
#include "tools/vemra-render/pixels/samples.h"
#include "tools/vemra-render/session/layout_choice.h"

namespace render {

/// Thrown when the effect cannot be loaded or set up, or a render fails; the
/// message is one line.
class EffectError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// The kinds of control the tool sets.
enum class ControlKind { kFloatSlider, kFixedSlider, kCheckbox };

/// One control as the effect declared it, in the units the host shows.
struct ControlInfo {
    std::string name;  ///< the declared name, e.g. "Temperature"
    ControlKind kind;
    long id;               ///< the identifier hosts store in projects
    double default_value;  ///< a checkbox: 0 or 1
    double valid_min, valid_max, slider_min, slider_max;  ///< sliders only
    int precision;                                        ///< decimal places shown
    bool percent;                                         ///< shown with a percent sign
};

/// The controls the effect declared, by the role each plays in a render
/// (sim/controls.h: found by type and order, as a host finds them).
struct DeclaredControls {
    ControlInfo temperature;
    ControlInfo magenta;
    ControlInfo opacity;
    ControlInfo clamp;
};

/// The four control values of a render, by role, in the units the host shows.
using ParamValues = sim::ParamValues;

/// What rendering a frame's samples did.
struct RenderReport {
    LayoutChoice choice;      ///< the host and layout the samples went through
    std::size_t clipped = 0;  ///< samples clipped on their way into the world
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
    /// The four controls the renders set, found among the declarations as
    /// the host finds them (the first two float sliders, the first fixed
    /// slider, the first checkbox).
    const DeclaredControls& controls() const { return controls_; }
    /// The declared defaults.
    const ParamValues& Defaults() const { return defaults_; }
    /// What each host may hand the effect, from its global set-up.
    const HostCapabilities& capabilities() const { return capabilities_; }

    /// Sets up `count` pairs of hosts (slot 0 is the session's own), so that
    /// `count` frames can render at once, each pair iterating on `threads`
    /// threads. Throws EffectError as the constructor does.
    void PrepareSlots(int count, int threads);

    /// Renders `before` through the effect with the hosts of `slot`, in the
    /// host and layout ChooseLayout picks for the samples' type under `host`
    /// and `depth`, into `after` (the same size; it may be the same memory).
    /// Each slot keeps its worlds from frame to frame, and different slots
    /// may render at the same time. Throws LayoutError for a layout the
    /// effect does not render, and EffectError with the effect's code and
    /// message when it fails.
    RenderReport RenderSamples(int slot, const ConstSamples& before, const Samples& after,
                               const ParamValues& values, std::optional<HostKind> host,
                               std::optional<Depth> depth);

    /// Frees the worlds `slot` keeps from frame to frame; its next render
    /// makes them again. Not while the slot renders.
    void ReleaseWorlds(int slot);

  private:
    /// One "ae" and one "prmr" host, introduced to the effect, and the
    /// worlds a frame is rendered between.
    struct HostPair {
        std::unique_ptr<sim::Host> ae;
        std::unique_ptr<sim::Host> prmr;
        std::optional<sim::World> input;
        std::optional<sim::World> output;
        sim::Host& For(HostKind host) { return host == HostKind::kAe ? *ae : *prmr; }
    };
    HostPair NewHosts(int threads);
    /// Renders `input` in `host` into `output` (the same layout and size) with
    /// the hosts of `slot`. Throws EffectError.
    void Render(HostPair& slot, HostKind host, sim::World& input, sim::World& output,
                const ParamValues& values);

    sim::EffectLibrary library_;
    std::vector<HostPair> slots_;
    DeclaredControls controls_;
    ParamValues defaults_;
    HostCapabilities capabilities_;
};

/// Formats a control's value as the host shows it: its precision, a percent
/// sign for percent sliders, "on"/"off" for a checkbox.
std::string FormatValue(const ControlInfo& control, double value);

}  // namespace render
