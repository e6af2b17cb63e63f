// The adapters against the kernel. The float BGRA adapter must give what the
// kernel gives on the reordered pixel, over awkward values and settings; the
// integer adapters what the plain reference (convert, ApplyTemperature,
// convert back) gives; and every adapter the same result in place as between
// two pixels. Each adapter set built into the library (AdapterSets) is held to
// the same rules on every processor that runs it.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "color/adapters.h"
#include "color/kernel.h"
#include "tests/color/float_bits.h"
#include "tests/color/reference_adapter.h"

// gtest names an adapter set by its name in failure messages.
void PrintTo(const AdapterSet& set, std::ostream* out) {
    *out << set.name;
}

namespace {

using vemra::test::FromBits;
using vemra::test::IdenticalBits;
using vemra::test::SameFloat;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Special values, then random bit patterns; NaNs carry payloads of both signs.
std::vector<float> InterestingFloats() {
    std::vector<float> values = {0.0f,
                                 -0.0f,
                                 1.0f,
                                 -1.0f,
                                 0.5f,
                                 0.999999940f,
                                 1.00000012f,
                                 kInf,
                                 -kInf,
                                 kNaN,
                                 3e38f,
                                 -3e38f,
                                 1e-38f,
                                 FromBits(0x00000001u),
                                 FromBits(0x807fffffu),
                                 FromBits(0x7f800001u),
                                 FromBits(0x7fc12345u),
                                 FromBits(0xffa5a5a5u),
                                 0.392156869f,
                                 255.0f,
                                 1e6f};
    std::mt19937 random(12345);
    std::uniform_real_distribution<float> unit(-0.5f, 1.5f);
    for (int i = 0; i < 40; ++i) values.push_back(unit(random));
    for (int i = 0; i < 20; ++i) values.push_back(FromBits(static_cast<std::uint32_t>(random())));
    return values;
}

std::vector<TemperatureSettings> InterestingSettings() {
    std::vector<TemperatureSettings> settings = {
        {0.0f, 0.0f, 1.0f, 0},         {-0.0f, -0.0f, 1.0f, 1},
        {0.25f, 0.1f, 0.8f, 1},        {kNaN, 0.0f, 1.0f, 0},
        {0.0f, kNaN, 0.5f, 1},         {2.5f, -1.66666663f, -0.5f, 0},
        {-2.5f, 1.66666663f, kNaN, 7}, {7.0f, -9.0f, 3.0f, 0},
        {kInf, -kInf, 0.005f, 0},      {-0.560000002f, 0.333333343f, 0.0f, 1},
        {1e-30f, -1e-30f, -1e30f, 0},
    };
    std::mt19937 random(777);
    std::uniform_real_distribution<float> amount(-3.0f, 3.0f);
    std::uniform_real_distribution<float> mix(-1.0f, 1.5f);
    for (int i = 0; i < 20; ++i)
        settings.push_back({amount(random), amount(random), mix(random),
                            static_cast<std::uint8_t>(i % 3 == 0 ? 0 : i)});
    return settings;
}

template <typename Pixel>
void ExpectMatchesReference(PixelFunction adapter, std::uint32_t seed) {
    using C = Channels<Pixel>;
    using Type = typename C::Type;
    std::mt19937 random(seed);
    // Values spread over the whole stored range, with the ends and full scale
    // itself drawn often.
    const auto channel = [&]() -> Type {
        const auto r = static_cast<std::uint32_t>(random());
        const std::uint32_t full = static_cast<std::uint32_t>(C::kFullScale);
        switch (r % 8) {
            case 0:
                return 0;
            case 1:
                return static_cast<Type>(full);
            case 2:
                return static_cast<Type>(~Type{0});
            default:
                return static_cast<Type>(r >> 8);
        }
    };
    for (TemperatureSettings settings : InterestingSettings()) {
        for (int n = 0; n < 3000; ++n) {
            Pixel in;
            in.*C::alpha = channel();
            in.*C::red = channel();
            in.*C::green = channel();
            in.*C::blue = channel();
            Pixel expected{};
            vemra::test::ProcessIntegerPixel(settings, in, expected);
            Pixel out{};
            ASSERT_EQ(0, adapter(&settings, 0, 0, &in, &out));
            ASSERT_EQ(0, std::memcmp(&expected, &out, sizeof(Pixel)))
                << "settings " << settings.temperature << " " << settings.magenta << " "
                << settings.mix << " " << int(settings.clamp);
        }
    }
}

// Source and destination being one pixel must not change any adapter's result.
template <typename Pixel>
void ExpectInPlaceMatchesSeparate(PixelFunction adapter,
                                  const std::vector<TemperatureSettings>& all_settings,
                                  const std::vector<Pixel>& pixels) {
    for (TemperatureSettings settings : all_settings) {
        for (const Pixel& pixel : pixels) {
            Pixel separate{};
            adapter(&settings, 0, 0, &pixel, &separate);
            Pixel in_place = pixel;
            adapter(&settings, 0, 0, &in_place, &in_place);
            ASSERT_EQ(0, std::memcmp(&separate, &in_place, sizeof(Pixel)));
        }
    }
}

// --- Every adapter set --------------------------------------------------------

class AdapterSetTest : public ::testing::TestWithParam<AdapterSet> {
  protected:
    void SetUp() override {
        if (!GetParam().supported()) GTEST_SKIP() << GetParam().name << " is not supported here";
    }
};

TEST_P(AdapterSetTest, IntegerAdaptersMatchThePlainReference) {
    ExpectMatchesReference<PixelArgb8>(GetParam().argb8, 11);
    ExpectMatchesReference<PixelBgra8>(GetParam().bgra8, 12);
    ExpectMatchesReference<PixelArgb16>(GetParam().argb16, 13);
}

// Each channel in turn takes every value its type can store, under settings
// that run every step (a NaN amount among them, with and without the clamp),
// under neutral ones written in several ways (±0 amounts; mix 1, above 1 or
// NaN) and under ones just off neutral, so that no single value converts
// wrongly and a step that should run, or should not, does.
template <typename Pixel>
void ExpectEveryValueMatchesReference(PixelFunction adapter) {
    using C = Channels<Pixel>;
    using Type = typename C::Type;
    const TemperatureSettings all_settings[] = {
        {0.25f, 0.1f, 0.8f, 1},         {-0.560000002f, 0.333333343f, 1.0f, 0},
        {2.5f, -1.66666663f, -0.5f, 0}, {kNaN, 0.5f, 0.3f, 1},
        {0.0f, kNaN, 2.0f, 0},          {0.0f, 0.0f, 1.0f, 0},
        {-0.0f, -0.0f, kNaN, 1},        {1e-45f, 0.0f, 3.0f, 0},
        {0.0f, -0.0f, 0.3f, 1}};
    const unsigned last = std::numeric_limits<Type>::max();
    for (TemperatureSettings settings : all_settings) {
        for (auto member : {C::alpha, C::red, C::green, C::blue}) {
            for (unsigned v = 0; v <= last; ++v) {
                Pixel in;
                in.*C::alpha = static_cast<Type>(last / 5);
                in.*C::red = static_cast<Type>(last / 4);
                in.*C::green = static_cast<Type>(last / 3);
                in.*C::blue = static_cast<Type>(last / 2);
                in.*member = static_cast<Type>(v);
                Pixel expected{};
                vemra::test::ProcessIntegerPixel(settings, in, expected);
                Pixel out{};
                adapter(&settings, 0, 0, &in, &out);
                ASSERT_EQ(0, std::memcmp(&expected, &out, sizeof(Pixel)))
                    << "value " << v << ", settings " << settings.temperature << " "
                    << settings.magenta << " " << settings.mix << " " << int(settings.clamp);
            }
        }
    }
}

TEST_P(AdapterSetTest, EveryStoredValueMatchesThePlainReference) {
    ExpectEveryValueMatchesReference<PixelArgb8>(GetParam().argb8);
    ExpectEveryValueMatchesReference<PixelBgra8>(GetParam().bgra8);
    ExpectEveryValueMatchesReference<PixelArgb16>(GetParam().argb16);
}

TEST_P(AdapterSetTest, FloatAdapterEqualsTheKernel) {
    const PixelFunction adapter = GetParam().bgra_float;
    const std::vector<float> values = InterestingFloats();
    std::mt19937 random(4243);
    std::uniform_int_distribution<std::size_t> pick(0, values.size() - 1);
    for (TemperatureSettings settings : InterestingSettings()) {
        for (int n = 0; n < 2000; ++n) {
            const PixelBgraFloat in{values[pick(random)], values[pick(random)],
                                    values[pick(random)], values[pick(random)]};
            PixelBgraFloat out{};
            ASSERT_EQ(0, adapter(&settings, 3, 4, &in, &out));
            PixelArgbFloat expected{};
            ApplyTemperature(settings, {in.alpha, in.red, in.green, in.blue}, expected);
            ASSERT_TRUE(IdenticalBits(in.alpha, out.alpha));
            ASSERT_TRUE(SameFloat(expected.red, out.red));
            ASSERT_TRUE(SameFloat(expected.green, out.green));
            ASSERT_TRUE(SameFloat(expected.blue, out.blue));
        }
    }
}

// A channel that no step touches comes back bit for bit, NaN payloads,
// infinities and denormals included: everything under neutral settings, green
// when only the temperature step runs, alpha always.
TEST_P(AdapterSetTest, FloatAdapterKeepsWhatNoStepTouches) {
    const PixelFunction adapter = GetParam().bgra_float;
    const std::vector<float> values = InterestingFloats();
    TemperatureSettings neutral{-0.0f, 0.0f, 1.0f, 0};
    TemperatureSettings temperature_only{0.25f, -0.0f, kNaN, 0};
    TemperatureSettings everything{kInf, kNaN, -0.5f, 1};
    for (std::size_t i = 0; i + 3 < values.size(); ++i) {
        const PixelBgraFloat in{values[i], values[i + 1], values[i + 2], values[i + 3]};
        PixelBgraFloat out{};
        adapter(&neutral, 0, 0, &in, &out);
        ASSERT_EQ(0, std::memcmp(&in, &out, sizeof in)) << "pixel " << i;
        adapter(&temperature_only, 0, 0, &in, &out);
        ASSERT_TRUE(IdenticalBits(in.green, out.green));
        ASSERT_TRUE(IdenticalBits(in.alpha, out.alpha));
        adapter(&everything, 0, 0, &in, &out);
        ASSERT_TRUE(IdenticalBits(in.alpha, out.alpha));
    }
}

TEST_P(AdapterSetTest, InPlaceCallsMatchSeparateBuffers) {
    std::mt19937 random(98);
    std::vector<PixelArgb8> argb8;
    std::vector<PixelBgra8> bgra8;
    std::vector<PixelArgb16> argb16;
    std::vector<PixelBgraFloat> bgra_float;
    const std::vector<float> values = InterestingFloats();
    for (int i = 0; i < 300; ++i) {
        const auto r = static_cast<std::uint32_t>(random());
        const auto b = [&](int shift) { return static_cast<std::uint8_t>(r >> shift); };
        argb8.push_back({b(0), b(8), b(16), b(24)});
        bgra8.push_back({b(0), b(8), b(16), b(24)});
        const auto w = [&]() { return static_cast<std::uint16_t>(random()); };
        argb16.push_back({w(), w(), w(), w()});
        const auto f = [&]() { return values[random() % values.size()]; };
        bgra_float.push_back({f(), f(), f(), f()});
    }
    const auto settings = InterestingSettings();
    ExpectInPlaceMatchesSeparate<PixelArgb8>(GetParam().argb8, settings, argb8);
    ExpectInPlaceMatchesSeparate<PixelBgra8>(GetParam().bgra8, settings, bgra8);
    ExpectInPlaceMatchesSeparate<PixelArgb16>(GetParam().argb16, settings, argb16);
    ExpectInPlaceMatchesSeparate<PixelBgraFloat>(GetParam().bgra_float, settings, bgra_float);
}

INSTANTIATE_TEST_SUITE_P(Sets, AdapterSetTest,
                         ::testing::ValuesIn(AdapterSets().begin(), AdapterSets().end()),
                         [](const ::testing::TestParamInfo<AdapterSet>& set) {
                             return std::string(set.param.name);
                         });

// The baseline set is the functions adapters.h declares and runs anywhere;
// the set a render uses is the last one this processor supports, which on a
// processor with AVX2 is the AVX2 set.
TEST(AdapterSets, RenderUsesTheFastestSupportedSet) {
    const auto sets = AdapterSets();
    ASSERT_GE(sets.size(), 2u);
    EXPECT_STREQ("sse2", sets[0].name);
    EXPECT_TRUE(sets[0].supported());
    EXPECT_EQ(sets[0].argb8, &ProcessPixelArgb8);
    EXPECT_EQ(sets[0].argb16, &ProcessPixelArgb16);
    EXPECT_EQ(sets[0].bgra8, &ProcessPixelBgra8);
    EXPECT_EQ(sets[0].bgra_float, &ProcessPixelBgraFloat);

    const AdapterSet& fastest = FastestAdapterSet();
    EXPECT_TRUE(fastest.supported());
    bool after = false;
    for (const AdapterSet& set : sets) {
        if (after) {
            EXPECT_FALSE(set.supported()) << set.name;
        }
        after = after || &set == &fastest;
    }
    EXPECT_TRUE(after) << "the fastest set is one of the table's";

    __builtin_cpu_init();
    EXPECT_EQ(__builtin_cpu_supports("avx2") != 0, std::string(fastest.name) == "avx2");
}

}  // namespace
