// Whole frames in each host and layout, with padded and negative strides,
// partial extents and several iteration threads, against the adapters applied
// pixel by pixel on their own.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>

#include "sim/host.h"
#include "tests/color/float_bits.h"
#include "tests/effect/frames.h"
#include "tests/effect/loaded_effect.h"

namespace {

using sim::Layout;
using vemra::test::LoadedEffect;

struct Controls {
    const char* name;
    sim::ParamValues values;
    TemperatureSettings settings;  // what the controls convert to, worked out by hand
};

void PrintTo(const Controls& c, std::ostream* os) {
    *os << c.name;
}

const Controls kControls[] = {
    // 0.3 rounds to single first; 0.3f / 3 is nearest 0.1f; 80 % the float nearest 0.8.
    {"AllSteps", {0.5, 0.3, 80.0, true}, {0.25f, 0.1f, 0.8f, 1}},
    {"Extreme", {-5.0, 5.0, 100.0, false}, {-2.5f, 1.66666663f, 1.0f, 0}},
    {"Neutral", {0.0, 0.0, 100.0, false}, {0.0f, 0.0f, 1.0f, 0}},
};

struct Geometry {
    const char* name;
    std::int32_t width, height;
    std::int32_t rowbytes_padding;  // bytes added to each row; negative stride if `bottom_up`
    bool bottom_up;
    bool partial_extent;
};

void PrintTo(const Geometry& c, std::ostream* os) {
    *os << c.name;
}

const Geometry kGeometries[] = {
    {"Tight", 37, 23, 0, false, false},    {"Padded", 37, 23, 20, false, false},
    {"BottomUp", 37, 23, 12, true, false}, {"PartialExtent", 37, 23, 0, false, true},
    {"OnePixel", 1, 1, 0, false, false},
};

struct Target {
    const char* name;
    std::int32_t appl_id;
    Layout layout;
};

void PrintTo(const Target& c, std::ostream* os) {
    *os << c.name;
}

const Target kTargets[] = {
    {"AeArgb8", sim::kApplIdOther, Layout::kArgb8},
    {"AeArgb16", sim::kApplIdOther, Layout::kArgb16},
    {"PrMrBgra8", kApplIdPrMr, Layout::kBgra8},
    {"PrMrBgraFloat", kApplIdPrMr, Layout::kBgraFloat},
};

sim::World MakeWorld(Layout layout, const Geometry& g, std::uint32_t seed) {
    const auto row = static_cast<std::int32_t>(sim::BytesPerPixel(layout)) * g.width;
    const std::int32_t stride = row + g.rowbytes_padding;
    sim::World world(layout, g.width, g.height, g.bottom_up ? -stride : stride);
    world.FillRandom(seed);
    if (g.partial_extent) world.SetExtentHint({3, 2, g.width - 5, g.height - 4});
    return world;
}

/// The rows and columns a path renders: the host's iteration covers the
/// extent hint; the effect's own float walker covers extent-height rows from
/// the top of the world, full width.
vemra::test::Region RenderedRegion(Layout layout, const sim::World& input,
                                   const sim::World& output) {
    if (layout == Layout::kBgraFloat) {
        const PF_Rect& e = output.def().extent_hint;
        return {0, 0, std::min(input.width(), output.width()),
                std::min({e.bottom - e.top, input.height(), output.height()})};
    }
    return vemra::test::ExtentInsideBoth(input, output);
}

class WholeFrame : public ::testing::TestWithParam<std::tuple<Target, Geometry, Controls, int>> {};

TEST_P(WholeFrame, MatchesTheAdapterPixelByPixel) {
    const auto& [target, geometry, controls, threads] = GetParam();
    sim::Host host(LoadedEffect(), target.appl_id);
    host.SetThreads(threads);

    sim::World input = MakeWorld(target.layout, geometry, 11);
    sim::World output = MakeWorld(target.layout, geometry, 12);
    const sim::World before = vemra::test::CopyWorld(output);

    ASSERT_EQ(host.Render(input, output, controls.values), PF_Err_NONE);
    const vemra::test::Region region = RenderedRegion(target.layout, input, output);
    const sim::World expected = vemra::test::ExpectedRender(
        input, before, controls.settings, vemra::test::AdapterFor(target.layout), region);
    EXPECT_TRUE(vemra::test::SameBytes(expected, output));
    EXPECT_TRUE(host.NothingAcquired());
    EXPECT_TRUE(host.violations().empty());

    // Alpha is never changed; 16-bit alpha above full scale saturates at 32768.
    for (std::int32_t y = region.top; y < region.bottom; ++y) {
        for (std::int32_t x = region.left; x < region.right; ++x) {
            switch (target.layout) {
                case Layout::kArgb8:
                    ASSERT_EQ(output.Get<PixelArgb8>(x, y).alpha,
                              input.Get<PixelArgb8>(x, y).alpha);
                    break;
                case Layout::kArgb16:
                    ASSERT_EQ(output.Get<PixelArgb16>(x, y).alpha,
                              std::min<int>(input.Get<PixelArgb16>(x, y).alpha, 32768));
                    break;
                case Layout::kBgra8:
                    ASSERT_EQ(output.Get<PixelBgra8>(x, y).alpha,
                              input.Get<PixelBgra8>(x, y).alpha);
                    break;
                case Layout::kBgraFloat:
                    ASSERT_EQ(vemra::test::Bits(output.Get<PixelBgraFloat>(x, y).alpha),
                              vemra::test::Bits(input.Get<PixelBgraFloat>(x, y).alpha));
                    break;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Frames, WholeFrame,
                         ::testing::Combine(::testing::ValuesIn(kTargets),
                                            ::testing::ValuesIn(kGeometries),
                                            ::testing::ValuesIn(kControls),
                                            ::testing::Values(1, 3)),
                         [](const auto& param_info) {
                             const auto& p = param_info.param;
                             return std::string(std::get<0>(p).name) + "_" + std::get<1>(p).name +
                                    "_" + std::get<2>(p).name + "_" +
                                    std::to_string(std::get<3>(p)) + "Threads";
                         });

// Hosts that break the promises about world sizes must not make the effect
// read or write outside either world; under AddressSanitizer any stray access
// fails the test.
struct Mismatch {
    const char* name;
    std::int32_t appl_id;
    Layout layout;
    std::int32_t input_width, input_height;
    PF_Rect extent;  // of the output, which is 16 x 12
};

void PrintTo(const Mismatch& c, std::ostream* os) {
    *os << c.name;
}

class MismatchedWorlds : public ::testing::TestWithParam<Mismatch> {};

TEST_P(MismatchedWorlds, StayInsideBothWorlds) {
    const Mismatch& m = GetParam();
    sim::Host host(LoadedEffect(), m.appl_id);
    sim::World input(m.layout, m.input_width, m.input_height);
    input.FillRandom(5);
    sim::World output(m.layout, 16, 12);
    output.FillRandom(6);
    output.SetExtentHint(m.extent);
    const sim::World before = vemra::test::CopyWorld(output);

    ASSERT_EQ(host.Render(input, output, {1.0, 0.0, 100.0, false}), PF_Err_NONE);
    const TemperatureSettings settings{0.5f, 0.0f, 1.0f, 0};
    const sim::World expected =
        vemra::test::ExpectedRender(input, before, settings, vemra::test::AdapterFor(m.layout),
                                    RenderedRegion(m.layout, input, output));
    EXPECT_TRUE(vemra::test::SameBytes(expected, output));
}

INSTANTIATE_TEST_SUITE_P(
    Guards, MismatchedWorlds,
    ::testing::Values(
        Mismatch{"FloatInputSmaller", kApplIdPrMr, Layout::kBgraFloat, 9, 5, {0, 0, 16, 12}},
        Mismatch{
            "FloatExtentBeyondWorld", kApplIdPrMr, Layout::kBgraFloat, 16, 12, {-4, -3, 40, 30}},
        Mismatch{"FloatExtentInverted", kApplIdPrMr, Layout::kBgraFloat, 16, 12, {0, 9, 16, 2}},
        Mismatch{"Bgra8InputSmaller", kApplIdPrMr, Layout::kBgra8, 9, 5, {0, 0, 16, 12}},
        Mismatch{
            "Argb8ExtentBeyondWorld", sim::kApplIdOther, Layout::kArgb8, 16, 12, {-4, -3, 40, 30}},
        Mismatch{"Argb16InputSmaller", sim::kApplIdOther, Layout::kArgb16, 3, 20, {2, 1, 16, 12}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
