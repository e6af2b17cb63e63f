// Every path of a rendered frame and every way it can fail, through the
// loaded library in the stand-in host. After every render the host must hold
// no suite the effect acquired, except where the basic suite itself vanished.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "sim/host.h"
#include "tests/effect/frames.h"
#include "tests/effect/loaded_effect.h"

namespace {

using sim::Layout;
using sim::Service;
using vemra::test::LoadedEffect;
using vemra::test::SameBytes;

constexpr std::int32_t kOther = sim::kApplIdOther;
constexpr std::int32_t kPrMr = kApplIdPrMr;
constexpr char kPixelFormatSuite[] = "PF Pixel Format Suite";

// Controls and the settings they convert to: Temperature 1 is 0.5, Magenta
// -1 the float nearest -1/3, Opacity 50 % a mix of 0.5.
const sim::ParamValues kShiftControls{1.0, -1.0, 50.0, false};
const TemperatureSettings kShiftSettings{0.5f, -0.333333343f, 0.5f, 0};
const sim::ParamValues kCopyControls{1.0, -1.0, 0.0, false};

std::vector<std::string> Acquired(const sim::Host& host) {
    std::vector<std::string> names;
    for (const auto& event : host.suite_events())
        if (event.kind == sim::SuiteEvent::Kind::kAcquire) names.push_back(event.name);
    return names;
}

struct Frames {
    sim::World input;
    sim::World output;
    sim::World before;
};

Frames MakeFrames(Layout layout, std::int32_t width = 13, std::int32_t height = 7) {
    sim::World input(layout, width, height);
    input.FillRandom(1);
    sim::World output(layout, width, height);
    output.FillRandom(2);
    sim::World before = vemra::test::CopyWorld(output);
    return {std::move(input), std::move(output), std::move(before)};
}

struct PathCase {
    const char* name;
    std::int32_t appl_id;
    std::int32_t quality;
    Layout layout;
    bool deep_flag;
    sim::ParamValues values;
    PF_Err result;
    std::vector<std::string> calls;  // host services, in order
    std::vector<std::string> acquired;
    enum class Output { kCopy, kRendered, kUntouched } output;
    Layout rendered_as;  // layout whose adapter the rendered output must match
};

void PrintTo(const PathCase& c, std::ostream* os) {
    *os << c.name;
}

class RenderPath : public ::testing::TestWithParam<PathCase> {};

TEST_P(RenderPath, UsesTheServiceTheTableNamesAndLeavesNothingAcquired) {
    const PathCase& c = GetParam();
    sim::Host host(LoadedEffect(), c.appl_id);
    host.SetQuality(c.quality);
    host.SetThreads(2);
    ASSERT_EQ(host.ParamsSetup(), PF_Err_NONE);
    host.ClearLog();

    Frames f = MakeFrames(c.layout);
    f.output.SetDeepFlag(c.deep_flag);
    EXPECT_EQ(host.Render(f.input, f.output, c.values), c.result);

    std::vector<std::string> services;
    for (const std::string& call : host.calls())
        if (call.rfind("ansi.", 0) != 0) services.push_back(call);
    EXPECT_EQ(services, c.calls);
    EXPECT_EQ(Acquired(host), c.acquired);
    EXPECT_TRUE(host.NothingAcquired());
    EXPECT_TRUE(host.violations().empty());

    switch (c.output) {
        case PathCase::Output::kCopy:
            EXPECT_TRUE(f.output.SamePixels(f.input));
            break;
        case PathCase::Output::kRendered: {
            const sim::World expected = vemra::test::ExpectedRender(
                f.input, f.before, kShiftSettings, vemra::test::AdapterFor(c.rendered_as),
                vemra::test::ExtentInsideBoth(f.input, f.output));
            EXPECT_TRUE(SameBytes(expected, f.output));
            break;
        }
        case PathCase::Output::kUntouched:
            EXPECT_TRUE(SameBytes(f.before, f.output));
            EXPECT_EQ(host.out_data().out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0);
            break;
    }
}

using Out = PathCase::Output;
const char* const kWorldTransform = "PF World Transform Suite";
const char* const kIterate8 = "PF Iterate8 Suite";
const char* const kIterate16 = "PF iterate16 Suite";

INSTANTIATE_TEST_SUITE_P(Paths, RenderPath,
                         ::testing::Values(PathCase{"PrMrCopiesThroughUtilsWhateverTheQuality",
                                                    kPrMr,
                                                    1,
                                                    Layout::kBgra8,
                                                    false,
                                                    kCopyControls,
                                                    0,
                                                    {"utils.copy"},
                                                    {},
                                                    Out::kCopy,
                                                    Layout::kBgra8},
                                           PathCase{"OtherHostCopiesHighQuality",
                                                    kOther,
                                                    1,
                                                    Layout::kArgb8,
                                                    false,
                                                    kCopyControls,
                                                    0,
                                                    {"copy_hq"},
                                                    {kWorldTransform},
                                                    Out::kCopy,
                                                    Layout::kArgb8},
                                           PathCase{"OtherHostCopiesDraft",
                                                    kOther,
                                                    0,
                                                    Layout::kArgb16,
                                                    true,
                                                    kCopyControls,
                                                    0,
                                                    {"copy"},
                                                    {kWorldTransform},
                                                    Out::kCopy,
                                                    Layout::kArgb16},
                                           PathCase{"PrMrFloatUsesItsOwnRowWalker",
                                                    kPrMr,
                                                    0,
                                                    Layout::kBgraFloat,
                                                    false,
                                                    kShiftControls,
                                                    0,
                                                    {"GetPixelFormat"},
                                                    {kPixelFormatSuite},
                                                    Out::kRendered,
                                                    Layout::kBgraFloat},
                                           PathCase{"PrMrEightBitIteratesBgra",
                                                    kPrMr,
                                                    0,
                                                    Layout::kBgra8,
                                                    false,
                                                    kShiftControls,
                                                    0,
                                                    {"GetPixelFormat", "iterate8"},
                                                    {kPixelFormatSuite, kIterate8},
                                                    Out::kRendered,
                                                    Layout::kBgra8},
                                           PathCase{"PrMrIgnoresTheDeepFlag",
                                                    kPrMr,
                                                    0,
                                                    Layout::kBgra8,
                                                    true,
                                                    kShiftControls,
                                                    0,
                                                    {"GetPixelFormat", "iterate8"},
                                                    {kPixelFormatSuite, kIterate8},
                                                    Out::kRendered,
                                                    Layout::kBgra8},
                                           PathCase{"PrMrRefusesAnyOtherFormat",
                                                    kPrMr,
                                                    0,
                                                    Layout::kArgb8,
                                                    false,
                                                    kShiftControls,
                                                    514,
                                                    {"GetPixelFormat"},
                                                    {kPixelFormatSuite},
                                                    Out::kUntouched,
                                                    Layout::kArgb8},
                                           PathCase{"OtherHostSixteenBit",
                                                    kOther,
                                                    0,
                                                    Layout::kArgb16,
                                                    true,
                                                    kShiftControls,
                                                    0,
                                                    {"iterate16"},
                                                    {kIterate16},
                                                    Out::kRendered,
                                                    Layout::kArgb16},
                                           PathCase{"OtherHostEightBit",
                                                    kOther,
                                                    0,
                                                    Layout::kArgb8,
                                                    false,
                                                    kShiftControls,
                                                    0,
                                                    {"iterate8"},
                                                    {kIterate8},
                                                    Out::kRendered,
                                                    Layout::kArgb8}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// --- Failures ------------------------------------------------------------------

struct FailureCase {
    const char* name;
    std::int32_t appl_id;
    Layout layout;
    sim::ParamValues values;
    void (*arrange)(sim::Host&);
    PF_Err result;
    const char* message;  // nullptr: no message, flags untouched
    bool rendered;        // the output was rendered before the failure
    std::vector<std::string> left_acquired;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class RenderFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(RenderFailure, ReturnsTheCodeAndReleasesEverySuite) {
    const FailureCase& c = GetParam();
    sim::Host host(LoadedEffect(), c.appl_id);
    ASSERT_EQ(host.ParamsSetup(), PF_Err_NONE);
    host.ClearLog();
    c.arrange(host);
    host.out_data().out_flags = 0;

    Frames f = MakeFrames(c.layout);
    EXPECT_EQ(host.Render(f.input, f.output, c.values), c.result);
    EXPECT_EQ(host.StillAcquired(), c.left_acquired);
    if (c.message != nullptr) {
        EXPECT_EQ(host.out_data().out_flags, PF_OutFlag_DISPLAY_ERROR_MESSAGE);
        EXPECT_STREQ(host.out_data().return_msg, c.message);
    } else {
        EXPECT_EQ(host.out_data().out_flags, 0);
    }
    if (c.rendered) {
        const sim::World expected = vemra::test::ExpectedRender(
            f.input, f.before, kShiftSettings, vemra::test::AdapterFor(c.layout),
            vemra::test::ExtentInsideBoth(f.input, f.output));
        EXPECT_TRUE(SameBytes(expected, f.output));
    } else {
        EXPECT_TRUE(SameBytes(f.before, f.output));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, RenderFailure,
    ::testing::Values(FailureCase{"NoBasicSuite",
                                  kOther,
                                  Layout::kArgb8,
                                  kShiftControls,
                                  [](sim::Host& h) { h.WithholdBasicSuite(); },
                                  516,
                                  nullptr,
                                  false,
                                  {}},
                      FailureCase{"NoBasicSuiteInPrMr",
                                  kPrMr,
                                  Layout::kBgra8,
                                  kShiftControls,
                                  [](sim::Host& h) { h.WithholdBasicSuite(); },
                                  516,
                                  nullptr,
                                  false,
                                  {}},
                      FailureCase{"NoWorldTransformSuite",
                                  kOther,
                                  Layout::kArgb8,
                                  kCopyControls,
                                  [](sim::Host& h) { h.WithholdSuite(kWorldTransform); },
                                  516,
                                  nullptr,
                                  false,
                                  {}},
                      FailureCase{"NoIterate8Suite",
                                  kOther,
                                  Layout::kArgb8,
                                  kShiftControls,
                                  [](sim::Host& h) { h.WithholdSuite(kIterate8); },
                                  516,
                                  nullptr,
                                  false,
                                  {}},
                      FailureCase{"NoIterate16Suite",
                                  kOther,
                                  Layout::kArgb16,
                                  kShiftControls,
                                  [](sim::Host& h) { h.WithholdSuite(kIterate16); },
                                  516,
                                  nullptr,
                                  false,
                                  {}},
                      // The table raises while the Pixel Format suite is held: it is released too.
                      FailureCase{"NoIterate8SuiteInPrMr",
                                  kPrMr,
                                  Layout::kBgra8,
                                  kShiftControls,
                                  [](sim::Host& h) { h.WithholdSuite(kIterate8); },
                                  516,
                                  nullptr,
                                  false,
                                  {}},
                      FailureCase{"NoPixelFormatSuite",
                                  kPrMr,
                                  Layout::kBgra8,
                                  kShiftControls,
                                  [](sim::Host& h) { h.WithholdSuite(kPixelFormatSuite); },
                                  516,
                                  "Not able to acquire AEFX Suite.",
                                  false,
                                  {}},
                      // The basic suite vanishes during the pass: the frame is rendered, but
                      // the Pixel Format suite cannot be released.
                      FailureCase{"BasicSuiteGoneBeforeReleaseEightBit",
                                  kPrMr,
                                  Layout::kBgra8,
                                  kShiftControls,
                                  [](sim::Host& h) { h.DropBasicSuiteAfter(Service::kIterate8); },
                                  516,
                                  "Not able to release AEFX Suite.",
                                  true,
                                  {kPixelFormatSuite}},
                      FailureCase{
                          "BasicSuiteGoneBeforeReleaseFloat",
                          kPrMr,
                          Layout::kBgraFloat,
                          kShiftControls,
                          [](sim::Host& h) { h.DropBasicSuiteAfter(Service::kGetPixelFormat); },
                          516,
                          "Not able to release AEFX Suite.",
                          true,
                          {kPixelFormatSuite}},
                      FailureCase{"UtilsCopyFails",
                                  kPrMr,
                                  Layout::kBgra8,
                                  kCopyControls,
                                  [](sim::Host& h) { h.FailService(Service::kUtilsCopy, 77); },
                                  77,
                                  nullptr,
                                  false,
                                  {}},
                      FailureCase{"CopyHqFails",
                                  kOther,
                                  Layout::kArgb8,
                                  kCopyControls,
                                  [](sim::Host& h) {
                                      h.SetQuality(1);
                                      h.FailService(Service::kCopyHq, 78);
                                  },
                                  78,
                                  nullptr,
                                  false,
                                  {}},
                      FailureCase{"CopyFails",
                                  kOther,
                                  Layout::kArgb8,
                                  kCopyControls,
                                  [](sim::Host& h) {
                                      h.SetQuality(0);
                                      h.FailService(Service::kCopy, 79);
                                  },
                                  79,
                                  nullptr,
                                  false,
                                  {}},
                      FailureCase{"Iterate8Fails",
                                  kOther,
                                  Layout::kArgb8,
                                  kShiftControls,
                                  [](sim::Host& h) { h.FailService(Service::kIterate8, 80); },
                                  80,
                                  nullptr,
                                  false,
                                  {}},
                      FailureCase{"Iterate16Fails",
                                  kOther,
                                  Layout::kArgb16,
                                  kShiftControls,
                                  [](sim::Host& h) { h.FailService(Service::kIterate16, 81); },
                                  81,
                                  nullptr,
                                  false,
                                  {}},
                      // A failed pass in "PrMr" is reported, not hidden behind a good release.
                      FailureCase{"Iterate8FailsInPrMr",
                                  kPrMr,
                                  Layout::kBgra8,
                                  kShiftControls,
                                  [](sim::Host& h) { h.FailService(Service::kIterate8, 82); },
                                  82,
                                  nullptr,
                                  false,
                                  {}},
                      // A host that cannot tell the format has told us no format.
                      FailureCase{"GetPixelFormatFails",
                                  kPrMr,
                                  Layout::kBgraFloat,
                                  kShiftControls,
                                  [](sim::Host& h) { h.SetPixelFormatAnswer(std::nullopt, 90); },
                                  90,
                                  nullptr,
                                  false,
                                  {}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// A host that answers 0 without writing a format gets the 8-bit BGRA path.
TEST(RenderPixelFormat, AnUnansweredFormatMeansEightBitBgra) {
    sim::Host host(LoadedEffect(), kPrMr);
    host.SetPixelFormatAnswer(std::nullopt, PF_Err_NONE);
    Frames f = MakeFrames(Layout::kArgb8);  // four bytes a pixel, read as BGRA
    ASSERT_EQ(host.Render(f.input, f.output, kShiftControls), PF_Err_NONE);
    const sim::World expected =
        vemra::test::ExpectedRender(f.input, f.before, kShiftSettings, ProcessPixelBgra8,
                                    vemra::test::ExtentInsideBoth(f.input, f.output));
    EXPECT_TRUE(SameBytes(expected, f.output));
    EXPECT_TRUE(host.NothingAcquired());
}

// Only an exact zero copies: 0.5 % processes every pixel.
TEST(RenderOpacity, HalfAPercentProcessesEveryPixel) {
    sim::Host host(LoadedEffect(), kOther);
    Frames f = MakeFrames(Layout::kArgb8);
    const sim::ParamValues values{2.0, 0.0, 0.5, false};
    const TemperatureSettings settings{1.0f, 0.0f, 0.005f, 0};
    ASSERT_EQ(host.Render(f.input, f.output, values), PF_Err_NONE);
    const sim::World expected =
        vemra::test::ExpectedRender(f.input, f.before, settings, ProcessPixelArgb8,
                                    {0, 0, f.output.width(), f.output.height()});
    EXPECT_TRUE(SameBytes(expected, f.output));
    EXPECT_FALSE(f.output.SamePixels(f.input));
}

}  // namespace
