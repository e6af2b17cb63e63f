// The stand-in host's iteration on several threads, driven through the probe
// effect: every pixel of the area visited exactly once whatever the number of
// threads, and a failing pass reporting the code of its first failing row as
// a single thread would. Several hosts iterate at once, each on its own
// threads, so ThreadSanitizer sees the bands, the result slots and the
// host's logs from every side.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "sim/host.h"
#include "tests/sim/probe.h"

namespace {

using sim::Layout;

struct Pass {
    const char* verb;
    Layout layout;
    std::string options;  // appended to the verb
    std::int32_t width, height;
    PF_Rect area;        // the pixels the pass covers
    std::string answer;  // "code calls mismatches"; empty for a failing pass
};

// A 40 x 33 world. The answers of the passing ones are fixed (every pixel of
// the area once, each seeing its own source); the failing ones fail at one
// pixel, or at column 5 of every row with the code 1000 + y.
const Pass kPasses[] = {
    {"iterate8", Layout::kArgb8, "", 40, 33, {0, 0, 40, 33}, "0 1320 0"},
    {"iterate16", Layout::kArgb16, ",area,3,2,37,31", 40, 33, {3, 2, 37, 31}, "0 986 0"},
    {"iterate8", Layout::kBgra8, ",fail,17,20,4242", 40, 33, {0, 0, 40, 33}, ""},
    {"iterate16", Layout::kArgb16, ",failcol,5,1000", 40, 33, {0, 0, 40, 33}, ""},
};

/// The first word of the probe's answer: the iteration's result code.
std::string Code(const std::string& answer) {
    return answer.substr(0, answer.find(' '));
}

std::string RunPass(const Pass& pass, int threads) {
    sim::Host host(simtest::ProbeEffect());
    host.SetThreads(threads);
    sim::World input(pass.layout, pass.width, pass.height);
    simtest::FillCoordinates(input);
    sim::World output(pass.layout, pass.width, pass.height);
    const std::vector<std::string> answers =
        simtest::RenderScript(host, input, output, std::string(pass.verb) + pass.options);
    EXPECT_TRUE(host.violations().empty());
    EXPECT_TRUE(host.NothingAcquired());
    if (!pass.answer.empty()) {
        // Each pixel of the area carries its own mark: with the call count,
        // every pixel was visited exactly once.
        sim::World expected(pass.layout, pass.width, pass.height);
        for (std::int32_t y = pass.area.top; y < pass.area.bottom; ++y)
            for (std::int32_t x = pass.area.left; x < pass.area.right; ++x)
                simtest::PutMark(expected, x, y);
        EXPECT_TRUE(simtest::SameBuffer(output, expected));
    }
    return answers.empty() ? std::string() : answers[0];
}

TEST(IterationThreads, AnyThreadCountGivesTheSingleThreadResult) {
    for (const Pass& pass : kPasses) {
        SCOPED_TRACE(std::string(pass.verb) + pass.options);
        const std::string alone = RunPass(pass, 1);
        if (!pass.answer.empty()) {
            EXPECT_EQ(alone, pass.answer);
        }
        for (int threads : {2, 3, 8, 64}) {
            const std::string answer = RunPass(pass, threads);
            if (pass.answer.empty()) {
                // Bands past the failing row may stop early, so only the code
                // is fixed; no pixel ever sees another pixel's source.
                EXPECT_EQ(Code(answer), Code(alone)) << threads << " threads";
                EXPECT_EQ(answer.substr(answer.rfind(' ')), " 0") << threads << " threads";
            } else {
                EXPECT_EQ(answer, alone) << threads << " threads";
            }
        }
    }
    EXPECT_EQ(Code(RunPass(kPasses[2], 1)), "4242");
    EXPECT_EQ(Code(RunPass(kPasses[3], 1)), "1000");
}

TEST(IterationThreads, HostsIteratingAtOnceKeepToTheirOwnWorlds) {
    constexpr int kRounds = 4;
    std::vector<std::thread> threads;
    std::vector<int> wrong(std::size(kPasses), 0);
    for (std::size_t p = 0; p < std::size(kPasses); ++p) {
        threads.emplace_back([p, &wrong] {
            for (int round = 0; round < kRounds; ++round) {
                const std::string answer = RunPass(kPasses[p], 3);
                const bool ok = kPasses[p].answer.empty()
                                    ? Code(answer) == (p == 2 ? "4242" : "1000")
                                    : answer == kPasses[p].answer;
                if (!ok) ++wrong[p];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (std::size_t p = 0; p < std::size(kPasses); ++p) EXPECT_EQ(wrong[p], 0) << "pass " << p;
}

}  // namespace
