// The copies: utils' copy and the World Transform suite's copy and copy_hq,
// which all copy pixel for pixel here (the host does no scaling).
#include <algorithm>
#include <cstring>

#include "sim/host_state.h"

namespace sim {
namespace {

/// Copies the source rectangle to the destination rectangle's top-left
/// corner, pixel for pixel (no scaling): the common size of the two
/// rectangles, clipped to both worlds. Null rectangles are whole worlds.
PF_Err Copy(Service service, PF_ProgPtr ref, PF_EffectWorld* src, PF_EffectWorld* dst,
            const PF_Rect* src_r, const PF_Rect* dst_r) {
    Call call(service, ref);
    if (!call.ok()) return kErrOutsideCommand;
    if (!call.OwnHandle(ref)) return kErrBadCallbackParam;
    if (const PF_Err failure = call.InjectedFailure()) return failure;
    HostState& state = call.state();
    World* from = state.WorldFor(src);
    World* to = state.WorldFor(dst);
    if (from == nullptr || to == nullptr) {
        call.Violation(std::string(call.name()) + " of a world this command did not hand out");
        return kErrBadCallbackParam;
    }
    const std::size_t pixel = BytesPerPixel(from->layout());
    if (pixel != BytesPerPixel(to->layout())) {
        call.Violation(std::string(call.name()) + " from " + LayoutName(from->layout()) + " to " +
                       LayoutName(to->layout()) + ": pixel sizes differ");
        return kErrBadCallbackParam;
    }
    const Span64 s = src_r != nullptr ? Widen(*src_r) : Span64{0, 0, from->width(), from->height()};
    const Span64 d = dst_r != nullptr ? Widen(*dst_r) : Span64{0, 0, to->width(), to->height()};
    std::int64_t sx = s.left, sy = s.top, dx = d.left, dy = d.top;
    std::int64_t width = std::min(s.right - s.left, d.right - d.left);
    std::int64_t height = std::min(s.bottom - s.top, d.bottom - d.top);
    // Clip the leading edges of both rectangles, then the trailing ones.
    const std::int64_t skip_x = std::max({std::int64_t(0), -sx, -dx});
    const std::int64_t skip_y = std::max({std::int64_t(0), -sy, -dy});
    sx += skip_x, dx += skip_x, width -= skip_x;
    sy += skip_y, dy += skip_y, height -= skip_y;
    width = std::min({width, from->width() - sx, to->width() - dx});
    height = std::min({height, from->height() - sy, to->height() - dy});
    if (width <= 0 || height <= 0) return PF_Err_NONE;

    const std::size_t row_bytes = std::size_t(width) * pixel;
    auto row_of = [](World* world, std::int64_t x, std::int64_t y) {
        return static_cast<std::byte*>(world->PixelAddress(std::int32_t(x), std::int32_t(y)));
    };
    if (from == to) {
        // Overlapping rectangles of one world: read everything first.
        std::vector<std::byte> rows(row_bytes * std::size_t(height));
        for (std::int64_t y = 0; y < height; ++y) {
            std::memcpy(rows.data() + std::size_t(y) * row_bytes, row_of(from, sx, sy + y),
                        row_bytes);
        }
        for (std::int64_t y = 0; y < height; ++y) {
            std::memcpy(row_of(to, dx, dy + y), rows.data() + std::size_t(y) * row_bytes,
                        row_bytes);
        }
    } else {
        for (std::int64_t y = 0; y < height; ++y) {
            std::memcpy(row_of(to, dx, dy + y), row_of(from, sx, sy + y), row_bytes);
        }
    }
    return PF_Err_NONE;
}

}  // namespace

PF_Err UtilsCopy(PF_ProgPtr ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r,
                 PF_Rect* dst_r) {
    return Copy(Service::kUtilsCopy, ref, src, dst, src_r, dst_r);
}
PF_Err TransformCopy(PF_ProgPtr ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r,
                     PF_Rect* dst_r) {
    return Copy(Service::kCopy, ref, src, dst, src_r, dst_r);
}
PF_Err TransformCopyHq(PF_ProgPtr ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r,
                       PF_Rect* dst_r) {
    return Copy(Service::kCopyHq, ref, src, dst, src_r, dst_r);
}

}  // namespace sim
