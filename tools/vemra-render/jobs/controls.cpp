#include "tools/vemra-render/jobs/controls.h"

#include <fmt/format.h>

#include "tools/vemra-render/jobs/control_options.h"

namespace render {

ControlValues ValuesFromOptions(const Options& options, const EffectSession& session) {
    ControlValues values = session.Defaults();
    if (options.temperature) values.temperature = *options.temperature;
    if (options.magenta) values.magenta = *options.magenta;
    if (options.opacity) values.opacity = *options.opacity;
    if (options.clamp) values.clamp = *options.clamp;
    const double given[3] = {values.temperature, values.magenta, values.opacity};
    for (std::size_t i = 0; i < 3; ++i) {
        const ControlInfo& control = session.controls()[i];
        if (!(given[i] >= control.valid_min && given[i] <= control.valid_max)) {
            throw RefusedError(fmt::format("{} {}: outside the valid range of {}, {} to {}",
                                           kControlOptions[i].flag, given[i], control.name,
                                           FormatValue(control, control.valid_min),
                                           FormatValue(control, control.valid_max)));
        }
    }
    return values;
}

std::string ControlTable(const EffectSession& session) {
    std::string table = fmt::format("  {:<15} {:<17} {:>3}  {:<13} {:<8} {:<17} {}\n", "option",
                                    "name", "id", "type", "default", "valid range", "slider range");
    const std::vector<ControlInfo>& controls = session.controls();
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const ControlInfo& c = controls[i];
        const bool slider = c.kind != ControlKind::kCheckbox;
        const char* type = c.kind == ControlKind::kFloatSlider   ? "float slider"
                           : c.kind == ControlKind::kFixedSlider ? "fixed slider"
                                                                 : "checkbox";
        table += fmt::format(
            "  {:<15} {:<17} {:>3}  {:<13} {:<8} {:<17} {}\n", kControlOptions[i].flag, c.name,
            c.id, type, FormatValue(c, c.default_value),
            slider ? FormatValue(c, c.valid_min) + " to " + FormatValue(c, c.valid_max) : "",
            slider ? FormatValue(c, c.slider_min) + " to " + FormatValue(c, c.slider_max) : "");
    }
    return table;
}

std::string ControlSummary(const EffectSession& session, const ControlValues& values) {
    const std::vector<ControlInfo>& c = session.controls();
    return fmt::format(
        "{} {}, {} {}, {} {}, {} {}", c[0].name, FormatValue(c[0], values.temperature), c[1].name,
        FormatValue(c[1], values.magenta), c[2].name, FormatValue(c[2], values.opacity), c[3].name,
        FormatValue(c[3], values.clamp ? 1.0 : 0.0));
}

bool AllDefaults(const EffectSession& session, const ControlValues& values) {
    const ControlValues defaults = session.Defaults();
    return values.temperature == defaults.temperature && values.magenta == defaults.magenta &&
           values.opacity == defaults.opacity && values.clamp == defaults.clamp;
}

}  // namespace render
