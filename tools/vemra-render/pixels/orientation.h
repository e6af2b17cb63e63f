// Turning and mirroring frames losslessly, for movies whose display matrix
// says the frames are stored sideways or mirrored (a phone held upright).
#pragma once

#include "tools/vemra-render/pixels/image.h"

namespace render {

/// Where each pixel of the upright frame comes from in the frame as coded:
/// with `transpose` the coded frame's axes are swapped (its width becomes
/// the height), then x and y are read from the far edge when mirrored.
/// Every quarter turn and mirror of a frame is one of these eight.
struct Orientation {
    bool transpose = false;
    bool mirror_x = false;
    bool mirror_y = false;

    bool upright() const { return !transpose && !mirror_x && !mirror_y; }
};

/// `coded` turned as `orientation` says, into `upright` (reshaped, its
/// buffer kept when large enough), sample for sample.
void Orient(const Image& coded, const Orientation& orientation, Image& upright);

}  // namespace render
