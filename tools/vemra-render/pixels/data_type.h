// The sample type written into an image file, named as oiiotool's -d names
// it. It is the file's own matter, apart from the host's world layout
// (--host, --depth) that the effect renders in: a 10-bit file is held as
// 16-bit samples and rendered in whatever world the host chooses, then
// written back as 10 bits.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tools/vemra-render/pixels/image.h"

namespace render {

/// In order of depth: each holds every value of those before it but half,
/// which holds 8 and 10 bits exactly and is held by float.
enum class DataType { kUint8, kUint10, kUint12, kUint16, kHalf, kFloat };

/// "uint8", "uint10", "uint12", "uint16", "half" or "float".
std::string_view DataTypeName(DataType type);
/// The names above, joined with '|', for messages and --help.
std::string DataTypeNames();
/// Parses a name above; nullopt for anything else.
std::optional<DataType> ParseDataType(std::string_view text);

/// Whether a file of `wide` keeps every value a file of `narrow` holds:
/// integer types by their bits, half 8 and 10 bits (its 11-bit significand),
/// float everything.
bool Holds(DataType wide, DataType narrow);

/// The type of the samples the tool holds a file of `type` in: uint8, uint16
/// (10, 12 and 16 bits) or float (half and float).
SampleType SampleTypeOf(DataType type);
/// The file type whose samples fill `type` exactly: uint8, uint16, float.
DataType DataTypeOf(SampleType type);

}  // namespace render
