#include "tools/vemra-render/jobs/controls.h"

#include <fmt/format.h>

#include "tools/vemra-render/jobs/control_options.h"

namespace render {

namespace {

constexpr const char* kTableRow = "  {:<15} {:<17} {:>3}  {:<13} {:<8} {:<17} {}\n";

std::string TableRow(const char* flag, const ControlInfo& c) {
    const bool slider = c.kind != ControlKind::kCheckbox;
    const char* type = c.kind == ControlKind::kFloatSlider   ? "float slider"
                       : c.kind == ControlKind::kFixedSlider ? "fixed slider"
                                                             : "checkbox";
    return fmt::format(
        kTableRow, flag, c.name, c.id, type, FormatValue(c, c.default_value),
        slider ? FormatValue(c, c.valid_min) + " to " + FormatValue(c, c.valid_max) : "",
        slider ? FormatValue(c, c.slider_min) + " to " + FormatValue(c, c.slider_max) : "");
}

}  // namespace

ParamValues ValuesFromOptions(const GivenControls& given, const EffectSession& session) {
    ParamValues values = session.Defaults();
    for (const SliderOption& option : kSliderOptions) {
        const ControlInfo& control = session.controls().*option.declared;
        const std::optional<double>& value = given.*option.given;
        if (!value) continue;
        if (!(*value >= control.valid_min && *value <= control.valid_max)) {
            throw RefusedError(fmt::format(
                "{} {}: outside the valid range of {}, {} to {}", option.flag, *value, control.name,
                FormatValue(control, control.valid_min), FormatValue(control, control.valid_max)));
        }
        values.*option.value = *value;
    }
    if (given.clamp) values.clamp = *given.clamp;
    return values;
}

std::string ControlTable(const EffectSession& session) {
    std::string table = fmt::format(kTableRow, "option", "name", "id", "type", "default",
                                    "valid range", "slider range");
    for (const SliderOption& option : kSliderOptions) {
        table += TableRow(option.flag, session.controls().*option.declared);
    }
    return table + TableRow(kClampOption.flag, session.controls().clamp);
}

std::string ControlSummary(const EffectSession& session, const ParamValues& values) {
    std::string summary;
    for (const SliderOption& option : kSliderOptions) {
        const ControlInfo& control = session.controls().*option.declared;
        summary += fmt::format("{} {}, ", control.name, FormatValue(control, values.*option.value));
    }
    const ControlInfo& clamp = session.controls().clamp;
    return summary + fmt::format("{} {}", clamp.name, FormatValue(clamp, values.clamp ? 1.0 : 0.0));
}

bool AllDefaults(const EffectSession& session, const ParamValues& values) {
    const ParamValues& defaults = session.Defaults();
    for (const SliderOption& option : kSliderOptions) {
        if (values.*option.value != defaults.*option.value) return false;
    }
    return values.clamp == defaults.clamp;
}

}  // namespace render
