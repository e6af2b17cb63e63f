// Several renders of different frames at once, each in a host of its own, as
// a host that renders several frames in parallel would run them; each pass
// also iterates on several threads. The effect keeps no state, so every frame
// must come out as if rendered alone (and ThreadSanitizer must stay quiet).
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "sim/host.h"
#include "tests/effect/frames.h"
#include "tests/effect/loaded_effect.h"

namespace {

using sim::Layout;

struct Job {
    std::int32_t appl_id;
    Layout layout;
    sim::ParamValues values;
    TemperatureSettings settings;  // what the values convert to
};

TEST(ConcurrentRenders, EveryFrameComesOutAsIfRenderedAlone) {
    const Job jobs[] = {
        {sim::kApplIdOther, Layout::kArgb8, {0.5, 0.3, 80.0, true}, {0.25f, 0.1f, 0.8f, 1}},
        {sim::kApplIdOther,
         Layout::kArgb16,
         {2.0, -1.0, 50.0, false},
         {1.0f, -0.333333343f, 0.5f, 0}},
        {kApplIdPrMr, Layout::kBgra8, {-5.0, 5.0, 100.0, true}, {-2.5f, 1.66666663f, 1.0f, 1}},
        {kApplIdPrMr, Layout::kBgraFloat, {1.0, 0.0, 100.0, false}, {0.5f, 0.0f, 1.0f, 0}},
    };
    constexpr int kRounds = 3;
    const sim::EffectLibrary& effect = vemra::test::LoadedEffect();

    std::vector<std::thread> threads;
    std::vector<int> failures(std::size(jobs), 0);
    for (std::size_t j = 0; j < std::size(jobs); ++j) {
        threads.emplace_back([&, j] {
            const Job& job = jobs[j];
            sim::Host host(effect, job.appl_id);
            host.SetThreads(2);
            for (int round = 0; round < kRounds; ++round) {
                sim::World input(job.layout, 61, 47);
                input.FillRandom(static_cast<std::uint32_t>(100 * j + round));
                sim::World output(job.layout, 61, 47);
                output.FillRandom(7);
                const sim::World before = vemra::test::CopyWorld(output);
                const bool rendered = host.Render(input, output, job.values) == PF_Err_NONE;
                const sim::World expected = vemra::test::ExpectedRender(
                    input, before, job.settings, vemra::test::AdapterFor(job.layout),
                    {0, 0, 61, 47});
                if (!rendered || !vemra::test::SameBytes(expected, output) ||
                    !host.NothingAcquired()) {
                    ++failures[j];
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (std::size_t j = 0; j < std::size(jobs); ++j) EXPECT_EQ(failures[j], 0) << "job " << j;
}

}  // namespace
