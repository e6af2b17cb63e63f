#include "tools/vemra-render/io/image_formats.h"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

namespace render {

namespace {

using DT = DataType;

// OpenImageIO writes PNG at 8 or 16 bits (float as 8: the types here keep
// it from that), JPEG at 8, TIFF and DPX at 8, 10, 12 and 16 bits or float
// (half as float), OpenEXR as half or float (and 8 or 16 bits as half, which
// loses 16-bit values: they go to float here).
const std::vector<FormatKeeps>& Table() {
    static const std::vector<FormatKeeps> table{
        {"openexr", "OpenEXR", {DT::kHalf, DT::kFloat}, ExtraChannels::kNamed, true, true, true},
        {"tiff",
         "TIFF",
         {DT::kUint8, DT::kUint10, DT::kUint12, DT::kUint16, DT::kFloat},
         ExtraChannels::kUnnamed,
         true,
         false,
         false},
        {"dpx",
         "DPX",
         {DT::kUint8, DT::kUint10, DT::kUint12, DT::kUint16, DT::kFloat},
         ExtraChannels::kNone,
         true,
         false,
         false},
        {"png", "PNG", {DT::kUint8, DT::kUint16}, ExtraChannels::kNone, true, false, false},
        {"jpeg", "JPEG", {DT::kUint8}, ExtraChannels::kNone, false, false, false},
    };
    return table;
}

std::string TypeList(const std::vector<DataType>& types) {
    std::string text;
    for (DataType type : types) {
        if (!text.empty()) text += ", ";
        text += DataTypeName(type);
    }
    return text;
}

}  // namespace

const FormatKeeps* FindFormatKeeps(std::string_view format_name) {
    for (const FormatKeeps& keeps : Table()) {
        if (keeps.format == format_name) return &keeps;
    }
    return nullptr;
}

DataType ChooseDataType(std::string_view format_name, std::optional<DataType> asked,
                        DataType source) {
    if (asked) return *asked;
    const FormatKeeps* keeps = FindFormatKeeps(format_name);
    if (keeps == nullptr) return source;
    const std::vector<DataType>& types = keeps->types;
    if (std::find(types.begin(), types.end(), source) != types.end()) return source;
    for (DataType type : types) {
        if (Holds(type, source)) return type;
    }
    return types.back();
}

void CheckDataType(std::string_view format_name, std::optional<DataType> asked) {
    const FormatKeeps* keeps = FindFormatKeeps(format_name);
    if (!asked || keeps == nullptr) return;
    if (std::find(keeps->types.begin(), keeps->types.end(), *asked) == keeps->types.end()) {
        throw std::invalid_argument(fmt::format("--data-type {}: {} files are written as {}",
                                                DataTypeName(*asked), keeps->label,
                                                TypeList(keeps->types)));
    }
}

std::string FormatKeepsHelp() {
    std::string text;
    for (const FormatKeeps& keeps : Table()) {
        const char* extras = keeps.extras == ExtraChannels::kNamed     ? "named, own types"
                             : keeps.extras == ExtraChannels::kUnnamed ? "unnamed, one type"
                                                                       : "left out";
        text += fmt::format("  {:<8} {}{}\n           other channels {}; {}; {}\n", keeps.label,
                            TypeList(keeps.types), keeps.alpha ? "" : " (no alpha)", extras,
                            keeps.parts ? "every part" : "one part",
                            keeps.windows ? "both windows" : "display window");
    }
    return text +
           "  others   the type the image library writes nearest the one asked\n"
           "           other channels left out; one part; display window\n";
}

}  // namespace render
