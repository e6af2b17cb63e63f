#include "effect/iterate_rows.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace vemra {
namespace {

constexpr std::int64_t kPixelBytes = sizeof(PF_Pixel_BGRA_32f);

/// Pixels one row of `world` holds: its width, and no more than its stride can
/// hold without running into the next row.
std::int64_t UsableWidth(const PF_LayerDef& world) {
    const std::int64_t stride = std::llabs(static_cast<std::int64_t>(world.rowbytes));
    return std::min<std::int64_t>(world.width, stride / kPixelBytes);
}

}  // namespace

A_long IterateRowsBgraFloat(A_long first_row, A_long end_row, PF_LayerDef* source, void* refcon,
                            PixelFunction function, PF_LayerDef* destination) {
    if (first_row >= end_row) return 0;
    if (source->data == nullptr || destination->data == nullptr) return 0;

    const std::int64_t rows = std::min({static_cast<std::int64_t>(end_row) - first_row,
                                        static_cast<std::int64_t>(source->height),
                                        static_cast<std::int64_t>(destination->height)});
    const std::int64_t width = std::min(UsableWidth(*source), UsableWidth(*destination));
    if (rows <= 0 || width <= 0) return 0;

    auto* source_data = static_cast<const unsigned char*>(source->data);
    auto* destination_data = static_cast<unsigned char*>(destination->data);
    for (std::int64_t row = 0; row < rows; ++row) {
        const auto y = static_cast<A_long>(first_row + row);
        // Each world's own stride, as a signed offset: negative strides run upwards.
        const unsigned char* in = source_data + row * source->rowbytes;
        unsigned char* out = destination_data + row * destination->rowbytes;
        for (std::int64_t x = 0; x < width; ++x) {
            function(refcon, static_cast<A_long>(x), y, in, out);
            in += kPixelBytes;
            out += kPixelBytes;
        }
    }
    return 0;
}

}  // namespace vemra
