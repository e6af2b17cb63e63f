#include "tools/vemra-render/run/work_plan.h"

#include <gtest/gtest.h>

namespace render {
namespace {

TEST(WorkPlan, SharesTheThreadsBetweenFramesInFlightWithinTheMemory) {
    constexpr std::uint64_t kFrame = 100;
    struct Case {
        int threads;
        std::optional<int> in_flight;
        long frames;
        std::uint64_t budget;
        int expect_in_flight, expect_iteration;
    };
    // clang-format off
    for (const Case& c : {
             Case{8, std::nullopt, 1,   10000, 1, 8},  // one image: every thread iterates
             Case{8, std::nullopt, 100, 10000, 8, 1},  // a sequence: one frame per thread
             Case{8, std::nullopt, 3,   10000, 3, 2},  // fewer frames than threads
             Case{8, std::nullopt, -1,  10000, 8, 1},  // a pipe: count unknown
             Case{8, 2,            100, 10000, 2, 4},  // --in-flight
             Case{8, std::nullopt, 100, 350,   3, 2},  // the memory holds three frames
             Case{8, std::nullopt, 100, 50,    1, 8},  // not even one: still one
             Case{2, 64,           100, 1u<<30, 32, 1}, // capped by what the sweep holds
             Case{1, std::nullopt, 100, 10000, 1, 1},
         }) {
        // clang-format on
        const WorkPlan plan = PlanWork(c.threads, c.in_flight, c.frames, kFrame, c.budget, 32);
        EXPECT_EQ(plan.in_flight, c.expect_in_flight)
            << c.threads << " threads, " << c.frames << " frames, budget " << c.budget;
        EXPECT_EQ(plan.iteration_threads, c.expect_iteration) << c.threads << " threads";
    }
}

TEST(WorkPlan, ByteSizesTakeBinaryUnits) {
    EXPECT_EQ(ParseByteSize("4G"), 4ull << 30);
    EXPECT_EQ(ParseByteSize("512M"), 512ull << 20);
    EXPECT_EQ(ParseByteSize("64kB"), 64ull << 10);
    EXPECT_EQ(ParseByteSize("1000"), 1000u);
    for (const char* bad : {"", "0", "G", "4X", "-1G", "1.5G", "99999999999T"}) {
        EXPECT_EQ(ParseByteSize(bad), std::nullopt) << bad;
    }
}

}  // namespace
}  // namespace render
