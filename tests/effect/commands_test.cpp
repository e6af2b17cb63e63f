// Dispatch, about and global set-up, through the built library in the
// stand-in host.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "sim/host.h"
#include "tests/effect/loaded_effect.h"

namespace {

using vemra::test::LoadedEffect;

constexpr char kAcquireMessage[] = "Not able to acquire AEFX Suite.";
constexpr char kReleaseMessage[] = "Not able to release AEFX Suite.";

/// Description row of the string table as the about text must show it.
constexpr char kDescriptionStart[] = "Temperature plugin for After Effects. ";

TEST(Dispatch, CommandsWithoutAHandlerSucceedAndTouchNothing) {
    for (PF_Cmd cmd : {2, 3, 5, 6, 10, 12, 13, 30, -1, 1000}) {
        sim::Host host(LoadedEffect(), kApplIdPrMr);
        std::memset(&host.out_data(), 0xA5, sizeof(PF_OutData));
        PF_OutData before;
        std::memcpy(&before, &host.out_data(), sizeof before);

        EXPECT_EQ(host.Send(cmd), PF_Err_NONE) << "command " << cmd;
        EXPECT_EQ(0, std::memcmp(&before, &host.out_data(), sizeof before)) << "command " << cmd;
        EXPECT_TRUE(host.calls().empty()) << "command " << cmd;
        EXPECT_TRUE(host.suite_events().empty()) << "command " << cmd;
    }
}

TEST(About, WritesNameVersionCarriageReturnAndDescription) {
    sim::Host host(LoadedEffect());
    ASSERT_EQ(host.About(), PF_Err_NONE);

    const std::string text = host.out_data().return_msg;
    const std::string head = "Temperature v1.0\r";
    ASSERT_EQ(text.compare(0, head.size(), head), 0) << text;
    const std::string description = text.substr(head.size());
    EXPECT_EQ(description.compare(0, std::strlen(kDescriptionStart), kDescriptionStart), 0);
    EXPECT_EQ(description.find('\r'), std::string::npos) << "nothing after the description";
    EXPECT_LT(text.size(), 256u);
    EXPECT_EQ(host.out_data().out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0)
        << "the host shows the about text by itself";

    ASSERT_EQ(host.suite_events().size(), 2u);
    EXPECT_EQ(host.suite_events()[0].name, "PF ANSI Suite");
    EXPECT_EQ(host.suite_events()[0].kind, sim::SuiteEvent::Kind::kAcquire);
    EXPECT_EQ(host.suite_events()[1].kind, sim::SuiteEvent::Kind::kRelease);
    EXPECT_TRUE(host.NothingAcquired());
    EXPECT_TRUE(host.violations().empty());
}

TEST(About, FailsWith516WithoutTheAnsiSuiteOrTheBasicSuite) {
    for (bool withhold_basic : {false, true}) {
        sim::Host host(LoadedEffect());
        if (withhold_basic) {
            host.WithholdBasicSuite();
        } else {
            host.WithholdSuite("PF ANSI Suite");
        }
        EXPECT_EQ(host.About(), PF_Err_SUITE_UNAVAILABLE);
        EXPECT_STREQ(host.out_data().return_msg, "");
        EXPECT_TRUE(host.NothingAcquired());
    }
}

TEST(GlobalSetup, WritesVersionAndFlagsAndMakesNoSuiteCallOutsidePrMr) {
    sim::Host host(LoadedEffect(), sim::kApplIdOther);
    ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
    EXPECT_EQ(host.out_data().my_version, 0x00080001u);
    EXPECT_EQ(host.out_data().out_flags, 0x02000400);
    EXPECT_EQ(host.out_data().out_flags2, 0x00000040);
    EXPECT_TRUE(host.calls().empty());
    EXPECT_TRUE(host.suite_events().empty());
}

TEST(GlobalSetup, RegistersFloatThenEightBitBgraInPrMr) {
    sim::Host host(LoadedEffect(), kApplIdPrMr);
    ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
    EXPECT_EQ(host.out_data().my_version, 0x00080001u);
    EXPECT_EQ(host.out_data().out_flags, 0x02000400);
    EXPECT_EQ(host.out_data().out_flags2, 0x00000040);
    const std::vector<std::string> expected_calls = {
        "ClearSupportedPixelFormats", "AddSupportedPixelFormat", "AddSupportedPixelFormat"};
    EXPECT_EQ(host.calls(), expected_calls);
    const std::vector<PrPixelFormat> expected_formats = {0x61724742, 0x61726762};
    EXPECT_EQ(host.supported_pixel_formats(), expected_formats);
    EXPECT_TRUE(host.NothingAcquired());
}

struct SetupFailure {
    const char* what;
    bool withhold_pixel_format_suite;
    std::optional<sim::Service> drop_basic_suite_after;
    const char* message;
    std::size_t formats_registered;
};

void PrintTo(const SetupFailure& c, std::ostream* os) {
    *os << c.what;
}

class GlobalSetupFailure : public ::testing::TestWithParam<SetupFailure> {};

// A pixel-format suite that cannot be acquired or released shows only as the
// host message: global set-up itself succeeds.
TEST_P(GlobalSetupFailure, ShowsTheMessageAndStillSucceeds) {
    const SetupFailure& c = GetParam();
    sim::Host host(LoadedEffect(), kApplIdPrMr);
    if (c.withhold_pixel_format_suite) host.WithholdSuite("PF Pixel Format Suite");
    host.DropBasicSuiteAfter(c.drop_basic_suite_after);

    EXPECT_EQ(host.GlobalSetup(), PF_Err_NONE);
    EXPECT_EQ(host.out_data().my_version, 0x00080001u);
    EXPECT_EQ(host.out_data().out_flags, 0x02000400 | PF_OutFlag_DISPLAY_ERROR_MESSAGE);
    EXPECT_STREQ(host.out_data().return_msg, c.message);
    EXPECT_EQ(host.supported_pixel_formats().size(), c.formats_registered);
}

INSTANTIATE_TEST_SUITE_P(
    PrMr, GlobalSetupFailure,
    ::testing::Values(SetupFailure{"not supplied", true, std::nullopt, kAcquireMessage, 0},
                      SetupFailure{"basic suite gone before release", false,
                                   sim::Service::kAddSupportedPixelFormat, kReleaseMessage, 2}),
    [](const auto& param_info) { return std::to_string(param_info.index); });

}  // namespace
