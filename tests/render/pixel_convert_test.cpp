#include "tools/vemra-render/pixels/pixel_convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "host/effect_api.h"

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

/// The image converted into a new world of `layout`, as a file frame is.
sim::World ImageToWorld(const Image& image, sim::Layout layout,
                        ConversionReport* report = nullptr) {
    sim::World world(layout, image.width, image.height);
    const ConversionReport converted = SamplesToWorld(SamplesOf(image), world);
    if (report != nullptr) report->clipped += converted.clipped;
    return world;
}

/// The world converted back into an image of `type`, as a frame is written.
Image WorldToImage(const sim::World& world, SampleType type, bool has_alpha) {
    Image image = Image::Blank(world.width(), world.height(), type, has_alpha);
    WorldToSamples(world, SamplesOf(image));
    return image;
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
    const PF_Pixel8 a = argb.Get<PF_Pixel8>(0, 0);
    EXPECT_EQ((std::array<int, 4>{a.alpha, a.red, a.green, a.blue}),
              (std::array<int, 4>{255, 10, 20, 51}));
    const PF_Pixel_BGRA_8u b = ImageToWorld(bytes, sim::Layout::kBgra8).Get<PF_Pixel_BGRA_8u>(0, 0);
    EXPECT_EQ((std::array<int, 4>{b.alpha, b.red, b.green, b.blue}),
              (std::array<int, 4>{255, 10, 20, 51}));
    // 8-bit into 16-bit ARGB: 51 * 32768 / 255 = 6553.6, 20 * 32768 / 255 = 2570.04.
    const PF_Pixel16 w = ImageToWorld(bytes, sim::Layout::kArgb16).Get<PF_Pixel16>(0, 0);
    EXPECT_EQ((std::array<int, 4>{w.alpha, w.red, w.green, w.blue}),
              (std::array<int, 4>{32768, 1285, 2570, 6554}));
    const PF_Pixel_BGRA_32f f =
        ImageToWorld(bytes, sim::Layout::kBgraFloat).Get<PF_Pixel_BGRA_32f>(0, 0);
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
    const PF_Pixel8 a = ImageToWorld(image, sim::Layout::kArgb8, &report).Get<PF_Pixel8>(0, 0);
    // 0.5 * 255 = 127.5 rounds to the even 128.
    EXPECT_EQ((std::array<int, 4>{a.alpha, a.red, a.green, a.blue}),
              (std::array<int, 4>{128, 0, 255, 0}));
    EXPECT_EQ(report.clipped, 3u);
    const PF_Pixel16 w = ImageToWorld(image, sim::Layout::kArgb16, &report).Get<PF_Pixel16>(0, 0);
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

TEST(SamplesToWorld, ReadsAnyLayoutTheDescriptionGives) {
    // A decoder's buffer of five interleaved 16-bit channels, Z, B, G, R, A
    // (extra first), a planar frame with planes G, B, R and no alpha, and
    // grey read three times: each is described, not copied into RGBA first.
    const std::uint16_t five[] = {7, 300, 200, 100, 65535, 9, 3000, 2000, 1000, 0};
    const ConstSamples interleaved{
        reinterpret_cast<const std::byte*>(five), 2, 1,
        SampleLayout::Interleaved(SampleType::kUint16, 2, 5, {3, 2, 1, 4})};
    sim::World world(sim::Layout::kBgraFloat, 2, 1);
    SamplesToWorld(interleaved, world);
    const auto second = world.Get<PF_Pixel_BGRA_32f>(1, 0);
    EXPECT_EQ(second.red, 1000.0f / 65535.0f);
    EXPECT_EQ(second.green, 2000.0f / 65535.0f);
    EXPECT_EQ(second.blue, 3000.0f / 65535.0f);
    EXPECT_EQ(second.alpha, 0.0f);

    const std::uint8_t planes[] = {20, 21, 30, 31, 10, 11};  // G G B B R R
    const ConstSamples planar{reinterpret_cast<const std::byte*>(planes), 2, 1,
                              SampleLayout::Planar(SampleType::kUint8, 2, 1, {2, 0, 1, -1})};
    sim::World argb(sim::Layout::kArgb8, 2, 1);
    SamplesToWorld(planar, argb);
    const auto p = argb.Get<PF_Pixel8>(1, 0);
    EXPECT_EQ((std::array<int, 4>{p.alpha, p.red, p.green, p.blue}),
              (std::array<int, 4>{255, 11, 21, 31}));

    // Back out into the planar frame, alpha left out as the frame has none.
    std::uint8_t out[6] = {};
    WorldToSamples(argb, Samples{reinterpret_cast<std::byte*>(out), 2, 1, planar.layout});
    EXPECT_EQ(std::memcmp(out, planes, sizeof out), 0);

    const std::uint8_t grey[] = {40, 41};
    const ConstSamples grey3{reinterpret_cast<const std::byte*>(grey), 2, 1,
                             SampleLayout::Interleaved(SampleType::kUint8, 2, 1, {0, 0, 0, -1})};
    SamplesToWorld(grey3, argb);
    const auto g = argb.Get<PF_Pixel8>(0, 0);
    EXPECT_EQ((std::array<int, 4>{g.alpha, g.red, g.green, g.blue}),
              (std::array<int, 4>{255, 40, 40, 40}));
}

TEST(SamplesToWorld, RefusesMismatchedSizesAndMissingColours) {
    const Image image = Image::Blank(2, 2, SampleType::kUint8);
    sim::World wrong(sim::Layout::kArgb8, 2, 3);
    EXPECT_THROW(SamplesToWorld(SamplesOf(image), wrong), std::invalid_argument);
    ConstSamples no_blue = SamplesOf(image);
    no_blue.layout.offset[kBlue] = -1;
    sim::World world(sim::Layout::kArgb8, 2, 2);
    EXPECT_THROW(SamplesToWorld(no_blue, world), std::invalid_argument);
}

}  // namespace
}  // namespace render
