#include "tools/vemra-render/pixels/image.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "tools/vemra-render/pixels/samples.h"

namespace render {

std::size_t SampleBytes(SampleType type) {
    switch (type) {
        case SampleType::kUint8:
            return 1;
        case SampleType::kUint16:
            return 2;
        case SampleType::kFloat:
            return 4;
    }
    return 4;
}

std::string_view SampleTypeName(SampleType type) {
    switch (type) {
        case SampleType::kUint8:
            return "uint8";
        case SampleType::kUint16:
            return "uint16";
        case SampleType::kFloat:
            return "float";
    }
    return "?";
}

Image Image::Blank(int width, int height, SampleType type, bool has_alpha) {
    Image image;
    image.width = width;
    image.height = height;
    image.type = type;
    image.has_alpha = has_alpha;
    image.pixels.resize(std::size_t(width) * std::size_t(height) * image.PixelBytes());
    return image;
}

void Image::Reshape(int new_width, int new_height, SampleType new_type, bool new_has_alpha) {
    width = new_width;
    height = new_height;
    type = new_type;
    has_alpha = new_has_alpha;
    pixels.resize(std::size_t(width) * std::size_t(height) * PixelBytes());
}

float Image::Sample(int x, int y, int channel) const {
    return SamplesOf(*this).Sample(x, y, Channel(channel));
}

void Image::SetSample(int x, int y, int channel, float value) {
    std::byte* at = PixelAddress(x, y) + std::size_t(channel) * SampleBytes(type);
    auto to_integer = [value](float high) {
        return std::isnan(value) ? 0.0f : std::clamp(std::nearbyint(value), 0.0f, high);
    };
    switch (type) {
        case SampleType::kUint8: {
            const auto stored = std::uint8_t(to_integer(FullScale(type)));
            std::memcpy(at, &stored, sizeof stored);
            break;
        }
        case SampleType::kUint16: {
            const auto stored = std::uint16_t(to_integer(FullScale(type)));
            std::memcpy(at, &stored, sizeof stored);
            break;
        }
        case SampleType::kFloat:
            std::memcpy(at, &value, sizeof value);
            break;
    }
}

}  // namespace render
