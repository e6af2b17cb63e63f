#include "tools/vemra-render/pixels/samples.h"

#include <cstring>

namespace render {

SampleLayout SampleLayout::Interleaved(SampleType type, int width, int channels,
                                       std::array<int, 4> at) {
    const auto sample = std::ptrdiff_t(SampleBytes(type));
    SampleLayout layout;
    layout.type = type;
    for (std::size_t c = 0; c < 4; ++c) layout.offset[c] = at[c] < 0 ? -1 : at[c] * sample;
    layout.pixel_step = channels * sample;
    layout.row_step = std::ptrdiff_t(width) * layout.pixel_step;
    return layout;
}

SampleLayout SampleLayout::Planar(SampleType type, int width, int height,
                                  std::array<int, 4> plane) {
    const auto sample = std::ptrdiff_t(SampleBytes(type));
    const std::ptrdiff_t plane_bytes = std::ptrdiff_t(width) * std::ptrdiff_t(height) * sample;
    SampleLayout layout;
    layout.type = type;
    for (std::size_t c = 0; c < 4; ++c)
        layout.offset[c] = plane[c] < 0 ? -1 : plane[c] * plane_bytes;
    layout.pixel_step = sample;
    layout.row_step = std::ptrdiff_t(width) * sample;
    return layout;
}

float ConstSamples::Sample(int x, int y, Channel channel) const {
    const std::ptrdiff_t offset = layout.offset[std::size_t(channel)];
    if (offset < 0) return channel == kAlpha ? FullScale(layout.type) : 0.0f;
    const std::byte* at =
        data + std::ptrdiff_t(y) * layout.row_step + std::ptrdiff_t(x) * layout.pixel_step + offset;
    switch (layout.type) {
        case SampleType::kUint8:
            return float(std::to_integer<std::uint8_t>(*at));
        case SampleType::kUint16: {
            std::uint16_t value;
            std::memcpy(&value, at, sizeof value);
            return float(value);
        }
        case SampleType::kFloat: {
            float value;
            std::memcpy(&value, at, sizeof value);
            return value;
        }
    }
    return 0.0f;
}

ConstSamples SamplesOf(const Image& image) {
    return {image.pixels.data(), image.width, image.height,
            SampleLayout::Interleaved(image.type, image.width, 4, {0, 1, 2, 3})};
}

Samples SamplesOf(Image& image) {
    return {image.pixels.data(), image.width, image.height,
            SampleLayout::Interleaved(image.type, image.width, 4, {0, 1, 2, 3})};
}

Image ToImage(const ConstSamples& samples) {
    Image image = Image::Blank(samples.width, samples.height, samples.layout.type,
                               samples.layout.has(kAlpha));
    for (int y = 0; y < samples.height; ++y) {
        for (int x = 0; x < samples.width; ++x) {
            for (Channel c : {kRed, kGreen, kBlue, kAlpha}) {
                image.SetSample(x, y, c, samples.Sample(x, y, c));
            }
        }
    }
    return image;
}

}  // namespace render
