// The bit depth of a movie's video as a file data type, so that its frames,
// which reach the image writer as 8-bit, 16-bit or float samples, are
// written in the depth the movie holds: a 10-bit ProRes into 10-bit DPX.
#pragma once

#include "tools/vemra-render/pixels/data_type.h"

namespace render {

struct SourceDescription;

/// uint8, uint10, uint12 or uint16 by the bits of the video's pixel format
/// (the deepest component), float for a float format; uint8 when the format
/// is unknown.
DataType MovieDataType(const SourceDescription& source);

}  // namespace render
