// The pixel adapters against hand-worked values, and their exact round trip.
#include "color/adapters.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "tests/color/float_bits.h"

namespace {

using vemra::test::IdenticalBits;
using vemra::test::SameFloat;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr std::uint8_t kOff = 0;
constexpr std::uint8_t kOn = 1;
constexpr TemperatureSettings kNeutral{0.0f, 0.0f, 1.0f, kOff};

template <typename Pixel>
struct AdapterCase {
    TemperatureSettings settings;
    Pixel in;        // channels in memory order
    Pixel expected;  // channels in memory order
};

template <typename Pixel>
void ExpectSamePixel(const Pixel& expected, const Pixel& actual, const char* context) {
    EXPECT_EQ(0, std::memcmp(&expected, &actual, sizeof(Pixel))) << context;
}

template <typename Pixel>
void RunCases(PixelFunction adapter, const std::vector<AdapterCase<Pixel>>& cases) {
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto& c = cases[i];
        TemperatureSettings settings = c.settings;
        Pixel out{};
        EXPECT_EQ(0, adapter(&settings, 0, 0, &c.in, &out));
        ExpectSamePixel(c.expected, out, ("case " + std::to_string(i)).c_str());

        // The same pixel as source and destination gives the same result.
        Pixel in_place = c.in;
        EXPECT_EQ(0, adapter(&settings, 0, 0, &in_place, &in_place));
        ExpectSamePixel(c.expected, in_place, ("in place, case " + std::to_string(i)).c_str());
    }
}

TEST(Adapters, Argb8MatchesHandWorkedValues) {
    RunCases<PixelArgb8>(
        ProcessPixelArgb8,
        {
            // Red 300 saturates; the clamp flag changes nothing for it.
            {{0.5f, 0.0f, 1.0f, kOff}, {255, 200, 100, 50}, {255, 255, 100, 25}},
            {{0.5f, 0.0f, 1.0f, kOn}, {255, 200, 100, 50}, {255, 255, 100, 25}},
            // Blue 37.5 is truncated.
            {{0.5f, 0.0f, 0.5f, kOff}, {255, 200, 100, 50}, {255, 250, 100, 37}},
            // 151.5 is truncated, not rounded.
            {{0.5f, 0.0f, 1.0f, kOff}, {255, 101, 0, 0}, {255, 151, 0, 0}},
            // Green is 29.999998 in single precision.
            {{0.0f, 0.333333343f, 1.0f, kOff}, {255, 90, 90, 90}, {255, 120, 29, 120}},
            // An all-single kernel would give blue 155.
            {{-0.560000002f, 0.0f, 1.0f, kOff}, {255, 100, 100, 100}, {255, 44, 100, 156}},
            // Multiplying by the float nearest 1/255 instead of dividing would give red 3.
            {{-0.800000012f, 0.0f, 1.0f, kOff}, {255, 15, 15, 15}, {255, 2, 15, 27}},
            // Negative green saturates at 0, never wraps.
            {{0.0f, 1.0f, 1.0f, kOff}, {255, 128, 128, 128}, {255, 255, 0, 255}},
            {{-2.0f, 0.0f, 1.0f, kOff}, {255, 128, 128, 128}, {255, 0, 128, 255}},
            // A NaN channel is 0 without the clamp flag and full scale with it.
            {{kNaN, 0.0f, 1.0f, kOff}, {7, 100, 100, 100}, {7, 0, 100, 0}},
            {{kNaN, 0.0f, 1.0f, kOn}, {7, 100, 100, 100}, {7, 255, 100, 255}},
        });
}

TEST(Adapters, Argb16MatchesHandWorkedValues) {
    RunCases<PixelArgb16>(
        ProcessPixelArgb16,
        {
            {{0.5f, 0.0f, 1.0f, kOff}, {32768, 16384, 8192, 4096}, {32768, 24576, 8192, 2048}},
            // Stored values above full scale saturate at 32768.
            {{0.0f, 0.0f, 1.0f, kOff}, {40000, 65535, 32768, 0}, {32768, 32768, 32768, 0}},
            {{kNaN, 0.0f, 1.0f, kOn}, {1, 100, 100, 100}, {1, 32768, 100, 32768}},
        });
}

TEST(Adapters, Bgra8IsArgb8InTheOtherByteOrder) {
    RunCases<PixelBgra8>(
        ProcessPixelBgra8,
        {
            {{0.5f, 0.0f, 1.0f, kOff}, {50, 100, 200, 255}, {25, 100, 255, 255}},
            {{-0.800000012f, 0.0f, 1.0f, kOff}, {15, 15, 15, 255}, {27, 15, 2, 255}},
        });
}

struct FloatCase {
    TemperatureSettings settings;
    PixelBgraFloat in;
    PixelBgraFloat expected;
};

TEST(Adapters, BgraFloatMatchesHandWorkedValues) {
    const std::vector<FloatCase> cases = {
        // Values beyond full scale pass through unless the clamp flag is on.
        {{0.5f, 0.0f, 1.0f, kOff}, {0.5f, 0.5f, 1.5f, 1.0f}, {0.25f, 0.5f, 2.25f, 1.0f}},
        {{0.5f, 0.0f, 1.0f, kOn}, {0.5f, 0.5f, 1.5f, 1.0f}, {0.25f, 0.5f, 1.0f, 1.0f}},
        // A NaN blue clamps to 1; a NaN alpha passes through.
        {{0.0f, 0.0f, 1.0f, kOn}, {kNaN, 0.5f, -0.25f, kNaN}, {1.0f, 0.5f, 0.0f, kNaN}},
    };
    for (const auto& c : cases) {
        TemperatureSettings settings = c.settings;
        PixelBgraFloat out{};
        EXPECT_EQ(0, ProcessPixelBgraFloat(&settings, 0, 0, &c.in, &out));
        EXPECT_TRUE(SameFloat(c.expected.blue, out.blue));
        EXPECT_TRUE(SameFloat(c.expected.green, out.green));
        EXPECT_TRUE(SameFloat(c.expected.red, out.red));
        EXPECT_TRUE(IdenticalBits(c.in.alpha, out.alpha));
    }

    // Clamp off: the pixel with NaNs comes back bit for bit.
    TemperatureSettings settings = kNeutral;
    const PixelBgraFloat in{vemra::test::FromBits(0x7fc0beefu), 0.5f, -0.25f,
                            vemra::test::FromBits(0xff800001u)};
    PixelBgraFloat out{};
    ProcessPixelBgraFloat(&settings, 0, 0, &in, &out);
    EXPECT_EQ(0, std::memcmp(&in, &out, sizeof in));
}

// With neutral settings the conversion in and back is exact: every 8-bit value
// and every 16-bit value up to 32768 returns unchanged in every channel.
template <typename Pixel>
void ExpectNeutralRoundTrip(PixelFunction adapter, unsigned max_value) {
    using Type = typename Channels<Pixel>::Type;
    using C = Channels<Pixel>;
    TemperatureSettings settings = kNeutral;
    for (unsigned v = 0; v <= max_value; ++v) {
        const Type value = static_cast<Type>(v);
        // Each channel in turn carries v; the others carry other values, so a
        // channel mixed up with another would show.
        for (auto member : {C::alpha, C::red, C::green, C::blue}) {
            Pixel in{};
            in.*C::alpha = static_cast<Type>(max_value / 5);
            in.*C::red = static_cast<Type>(max_value / 4);
            in.*C::green = static_cast<Type>(max_value / 3);
            in.*C::blue = static_cast<Type>(max_value / 2);
            in.*member = value;
            Pixel out{};
            adapter(&settings, 0, 0, &in, &out);
            ASSERT_EQ(0, std::memcmp(&in, &out, sizeof in)) << "value " << v;
        }
    }
}

TEST(Adapters, NeutralSettingsReturnEveryIntegerValue) {
    ExpectNeutralRoundTrip<PixelArgb8>(ProcessPixelArgb8, 255);
    ExpectNeutralRoundTrip<PixelBgra8>(ProcessPixelBgra8, 255);
    ExpectNeutralRoundTrip<PixelArgb16>(ProcessPixelArgb16, 32768);
}

TEST(Adapters, SixteenBitValuesAboveFullScaleSaturate) {
    TemperatureSettings settings = kNeutral;
    for (unsigned v = 32769; v <= 65535; ++v) {
        const auto value = static_cast<std::uint16_t>(v);
        const PixelArgb16 in{value, value, value, value};
        PixelArgb16 out{};
        ProcessPixelArgb16(&settings, 0, 0, &in, &out);
        ASSERT_EQ(out.alpha, 32768) << v;
        ASSERT_EQ(out.red, 32768) << v;
        ASSERT_EQ(out.green, 32768) << v;
        ASSERT_EQ(out.blue, 32768) << v;
    }
}

}  // namespace
