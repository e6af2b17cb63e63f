// A side-by-side sheet: the image before the effect on the left, after it on
// the right, each under a "BEFORE" / "AFTER" label.
#pragma once

#include "tools/vemra-render/pixels/image.h"

namespace render {

/// The sheet for two images of the same size and sample type: a label strip
/// on top (dark grey, light lettering), then `before` and `after` side by
/// side with a mid-grey gap between. Both halves keep their pixels and their
/// alpha exactly; the strip and the gap are opaque. Throws
/// std::invalid_argument when the two images differ in size or type.
Image MakeCompareSheet(const Image& before, const Image& after);

}  // namespace render
