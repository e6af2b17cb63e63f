// What each image format the tool writes keeps of a file: its sample types,
// the channels besides colour, the parts of a multi-part file, the data and
// display windows. One table, which the writer follows and --help prints.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/vemra-render/pixels/data_type.h"

namespace render {

/// How a format keeps the channels besides red, green, blue and alpha.
enum class ExtraChannels {
    kNone,     ///< left out, with a note naming them
    kUnnamed,  ///< kept as samples of the colour's one type, without names
    kNamed,    ///< kept with their names and each in its own type
};

struct FormatKeeps {
    std::string_view format;  ///< OpenImageIO's format name
    std::string_view label;   ///< as --help shows it
    /// The types the format writes, shallowest first; a type not listed is
    /// written as the nearest listed one that holds it.
    std::vector<DataType> types;
    ExtraChannels extras = ExtraChannels::kNone;
    bool alpha = true;     ///< holds an alpha channel
    bool parts = false;    ///< holds several parts (layers, passes) of one frame
    bool windows = false;  ///< holds a data window apart from the display window
};

/// The entry of `format_name` (an OpenImageIO format name); nullopt for a
/// format the table does not list, which the image library writes as it
/// chooses: colour and alpha alone, the display window.
const FormatKeeps* FindFormatKeeps(std::string_view format_name);

/// The type a file of `format_name` is written in: `asked` (--data-type)
/// when given; else `source` when the format writes it; else the
/// shallowest type the format writes that holds `source`, else its deepest.
/// For a format the table does not list: `asked`, else `source`.
DataType ChooseDataType(std::string_view format_name, std::optional<DataType> asked,
                        DataType source);

/// Throws std::invalid_argument with a one-line message when `asked` is a
/// type the format named by `format_name` does not write.
void CheckDataType(std::string_view format_name, std::optional<DataType> asked);

/// The table for --help: a line per format.
std::string FormatKeepsHelp();

}  // namespace render
