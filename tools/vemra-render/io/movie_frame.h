// A movie's frame between the decoder and the encoder: converted to RGBA,
// with the timing and the side data it came with.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/vemra-render/pixels/image.h"

namespace render {

struct MovieFrame {
    Image image;                ///< RGBA of the source's sample type, buffer reused frame to frame
    std::int64_t pts = 0;       ///< in the video stream's time base (the best-effort timestamp)
    std::int64_t duration = 0;  ///< in the same time base; 0 when the file does not say
    long number = 0;            ///< 1 for the first decoded frame
    bool interlaced = false;    ///< coded as two fields
    bool top_field_first = false;
    /// The frame's A/53 closed captions (CEA-708 data), as the decoder gave them.
    std::vector<std::uint8_t> captions;
    /// HDR10's static metadata the frame carries (FFmpeg's
    /// AVMasteringDisplayMetadata and AVContentLightMetadata, as bytes);
    /// empty: none.
    std::vector<std::uint8_t> mastering;
    std::vector<std::uint8_t> light_level;
    bool hdr10_plus = false;  ///< it carries HDR10+ dynamic metadata
};

}  // namespace render
