// The effect's controls as a host finds them: by type and declaration order,
// not by name or identifier, so the stand-in host and the tools built on it
// work with any effect that declares two float sliders, a fixed slider and a
// checkbox. Also the 16.16 fixed-point conversions of the fixed slider.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "host/effect_api.h"

namespace sim {

/// Where each control sits among the declarations (an index into what
/// add_param received, so entry index + 1 of a render's parameter array).
struct ControlRoles {
    std::optional<std::size_t> temperature;  ///< the first float slider
    std::optional<std::size_t> magenta;      ///< the second float slider
    std::optional<std::size_t> opacity;      ///< the first fixed slider
    std::optional<std::size_t> clamp;        ///< the first checkbox

    /// True when every role was found.
    bool complete() const { return temperature && magenta && opacity && clamp; }
};

/// The roles among `declared`, the definitions in the order the effect added
/// them at parameter set-up. Later controls of a type whose roles are filled
/// play no part.
ControlRoles FindControlRoles(const std::vector<PF_ParamDef>& declared);

/// A value in a fixed slider's units as 16.16 fixed point, rounded to the
/// nearest (halves away from zero). `value` must lie within what 16.16 holds
/// (-32768 to just under 32768); the host checks the control's range first.
PF_Fixed ToFixed(double value);
/// A 16.16 fixed-point word in the slider's units; exact.
double FromFixed(PF_Fixed value);

}  // namespace sim
