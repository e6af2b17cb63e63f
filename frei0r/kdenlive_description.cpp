// Writes Kdenlive's description of the frei0r edition (the effect format of
// kdenlive-data's effects folder) from the declarations the plug-in itself
// uses. Kdenlive shows a value v that MLT holds as v * factor + offset, so
// each slider appears in the effect's own units: its valid range, and the
// opacity as a percentage. MLT reads the rest from the plug-in.
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

std::string Slider(const vemra::SliderControl& control, const vemra::frei0r::Parameter& parameter,
                   const std::string& comment) {
    const double factor = control.valid_max - control.valid_min;
    std::string xml = "    <parameter type=\"animated\" name=\"" + std::string(parameter.name) +
                      "\" default=\"" + Number(parameter.dephault) + "\" min=\"" +
                      Number(control.valid_min) + "\" max=\"" + Number(control.valid_max) +
                      "\" factor=\"" + Number(factor) + "\"";
    if (control.valid_min != 0.0) xml += " offset=\"" + Number(control.valid_min) + "\"";
    xml += " decimals=\"" + std::to_string(control.precision) + "\"";
    if (control.percent) xml += " suffix=\"%\"";
    return xml + ">\n        <name>" + parameter.name + "</name>\n        <comment>" + comment +
           "</comment>\n    </parameter>\n";
}

std::string ShiftComment(const vemra::SliderControl& control, const char* up, const char* down) {
    return std::string(up) + " above " + Number(control.dephault) + ", " + down + " below, from " +
           Number(control.valid_min) + " to " + Number(control.valid_max) +
           " (the After Effects plug-in's own slider spans " + Number(control.slider_min) + " to " +
           Number(control.slider_max) + ").";
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
    xml += Slider(vemra::kTemperatureControl, kParameters[vemra::kTemperaturePosition],
                  ShiftComment(vemra::kTemperatureControl, "Warmer", "cooler"));
    xml += Slider(vemra::kMagentaControl, kParameters[vemra::kMagentaPosition],
                  ShiftComment(vemra::kMagentaControl, "Towards magenta", "towards green"));
    xml += Slider(vemra::kOpacityControl, kParameters[vemra::kOpacityPosition],
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
