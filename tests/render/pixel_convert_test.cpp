#include "sim/render/pixel_convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "color/pixel_layouts.h"

namespace render {
namespace {

TEST(Host16Mapping, EveryFileValueReturnsWithinOneCodeAndHostValuesExactly) {
    EXPECT_EQ(FileToHost16(0), 0);
    EXPECT_EQ(FileToHost16(65535), 32768);
    EXPECT_EQ(Host16ToFile(32768), 65535);
    EXPECT_EQ(Host16ToFile(65535), 65535);  // beyond full scale counts as full
    int previous = 0;
    for (int v = 0; v <= 65535; ++v) {
        const int w = FileToHost16(std::uint16_t(v));
        ASSERT_GE(w, previous) << v;  // monotonic
        previous = w;
        ASSERT_LE(std::abs(Host16ToFile(std::uint16_t(w)) - v), 1) << v;
    }
    for (int w = 0; w <= 32768; ++w) {
        ASSERT_EQ(FileToHost16(Host16ToFile(std::uint16_t(w))), w) << w;
    }
    // By hand: 51 / 255 of full scale is 6553.6 of 32768.
    EXPECT_EQ(FileToHost16(13107), 6554);
}

/// A one-pixel image holding red, green, blue, alpha.
Image Pixel(SampleType type, float r, float g, float b, float a) {
    Image image = Image::Blank(1, 1, type);
    const float values[4] = {r, g, b, a};
    for (int c = 0; c < 4; ++c) image.SetSample(0, 0, c, values[c]);
    return image;
}

TEST(ImageToWorld, PutsEachChannelWhereTheLayoutHoldsIt) {
    const Image bytes = Pixel(SampleType::kUint8, 10, 20, 51, 255);
    sim::World argb = ImageToWorld(bytes, sim::Layout::kArgb8);
    const PixelArgb8 a = argb.Get<PixelArgb8>(0, 0);
    EXPECT_EQ((std::array<int, 4>{a.alpha, a.red, a.green, a.blue}),
              (std::array<int, 4>{255, 10, 20, 51}));
    const PixelBgra8 b = ImageToWorld(bytes, sim::Layout::kBgra8).Get<PixelBgra8>(0, 0);
    EXPECT_EQ((std::array<int, 4>{b.alpha, b.red, b.green, b.blue}),
              (std::array<int, 4>{255, 10, 20, 51}));
    // 8-bit into 16-bit ARGB: 51 * 32768 / 255 = 6553.6, 20 * 32768 / 255 = 2570.04.
    const PixelArgb16 w = ImageToWorld(bytes, sim::Layout::kArgb16).Get<PixelArgb16>(0, 0);
    EXPECT_EQ((std::array<int, 4>{w.alpha, w.red, w.green, w.blue}),
              (std::array<int, 4>{32768, 1285, 2570, 6554}));
    const PixelBgraFloat f = ImageToWorld(bytes, sim::Layout::kBgraFloat).Get<PixelBgraFloat>(0, 0);
    EXPECT_EQ(f.blue, 51.0f / 255.0f);
    EXPECT_EQ(f.alpha, 1.0f);
}

TEST(ImageToWorld, FloatToFloatIsBitForBit) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const Image image = Pixel(SampleType::kFloat, nan, -0.25f, inf, 4.0f);
    ConversionReport report;
    const sim::World world = ImageToWorld(image, sim::Layout::kBgraFloat, &report);
    EXPECT_EQ(report.clipped, 0u);
    const Image back = WorldToImage(world, SampleType::kFloat, true);
    EXPECT_EQ(std::memcmp(back.pixels.data(), image.pixels.data(), image.pixels.size()), 0);
}

TEST(ImageToWorld, FloatIntoIntegerLayoutsClipsAndCounts) {
    const Image image =
        Pixel(SampleType::kFloat, -0.5f, 1.5f, std::numeric_limits<float>::quiet_NaN(), 0.5f);
    ConversionReport report;
    const PixelArgb8 a = ImageToWorld(image, sim::Layout::kArgb8, &report).Get<PixelArgb8>(0, 0);
    // 0.5 * 255 = 127.5 rounds to the even 128.
    EXPECT_EQ((std::array<int, 4>{a.alpha, a.red, a.green, a.blue}),
              (std::array<int, 4>{128, 0, 255, 0}));
    EXPECT_EQ(report.clipped, 3u);
    const PixelArgb16 w = ImageToWorld(image, sim::Layout::kArgb16, &report).Get<PixelArgb16>(0, 0);
    EXPECT_EQ((std::array<int, 4>{w.alpha, w.red, w.green, w.blue}),
              (std::array<int, 4>{16384, 0, 32768, 0}));
    EXPECT_EQ(report.clipped, 6u);
}

TEST(WorldToImage, EveryIntegerValueSurvivesTheTripThroughEachLayout) {
    struct Case {
        SampleType type;
        int values;
        sim::Layout layout;
        int tolerance;
    };
    for (const Case& c : {Case{SampleType::kUint8, 256, sim::Layout::kArgb8, 0},
                          Case{SampleType::kUint8, 256, sim::Layout::kBgra8, 0},
                          Case{SampleType::kUint8, 256, sim::Layout::kArgb16, 0},
                          Case{SampleType::kUint8, 256, sim::Layout::kBgraFloat, 0},
                          Case{SampleType::kUint16, 65536, sim::Layout::kBgraFloat, 0},
                          Case{SampleType::kUint16, 65536, sim::Layout::kArgb16, 1}}) {
        // Every value in every channel, alpha included, shifted per channel.
        Image image = Image::Blank(256, c.values / 256, c.type, false);
        for (int i = 0; i < c.values; ++i) {
            for (int ch = 0; ch < 4; ++ch) {
                image.SetSample(i % 256, i / 256, ch, float((i + ch * 97) % c.values));
            }
        }
        const Image back = WorldToImage(ImageToWorld(image, c.layout), c.type, false);
        EXPECT_FALSE(back.has_alpha);
        int worst = 0;
        for (int y = 0; y < image.height; ++y) {
            for (int x = 0; x < image.width; ++x) {
                for (int ch = 0; ch < 4; ++ch) {
                    worst = std::max(
                        worst, int(std::fabs(back.Sample(x, y, ch) - image.Sample(x, y, ch))));
                }
            }
        }
        EXPECT_EQ(worst, c.tolerance)
            << SampleTypeName(c.type) << " via " << sim::LayoutName(c.layout);
    }
}

}  // namespace
}  // namespace render
