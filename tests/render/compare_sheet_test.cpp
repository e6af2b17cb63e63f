#include "tools/vemra-render/pixels/compare_sheet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <stdexcept>

#include "tools/vemra-render/run/progress.h"

namespace render {
namespace {

Image Noise(int width, int height, SampleType type, unsigned seed) {
    Image image = Image::Blank(width, height, type, true);
    std::mt19937 generator(seed);
    for (std::byte& b : image.pixels) b = std::byte(generator() & 0xFF);
    return image;
}

TEST(CompareSheet, HoldsBothImagesUnchangedSideBySideUnderTheLabels) {
    for (SampleType type : {SampleType::kUint8, SampleType::kUint16, SampleType::kFloat}) {
        const Image before = Noise(50, 30, type, 1);
        const Image after = Noise(50, 30, type, 2);
        const Image sheet = MakeCompareSheet(before, after);
        const int strip = sheet.height - before.height;
        const int right = sheet.width - after.width;
        ASSERT_GT(strip, 0);
        ASSERT_GT(right, before.width);
        for (int y = 0; y < before.height; ++y) {
            EXPECT_EQ(std::memcmp(sheet.PixelAddress(0, strip + y), before.PixelAddress(0, y),
                                  before.RowBytes()),
                      0);
            EXPECT_EQ(std::memcmp(sheet.PixelAddress(right, strip + y), after.PixelAddress(0, y),
                                  after.RowBytes()),
                      0);
        }
        // The gap and the strip are opaque.
        EXPECT_EQ(sheet.Sample(before.width, strip, 3), sheet.Sample(0, 0, 3));
        EXPECT_GT(sheet.Sample(0, 0, 3), 0.0f);
    }
}

TEST(CompareSheet, RefusesImagesThatDoNotMatch) {
    EXPECT_THROW(
        MakeCompareSheet(Noise(4, 4, SampleType::kUint8, 1), Noise(4, 5, SampleType::kUint8, 1)),
        std::invalid_argument);
    EXPECT_THROW(
        MakeCompareSheet(Noise(4, 4, SampleType::kUint8, 1), Noise(4, 4, SampleType::kFloat, 1)),
        std::invalid_argument);
}

TEST(ProgressLine, ShowsRateAndTimeLeft) {
    EXPECT_EQ(ProgressLine(12, 240, 1.5),
              "  12/240 frames  [#                       ]  8.0 fps  0:29 left");
    EXPECT_EQ(ProgressLine(240, 240, 30.0),
              "  240/240 frames  [########################]  8.0 fps");
    EXPECT_EQ(ProgressLine(5, 0, 2.0), "  5 frames  2.5 fps");  // raw video: no total
    EXPECT_EQ(ProgressLine(0, 10, 0.0), "  0/10 frames  [                        ]  0.0 fps");
}

}  // namespace
}  // namespace render
