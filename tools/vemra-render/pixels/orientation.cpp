#include "tools/vemra-render/pixels/orientation.h"

#include <cstring>

namespace render {

void Orient(const Image& coded, const Orientation& orientation, Image& upright) {
    const int width = orientation.transpose ? coded.height : coded.width;
    const int height = orientation.transpose ? coded.width : coded.height;
    upright.Reshape(width, height, coded.type, coded.has_alpha);
    const std::size_t pixel = coded.PixelBytes();
    for (int y = 0; y < height; ++y) {
        std::byte* out = upright.PixelAddress(0, y);
        for (int x = 0; x < width; ++x, out += pixel) {
            int from_x = orientation.transpose ? y : x;
            int from_y = orientation.transpose ? x : y;
            if (orientation.mirror_x) from_x = coded.width - 1 - from_x;
            if (orientation.mirror_y) from_y = coded.height - 1 - from_y;
            std::memcpy(out, coded.PixelAddress(from_x, from_y), pixel);
        }
    }
}

}  // namespace render
