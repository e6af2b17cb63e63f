// The embedded default input: a generated test chart that shows at a glance
// what the effect does to the kinds of colour footage is made of.
#pragma once

#include "tools/vemra-render/pixels/image.h"

namespace render {

/// The chart's size when none is asked for.
inline constexpr int kChartWidth = 960;
inline constexpr int kChartHeight = 540;

/// A width x height chart, opaque, in sample type `type`, in bands from top
/// to bottom: a neutral step wedge (0 to 1 in tenths); a smooth neutral ramp;
/// the primaries and secondaries at full and at half strength; six skin-like
/// tones from light to dark; a gradient across the frame (hue from left to
/// right, saturation falling from top to bottom). A float chart adds a band
/// of values beyond the 0..1 range: a neutral ramp from 1 to 4 and patches
/// with channels above 1 and below 0. Integer charts hold each value rounded
/// to the nearest code. Any size from 16 x 16 up works; the bands scale.
Image MakeTestChart(int width, int height, SampleType type);

}  // namespace render
