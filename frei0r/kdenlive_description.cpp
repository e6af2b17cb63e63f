// Writes Kdenlive's description of the frei0r edition (the effect format of
// kdenlive-data's effects folder) from the declarations the plug-in itself
// uses. MLT reads the rest from the plug-in.
//
// Kdenlive 22.12 shows a value v that MLT holds as v * factor, and nothing
// more: it ignores an offset attribute, takes "default" in MLT's units and
// "min"/"max" in the units it shows. A shift slider's frei0r value 0..1
// cannot appear as the effect's -5..5, so it appears as 0..10, the effect's
// value plus 5, with 5 neutral; its label and tooltip say so. The opacity
// appears as its percentage, which is the effect's own unit.
//
// Usage: vemra_kdenlive_description OUTPUT.xml
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "frei0r/parameters.h"
#include "resources/identity.h"

namespace {

using vemra::frei0r::Text;

std::string Number(double value) {
    Text text;
    text << value;
    return text.c_str();
}

/// Shift sliders show one decimal more than the plug-in's own, so a value
/// can be typed to 0.01; Kdenlive's arrow keys still step by 0.1, the
/// plug-in's own step.
constexpr int kShiftExtraDecimals = 1;

/// What Kdenlive shows for the effect's value of a slider: the frei0r value
/// times the factor, which is the slider's span.
double Shown(const vemra::SliderControl& control, double value) {
    return vemra::frei0r::SliderPosition(control, value) * (control.valid_max - control.valid_min);
}

std::string Slider(const vemra::SliderControl& control, const vemra::frei0r::Parameter& parameter,
                   const std::string& label, int decimals, const std::string& comment) {
    std::string xml = "    <parameter type=\"animated\" name=\"" + std::string(parameter.name) +
                      "\" default=\"" + Number(parameter.dephault) + "\" min=\"" +
                      Number(Shown(control, control.valid_min)) + "\" max=\"" +
                      Number(Shown(control, control.valid_max)) + "\" factor=\"" +
                      Number(control.valid_max - control.valid_min) + "\" decimals=\"" +
                      std::to_string(decimals) + "\"";
    if (control.percent) xml += " suffix=\"%\"";
    return xml + ">\n        <name>" + label + "</name>\n        <comment>" + comment +
           "</comment>\n    </parameter>\n";
}

std::string Shift(const vemra::SliderControl& control, const vemra::frei0r::Parameter& parameter,
                  const char* up, const char* down) {
    const std::string neutral = Number(Shown(control, control.dephault));
    const std::string label = std::string(parameter.name) + " (" + neutral + " = neutral)";
    const std::string comment = std::string(up) + " above " + neutral + ", " + down +
                                " below. Shown as the effect's " + parameter.name + " plus " +
                                Number(-control.valid_min) + ": " +
                                Number(Shown(control, control.valid_min)) + " to " +
                                Number(Shown(control, control.valid_max)) + " here is " +
                                Number(control.valid_min) + " to " + Number(control.valid_max) +
                                " in the effect, and the After Effects plug-in's own slider, " +
                                Number(control.slider_min) + " to " + Number(control.slider_max) +
                                ", is " + Number(Shown(control, control.slider_min)) + " to " +
                                Number(Shown(control, control.slider_max)) + ".";
    return Slider(control, parameter, label, control.precision + kShiftExtraDecimals, comment);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: vemra_kdenlive_description OUTPUT.xml\n";
        return 2;
    }
    using vemra::frei0r::kParameters;
    const std::string id = std::string("frei0r.") + VEMRA_FREI0R_NAME;
    std::string xml =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE kpartgui>\n<effect LC_NUMERIC=\"C\" tag=\"" + id +
        "\" id=\"" + id + "\">\n    <name>" + vemra::kDisplayName + "</name>\n    <description>" +
        vemra::frei0r::kPluginExplanation + "</description>\n    <author>" +
        vemra::frei0r::kAuthor + "</author>\n";
    xml += Shift(vemra::kTemperatureControl, kParameters[vemra::kTemperaturePosition], "Warmer",
                 "cooler");
    xml += Shift(vemra::kMagentaControl, kParameters[vemra::kMagentaPosition], "Towards magenta",
                 "towards green");
    const vemra::frei0r::Parameter& opacity = kParameters[vemra::kOpacityPosition];
    xml += Slider(vemra::kOpacityControl, opacity, opacity.name, vemra::kOpacityControl.precision,
                  "Share of the shifted frame; 0 leaves the frame as it is.");
    const vemra::frei0r::Parameter& clamp = kParameters[vemra::kClampPosition];
    xml += "    <parameter type=\"bool\" name=\"" + std::string(clamp.name) + "\" default=\"" +
           Number(clamp.dephault) + "\">\n        <name>" + clamp.name +
           "</name>\n        <comment>Red, green and blue clamped to 0..1 after the "
           "shift.</comment>\n    </parameter>\n";
    xml += "</effect>\n";

    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out << xml;
    out.close();
    if (!out) {
        std::cerr << "vemra_kdenlive_description: cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
