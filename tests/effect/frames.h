// Expected frames for render tests: the adapters applied pixel by pixel on
// their own, so a render test checks the path, the geometry and the threads.
#pragma once

#include <algorithm>
#include <cstring>

#include "color/adapters.h"
#include "sim/world.h"

namespace vemra::test {

/// A world with the same layout, geometry, extent hint, flags and bytes.
inline sim::World CopyWorld(const sim::World& world) {
    sim::World copy(world.layout(), world.width(), world.height(), world.rowbytes());
    copy.def().extent_hint = world.def().extent_hint;
    copy.def().world_flags = world.def().world_flags;
    copy.SetPixelFormat(world.pixel_format());
    std::memcpy(copy.buffer().data(), world.buffer().data(), world.buffer().size());
    return copy;
}

/// The adapter that renders `layout`.
inline PixelFunction AdapterFor(sim::Layout layout) {
    switch (layout) {
        case sim::Layout::kArgb8:
            return ProcessPixelArgb8;
        case sim::Layout::kArgb16:
            return ProcessPixelArgb16;
        case sim::Layout::kBgra8:
            return ProcessPixelBgra8;
        case sim::Layout::kBgraFloat:
            return ProcessPixelBgraFloat;
    }
    return nullptr;
}

/// The pixels a render may change, in output coordinates (right and bottom
/// exclusive).
struct Region {
    std::int32_t left, top, right, bottom;
};

/// `before` with `adapter` applied to every pixel of `region`, each source
/// pixel taken from the same (x, y) of `input`. Everything else, row padding
/// included, stays as it was.
inline sim::World ExpectedRender(const sim::World& input, const sim::World& before,
                                 TemperatureSettings settings, PixelFunction adapter,
                                 Region region) {
    sim::World expected = CopyWorld(before);
    for (std::int32_t y = region.top; y < region.bottom; ++y) {
        for (std::int32_t x = region.left; x < region.right; ++x) {
            adapter(&settings, x, y, input.PixelAddress(x, y), expected.PixelAddress(x, y));
        }
    }
    return expected;
}

/// The extent hint of `output`, limited to both worlds.
inline Region ExtentInsideBoth(const sim::World& input, const sim::World& output) {
    const PF_Rect& e = output.def().extent_hint;
    return {std::max(e.left, 0), std::max(e.top, 0),
            std::min({e.right, output.width(), input.width()}),
            std::min({e.bottom, output.height(), input.height()})};
}

/// True when every byte of the two worlds' buffers is the same.
inline bool SameBytes(const sim::World& a, const sim::World& b) {
    return a.buffer().size() == b.buffer().size() &&
           std::memcmp(a.buffer().data(), b.buffer().data(), a.buffer().size()) == 0;
}

}  // namespace vemra::test
