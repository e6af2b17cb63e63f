#include "tools/vemra-render/pixels/test_chart.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace render {

namespace {

struct Rgb {
    float red, green, blue;
};

/// Stores `colour` (1.0 = full scale) into pixel (x, y), opaque.
void Put(Image& image, int x, int y, Rgb colour) {
    const float full = FullScale(image.type);
    image.SetSample(x, y, 0, colour.red * full);
    image.SetSample(x, y, 1, colour.green * full);
    image.SetSample(x, y, 2, colour.blue * full);
    image.SetSample(x, y, 3, full);
}

/// Fills rows [top, bottom) with `count` equal patches side by side, patch i
/// coloured by `colour(i)`.
template <typename ColourOf>
void Patches(Image& image, int top, int bottom, int count, ColourOf colour) {
    for (int y = top; y < bottom; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const int patch = std::min(count - 1, x * count / image.width);
            Put(image, x, y, colour(patch));
        }
    }
}

/// Fully saturated colour of hue `h` in 0..1 (red, yellow, green, cyan, blue,
/// magenta, back to red).
Rgb Hue(float h) {
    const float sector = h * 6.0f;
    auto channel = [sector](float offset) {
        float d = std::fabs(std::fmod(sector - offset + 6.0f, 6.0f));
        d = std::min(d, 6.0f - d);
        return std::clamp(2.0f - d, 0.0f, 1.0f);
    };
    return {channel(0.0f), channel(2.0f), channel(4.0f)};
}

}  // namespace

Image MakeTestChart(int width, int height, SampleType type) {
    Image image = Image::Blank(width, height, type, /*has_alpha=*/false);
    const bool extended = type == SampleType::kFloat;
    // Band edges as fractions of the height.
    const std::array<float, 7> edges =
        extended ? std::array<float, 7>{0.0f, 0.12f, 0.22f, 0.42f, 0.56f, 0.82f, 1.0f}
                 : std::array<float, 7>{0.0f, 0.14f, 0.26f, 0.48f, 0.64f, 1.0f, 1.0f};
    auto row = [&](int band) { return int(std::lround(edges[std::size_t(band)] * float(height))); };

    // Neutral step wedge: 0, 0.1, ... 1.0.
    Patches(image, row(0), row(1), 11, [](int i) {
        const float v = float(i) / 10.0f;
        return Rgb{v, v, v};
    });
    // Smooth neutral ramp, black at the left edge to white at the right.
    for (int y = row(1); y < row(2); ++y) {
        for (int x = 0; x < width; ++x) {
            const float v = width > 1 ? float(x) / float(width - 1) : 0.0f;
            Put(image, x, y, {v, v, v});
        }
    }
    // Primaries and secondaries: full strength above, half below.
    const std::array<Rgb, 6> primaries{Rgb{1, 0, 0}, Rgb{0, 1, 0}, Rgb{0, 0, 1},
                                       Rgb{0, 1, 1}, Rgb{1, 0, 1}, Rgb{1, 1, 0}};
    const int middle = (row(2) + row(3)) / 2;
    Patches(image, row(2), middle, 6, [&](int i) { return primaries[std::size_t(i)]; });
    Patches(image, middle, row(3), 6, [&](int i) {
        const Rgb c = primaries[std::size_t(i)];
        return Rgb{c.red * 0.5f, c.green * 0.5f, c.blue * 0.5f};
    });
    // Skin-like tones, light to dark.
    const std::array<Rgb, 6> skin{Rgb{0.94f, 0.78f, 0.66f}, Rgb{0.88f, 0.68f, 0.55f},
                                  Rgb{0.78f, 0.57f, 0.44f}, Rgb{0.66f, 0.46f, 0.34f},
                                  Rgb{0.52f, 0.35f, 0.25f}, Rgb{0.36f, 0.23f, 0.16f}};
    Patches(image, row(3), row(4), 6, [&](int i) { return skin[std::size_t(i)]; });
    // Gradient across the frame: hue along x, saturation falling towards grey.
    const int gradient_rows = std::max(1, row(5) - row(4));
    for (int y = row(4); y < row(5); ++y) {
        const float saturation = 1.0f - float(y - row(4)) / float(gradient_rows);
        for (int x = 0; x < width; ++x) {
            const Rgb hue = Hue(float(x) / float(width));
            auto mix = [saturation](float c) { return 0.5f + (c - 0.5f) * saturation; };
            Put(image, x, y, {mix(hue.red), mix(hue.green), mix(hue.blue)});
        }
    }
    if (extended) {
        // Beyond 0..1: a neutral ramp from 1 to 4 on the left half, patches
        // with channels above 1 and below 0 on the right.
        const std::array<Rgb, 6> beyond{Rgb{4.0f, 1.0f, 0.25f},  Rgb{0.25f, 1.0f, 4.0f},
                                        Rgb{2.0f, 2.0f, 2.0f},   Rgb{-0.25f, 0.5f, 0.5f},
                                        Rgb{0.5f, 0.5f, -0.25f}, Rgb{-0.1f, -0.1f, -0.1f}};
        const int half = width / 2;
        for (int y = row(5); y < row(6); ++y) {
            for (int x = 0; x < width; ++x) {
                if (x < half) {
                    const float v = 1.0f + 3.0f * (half > 1 ? float(x) / float(half - 1) : 0.0f);
                    Put(image, x, y, {v, v, v});
                } else {
                    const int patch = std::min(5, (x - half) * 6 / std::max(1, width - half));
                    Put(image, x, y, beyond[std::size_t(patch)]);
                }
            }
        }
    }
    return image;
}

}  // namespace render
