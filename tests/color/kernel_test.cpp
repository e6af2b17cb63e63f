// ApplyTemperature against values worked out by hand from the step rules.
#include "color/kernel.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <limits>
#include <ostream>
#include <vector>

#include "tests/color/float_bits.h"

namespace {

using vemra::test::FromBits;
using vemra::test::IdenticalBits;
using vemra::test::SameFloat;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr std::uint8_t kOff = 0;
constexpr std::uint8_t kOn = 1;

struct KernelCase {
    const char* what;
    TemperatureSettings settings;
    PixelArgbFloat input;
    PixelArgbFloat expected;
};

// Decimal values stand for the nearest 32-bit float.
const std::vector<KernelCase> kCases = {
    {"warm", {0.5f, 0.0f, 1.0f, kOff}, {1, 0.5f, 0.5f, 0.5f}, {1, 0.75f, 0.5f, 0.25f}},
    {"towards magenta",
     {0.0f, 0.333333343f, 1.0f, kOff},
     {1, 0.5f, 0.5f, 0.5f},
     {1, 0.666666687f, 0.166666657f, 0.666666687f}},
    {"towards green",
     {0.0f, -0.333333343f, 1.0f, kOff},
     {1, 0.5f, 0.5f, 0.5f},
     {1, 0.333333313f, 0.833333373f, 0.333333313f}},
    // Red is 0.5 * 1.5 * 1.333333343 rounded once per step: exactly 1.
    {"factors multiply",
     {0.5f, 0.333333343f, 1.0f, kOff},
     {1, 0.5f, 0.5f, 0.5f},
     {1, 1.0f, 0.166666657f, 0.333333343f}},
    {"half mix", {0.5f, 0.0f, 0.5f, kOff}, {1, 0.5f, 0.5f, 0.5f}, {1, 0.625f, 0.5f, 0.375f}},
    {"NaN mix is no mix", {0.5f, 0.0f, kNaN, kOff}, {1, 0.5f, 0.5f, 0.5f}, {1, 0.75f, 0.5f, 0.25f}},
    {"mix above 1 is no mix",
     {0.5f, 0.0f, 1.5f, kOff},
     {1, 0.5f, 0.5f, 0.5f},
     {1, 0.75f, 0.5f, 0.25f}},
    {"negative mix extrapolates",
     {0.5f, 0.0f, -0.5f, kOff},
     {1, 0.5f, 0.5f, 0.5f},
     {1, 0.375f, 0.5f, 0.625f}},
    {"beyond full scale unclamped",
     {1.0f, 0.0f, 1.0f, kOff},
     {1, 0.8f, 0.5f, 0.4f},
     {1, 1.60000002f, 0.5f, 0.0f}},
    {"beyond full scale clamped", {1.0f, 0.0f, 1.0f, kOn}, {1, 0.8f, 0.5f, 0.4f}, {1, 1, 0.5f, 0}},
    {"fully cool", {-1.0f, 0.0f, 1.0f, kOff}, {1, 0.8f, 0.5f, 0.4f}, {1, 0.0f, 0.5f, 0.800000012f}},
    {"clamp turns NaN to 1 and negatives to 0",
     {0.5f, 0.0f, 1.0f, kOn},
     {1, kNaN, 0.5f, -0.25f},
     {1, 1, 0.5f, 0}},
    {"NaN and negatives pass unclamped",
     {0.5f, 0.0f, 1.0f, kOff},
     {1, kNaN, 0.5f, -0.25f},
     {1, kNaN, 0.5f, -0.125f}},
    {"NaN temperature runs its step",
     {kNaN, 0.0f, 1.0f, kOff},
     {1, 0.5f, 0.5f, 0.5f},
     {1, kNaN, 0.5f, kNaN}},
    {"magenta above one half makes green negative",
     {0.0f, 1.0f, 1.0f, kOff},
     {1, 0.5f, 0.5f, 0.5f},
     {1, 1.0f, -0.5f, 1.0f}},
    // 0.392156869 is the float nearest 100/255. With 1 - t and the product in
    // single precision blue would be 0.611764669.
    {"double precision per step",
     {-0.560000002f, 0.0f, 1.0f, kOff},
     {1, 0.392156869f, 0.392156869f, 0.392156869f},
     {1, 0.172549024f, 0.392156869f, 0.611764729f}},
};

void PrintTo(const KernelCase& c, std::ostream* os) {
    *os << c.what;
}

class KernelExamples : public ::testing::TestWithParam<KernelCase> {};

TEST_P(KernelExamples, MatchesHandWorkedValues) {
    const KernelCase& c = GetParam();
    PixelArgbFloat out{-7, -7, -7, -7};
    EXPECT_EQ(ApplyTemperature(c.settings, c.input, out), 0);
    EXPECT_TRUE(IdenticalBits(c.expected.alpha, out.alpha));
    EXPECT_TRUE(SameFloat(c.expected.red, out.red)) << "red";
    EXPECT_TRUE(SameFloat(c.expected.green, out.green)) << "green";
    EXPECT_TRUE(SameFloat(c.expected.blue, out.blue)) << "blue";
}

INSTANTIATE_TEST_SUITE_P(Kernel, KernelExamples, ::testing::ValuesIn(kCases),
                         [](const auto& param_info) {
                             std::string name = param_info.param.what;
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

// Settings that must leave a pixel exactly as it is. A step that ran anyway
// would show: a signalling NaN would be quieted by the double-precision steps,
// and mixing at 1 would turn the infinite green into NaN (0 * inf).
TEST(Kernel, NeutralSettingsReturnThePixelBitForBit) {
    const float signalling_nan = FromBits(0x7f800001u);
    const float nan_with_payload = FromBits(0xffc12345u);
    const std::vector<PixelArgbFloat> pixels = {
        {1, kNaN, 2.5f, -0.25f},
        {nan_with_payload, signalling_nan, kInf, -0.0f},
        {FromBits(0x00000001u), -kInf, 1e38f, nan_with_payload},
    };
    const std::vector<TemperatureSettings> neutral = {
        {0.0f, 0.0f, 1.0f, kOff},
        {-0.0f, -0.0f, 1.0f, kOff},
        {0.0f, 0.0f, 2.0f, kOff},
        {0.0f, 0.0f, kNaN, kOff},
    };
    for (const auto& settings : neutral) {
        for (const auto& pixel : pixels) {
            PixelArgbFloat out{};
            ApplyTemperature(settings, pixel, out);
            EXPECT_TRUE(IdenticalBits(pixel.alpha, out.alpha));
            EXPECT_TRUE(IdenticalBits(pixel.red, out.red));
            EXPECT_TRUE(IdenticalBits(pixel.green, out.green));
            EXPECT_TRUE(IdenticalBits(pixel.blue, out.blue));
        }
    }
}

// Any nonzero byte turns clamping on; -0 is not below 0 and stays -0.
TEST(Kernel, ClampFlagIsAnyNonzeroByteAndKeepsNegativeZero) {
    for (int flag : {1, 2, 0x80, 0xff}) {
        const TemperatureSettings settings{0.0f, 0.0f, 1.0f, static_cast<std::uint8_t>(flag)};
        const PixelArgbFloat in{5.0f, 1.5f, -0.0f, kNaN};
        PixelArgbFloat out{};
        ApplyTemperature(settings, in, out);
        EXPECT_TRUE(IdenticalBits(5.0f, out.alpha)) << "alpha is never clamped";
        EXPECT_TRUE(IdenticalBits(1.0f, out.red));
        EXPECT_TRUE(IdenticalBits(-0.0f, out.green));
        EXPECT_TRUE(IdenticalBits(1.0f, out.blue));
    }
}

// Alpha leaves the kernel untouched whatever the settings, NaN payloads included.
TEST(Kernel, AlphaIsNeverChanged) {
    const std::vector<float> alphas = {
        0.0f, -0.0f, 1.0f, 70000.0f, -kInf, FromBits(0x7fa00001u), FromBits(0xffffffffu)};
    const std::vector<TemperatureSettings> settings = {
        {2.5f, -1.6f, -3.0f, kOn}, {kNaN, kNaN, 0.25f, kOff}, {-kInf, kInf, kNaN, kOn}};
    for (const auto& s : settings) {
        for (float alpha : alphas) {
            PixelArgbFloat out{};
            ApplyTemperature(s, {alpha, 0.25f, 0.5f, 0.75f}, out);
            EXPECT_TRUE(IdenticalBits(alpha, out.alpha));
        }
    }
}

}  // namespace
