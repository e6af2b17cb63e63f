// The plug-in loaded, driven and unloaded over and over in one process, and
// rendering on many threads at once, as a long session in a host would use
// it. Built natively too (dlopen), but written for the Windows loader: under
// Wine the .aex is loaded with LoadLibrary and must be gone from the process
// after every FreeLibrary.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "sim/effect_library.h"
#include "sim/host.h"
#include "tests/effect/frames.h"

namespace {

using sim::Layout;

/// True while the library at VEMRA_EFFECT_PATH is mapped into the process.
bool EffectMapped() {
#ifdef _WIN32
    return GetModuleHandleA("VemraTemperature.aex") != nullptr;
#else
    void* handle = dlopen(VEMRA_EFFECT_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) dlclose(handle);
    return handle != nullptr;
#endif
}

/// A frame to render and the settings its controls convert to (worked out
/// by hand: temperature halved, magenta a third, opacity a share of 1).
struct Job {
    const char* name;
    std::int32_t appl_id;
    Layout layout;
    std::int32_t width, height, padding;  // padding bytes a row; negative: bottom-up
    sim::ParamValues values;
    TemperatureSettings settings;
};

const Job kJobs[] = {
    {"ae 8-bit",
     sim::kApplIdOther,
     Layout::kArgb8,
     61,
     47,
     0,
     {0.5, 0.3, 80.0, true},
     {0.25f, 0.1f, 0.8f, 1}},
    {"ae 16-bit, padded",
     sim::kApplIdOther,
     Layout::kArgb16,
     33,
     20,
     24,
     {2.0, -1.0, 50.0, false},
     {1.0f, -0.333333343f, 0.5f, 0}},
    {"PrMr bgra, bottom-up",
     kApplIdPrMr,
     Layout::kBgra8,
     40,
     9,
     -12,
     {-5.0, 5.0, 100.0, true},
     {-2.5f, 1.66666663f, 1.0f, 1}},
    {"PrMr BGra float, padded bottom-up",
     kApplIdPrMr,
     Layout::kBgraFloat,
     17,
     31,
     -32,
     {1.0, 0.0, 100.0, false},
     {0.5f, 0.0f, 1.0f, 0}},
};

sim::World MakeWorld(const Job& job, std::uint32_t seed) {
    const auto row = static_cast<std::int32_t>(sim::BytesPerPixel(job.layout)) * job.width;
    const std::int32_t stride = job.padding < 0 ? -(row - job.padding) : row + job.padding;
    sim::World world(job.layout, job.width, job.height, stride);
    world.FillRandom(seed);
    return world;
}

/// Renders `job` from inputs seeded by `seed` and compares every byte of the
/// output with the adapter applied pixel by pixel; true when all is well.
bool RenderMatches(sim::Host& host, const Job& job, std::uint32_t seed) {
    sim::World input = MakeWorld(job, seed);
    sim::World output = MakeWorld(job, seed + 1);
    const sim::World before = vemra::test::CopyWorld(output);
    if (host.Render(input, output, job.values) != PF_Err_NONE) return false;
    const sim::World expected = vemra::test::ExpectedRender(input, before, job.settings,
                                                            vemra::test::AdapterFor(job.layout),
                                                            {0, 0, job.width, job.height});
    return vemra::test::SameBytes(expected, output) && host.NothingAcquired() &&
           host.violations().empty();
}

TEST(EffectStress, LoadsSendsAndUnloadsAThousandTimes) {
    constexpr int kLoads = 1000;
    int failed_commands = 0, wrong_renders = 0, not_mapped = 0, still_mapped = 0;
    for (int i = 0; i < kLoads; ++i) {
        {
            const sim::EffectLibrary library = sim::EffectLibrary::Load(VEMRA_EFFECT_PATH);
            if (!EffectMapped()) ++not_mapped;
            sim::Host host(library, i % 2 == 0 ? sim::kApplIdOther : kApplIdPrMr);
            if (host.GlobalSetup() != PF_Err_NONE) ++failed_commands;
            // Every tenth load also declares its controls and renders a frame.
            if (i % 10 == 0) {
                const Job& job = kJobs[std::size_t(i / 10) % std::size(kJobs)];
                host.SetApplId(job.appl_id);
                if (!RenderMatches(host, job, std::uint32_t(i))) ++wrong_renders;
            }
            if (!host.NothingAcquired()) ++failed_commands;
        }
        if (EffectMapped()) ++still_mapped;
    }
    EXPECT_EQ(failed_commands, 0);
    EXPECT_EQ(wrong_renders, 0);
    // Nothing pins the library: each unload takes it out of the process.
    EXPECT_EQ(not_mapped, 0);
    EXPECT_EQ(still_mapped, 0);
}

TEST(EffectStress, ManyHostsRenderAtOnceWhileOthersLoadAndUnload) {
    const sim::EffectLibrary library = sim::EffectLibrary::Load(VEMRA_EFFECT_PATH);
    constexpr int kRenderThreads = 8, kRounds = 6, kLoaderThreads = 2, kLoads = 40;
    std::vector<int> wrong(kRenderThreads, 0);
    std::atomic<int> failed_loads{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kRenderThreads; ++t) {
        threads.emplace_back([&, t] {
            const Job& job = kJobs[std::size_t(t) % std::size(kJobs)];
            sim::Host host(library, job.appl_id);
            host.SetThreads(1 + t % 3);
            for (int round = 0; round < kRounds; ++round) {
                if (!RenderMatches(host, job, std::uint32_t(1000 * t + round))) ++wrong[t];
            }
        });
    }
    // Meanwhile other threads take and drop handles of their own on the same
    // library, and send it commands through them.
    for (int t = 0; t < kLoaderThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kLoads; ++i) {
                const sim::EffectLibrary own = sim::EffectLibrary::Load(VEMRA_EFFECT_PATH);
                sim::Host host(own, kApplIdPrMr);
                if (host.GlobalSetup() != PF_Err_NONE || host.ParamsSetup() != PF_Err_NONE ||
                    !host.NothingAcquired()) {
                    ++failed_loads;
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kRenderThreads; ++t) {
        EXPECT_EQ(wrong[t], 0) << "render thread " << t << ": "
                               << kJobs[std::size_t(t) % std::size(kJobs)].name;
    }
    EXPECT_EQ(failed_loads.load(), 0);
}

}  // namespace
