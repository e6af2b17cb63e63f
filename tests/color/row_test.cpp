// The 8-bit BGRA row function of every adapter set against the "bgra" pixel
// adapter of the baseline set, pixel by pixel: every byte value in every
// channel, random pixels, runs of every length around a block (so every
// tail), and in place.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "color/adapters.h"

// Names an adapter set by its name in failure messages (adapter_sets_test.cpp).
void PrintTo(const AdapterSet& set, std::ostream* out);

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

/// Settings at the edges of each step's rules, then random ones, in and well
/// beyond the ranges the controls give.
std::vector<TemperatureSettings> RowSettings() {
    std::vector<TemperatureSettings> all = {
        {0.0f, 0.0f, 1.0f, 0},          {-0.0f, -0.0f, 1.0f, 1},
        {0.25f, 0.1f, 0.8f, 1},         {kNaN, 0.0f, 1.0f, 0},
        {0.0f, kNaN, 0.5f, 1},          {0.5f, 0.2f, kNaN, 7},
        {kInf, 0.0f, 1.0f, 1},          {0.0f, -kInf, 0.3f, 0},
        {2.5f, -1.66666663f, 0.0f, 0},  {-2.5f, 1.66666663f, -0.5f, 1},
        {-0.560000002f, 0.0f, 1.5f, 0}, {1e-30f, 0.0f, 1e-30f, 0},
    };
    std::mt19937 random(2024);
    std::uniform_real_distribution<float> amount(-3.0f, 3.0f);
    std::uniform_real_distribution<float> mix(-0.5f, 1.5f);
    for (int i = 0; i < 40; ++i)
        all.push_back({amount(random), amount(random), mix(random),
                       static_cast<std::uint8_t>(i % 2 == 0 ? 0 : i)});
    return all;
}

std::vector<std::uint8_t> ThroughAdapter(const TemperatureSettings& settings,
                                         const std::vector<std::uint8_t>& in) {
    std::vector<std::uint8_t> out(in.size());
    TemperatureSettings s = settings;
    for (std::size_t i = 0; i < in.size(); i += 4) ProcessPixelBgra8(&s, 0, 0, &in[i], &out[i]);
    return out;
}

std::string Describe(const TemperatureSettings& s) {
    return "settings " + std::to_string(s.temperature) + " " + std::to_string(s.magenta) + " " +
           std::to_string(s.mix) + " " + std::to_string(int(s.clamp));
}

class RowTest : public ::testing::TestWithParam<AdapterSet> {
  protected:
    void SetUp() override {
        if (!GetParam().supported()) GTEST_SKIP() << GetParam().name << " is not supported here";
    }
};

// Pixel i holds i, 255 - i, 37i mod 256 and i xor 0x5a: each channel takes
// every byte value once, with the other channels changing around it.
TEST_P(RowTest, EveryByteInEveryChannelMatchesTheAdapter) {
    std::vector<std::uint8_t> in(256 * 4);
    for (int i = 0; i < 256; ++i) {
        in[4 * i] = static_cast<std::uint8_t>(i);
        in[4 * i + 1] = static_cast<std::uint8_t>(255 - i);
        in[4 * i + 2] = static_cast<std::uint8_t>(37 * i);
        in[4 * i + 3] = static_cast<std::uint8_t>(i ^ 0x5a);
    }
    for (const TemperatureSettings& settings : RowSettings()) {
        std::vector<std::uint8_t> out(in.size());
        GetParam().bgra8_row(settings, in.data(), out.data(), 256);
        ASSERT_EQ(out, ThroughAdapter(settings, in)) << Describe(settings);
    }
}

// Every run length up to three blocks, at odd offsets, separate and in place;
// the bytes either side of the run stay untouched.
TEST_P(RowTest, RunsOfAnyLengthMatchTheAdapterSeparateAndInPlace) {
    std::mt19937 random(99);
    const std::vector<TemperatureSettings> all = RowSettings();
    for (std::size_t count = 0; count <= 25; ++count) {
        for (const TemperatureSettings& settings : all) {
            std::vector<std::uint8_t> in(count * 4);
            for (std::uint8_t& byte : in) byte = static_cast<std::uint8_t>(random());
            const std::vector<std::uint8_t> expected = ThroughAdapter(settings, in);

            // One pixel of guard either side, and an odd start.
            std::vector<std::uint8_t> out(count * 4 + 9, 0xA5);
            GetParam().bgra8_row(settings, in.data(), out.data() + 5, count);
            ASSERT_TRUE(std::equal(expected.begin(), expected.end(), out.begin() + 5))
                << count << " pixels, " << Describe(settings);
            for (std::size_t i : {0, 1, 2, 3, 4}) ASSERT_EQ(out[i], 0xA5);
            for (std::size_t i = count * 4 + 5; i < out.size(); ++i) ASSERT_EQ(out[i], 0xA5);

            std::vector<std::uint8_t> in_place = in;
            GetParam().bgra8_row(settings, in_place.data(), in_place.data(), count);
            ASSERT_EQ(in_place, expected) << "in place, " << count << " pixels";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sets, RowTest,
                         ::testing::ValuesIn(AdapterSets().begin(), AdapterSets().end()),
                         [](const ::testing::TestParamInfo<AdapterSet>& set) {
                             return std::string(set.param.name);
                         });

}  // namespace
