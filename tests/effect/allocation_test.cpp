// The effect allocates nothing on the heap while it renders: every path (the
// iteration suites, its own float row walker, the copies) works in the
// host's worlds and on the stack.
//
// This program replaces the global operator new and counts the calls whose
// caller lies inside a chosen library, found with dladdr from the return
// address. The stand-in host allocates freely (its logs, its threads); only
// the effect's own calls count. The probe effect of the stand-in host's tests,
// which does allocate, shows the counter sees a library's allocations.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "sim/host.h"
#include "tests/counting_new.h"
#include "tests/effect/frames.h"
#include "tests/effect/loaded_effect.h"

namespace {

/// Base address of the library being watched; null when nothing is watched.
std::atomic<const void*> g_watched_base{nullptr};
std::atomic<int> g_allocations{0};

void CountIfWatched(const void* caller) {
    const void* base = g_watched_base.load(std::memory_order_relaxed);
    if (base == nullptr) return;
    Dl_info info{};
    if (dladdr(caller, &info) != 0 && info.dli_fbase == base) {
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    }
}

}  // namespace

void* CountingAllocate(std::size_t size, const void* caller) noexcept {
    CountIfWatched(caller);
    return std::malloc(size == 0 ? 1 : size);
}

namespace {

const void* BaseOf(const sim::EffectLibrary& library) {
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(library.entry_point()), &info) == 0) return nullptr;
    return info.dli_fbase;
}

/// Counts the watched library's allocations while `work` runs.
template <typename Work>
int AllocationsDuring(const sim::EffectLibrary& library, Work&& work) {
    g_allocations = 0;
    g_watched_base = BaseOf(library);
    work();
    g_watched_base = nullptr;
    return g_allocations.load();
}

struct RenderCase {
    const char* name;
    std::int32_t appl_id;
    sim::Layout layout;
    double opacity;
    int threads;
};

void PrintTo(const RenderCase& c, std::ostream* os) {
    *os << c.name;
}

class RenderAllocations : public ::testing::TestWithParam<RenderCase> {};

TEST_P(RenderAllocations, NoneInTheEffect) {
    const RenderCase& c = GetParam();
    const sim::EffectLibrary& effect = vemra::test::LoadedEffect();
    sim::Host host(effect, c.appl_id);
    host.SetThreads(c.threads);
    ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
    ASSERT_EQ(host.ParamsSetup(), PF_Err_NONE);
    sim::World input(c.layout, 64, 48);
    input.FillRandom(7);
    sim::World output(c.layout, 64, 48);
    const sim::World before = vemra::test::CopyWorld(output);

    PF_Err result = PF_Err_NONE;
    const int allocations = AllocationsDuring(effect, [&] {
        result = host.Render(input, output, {0.5, 0.3, c.opacity, true});
    });
    ASSERT_EQ(result, PF_Err_NONE);
    EXPECT_EQ(allocations, 0);
    EXPECT_FALSE(vemra::test::SameBytes(before, output)) << "the render did no work";
}

INSTANTIATE_TEST_SUITE_P(
    EveryPath, RenderAllocations,
    ::testing::Values(
        RenderCase{"OtherHostEightBit", sim::kApplIdOther, sim::Layout::kArgb8, 80, 1},
        RenderCase{"OtherHostSixteenBitThreaded", sim::kApplIdOther, sim::Layout::kArgb16, 80, 2},
        RenderCase{"OtherHostCopy", sim::kApplIdOther, sim::Layout::kArgb8, 0, 1},
        RenderCase{"PrMrEightBitThreaded", kApplIdPrMr, sim::Layout::kBgra8, 80, 2},
        RenderCase{"PrMrFloatRowWalker", kApplIdPrMr, sim::Layout::kBgraFloat, 80, 1},
        RenderCase{"PrMrCopy", kApplIdPrMr, sim::Layout::kBgra8, 0, 1}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(AllocationCounter, SeesALibraryThatAllocates) {
    static const sim::EffectLibrary probe = sim::EffectLibrary::Load(SIM_PROBE_EFFECT);
    sim::Host host(probe);
    // The probe keeps its script and answers in std::strings.
    const int allocations = AllocationsDuring(probe, [&] {
        std::snprintf(host.out_data().return_msg, sizeof host.out_data().return_msg,
                      "basic;basic;basic;basic;basic;basic;basic;basic;basic;basic;basic");
        host.Send(100);
    });
    EXPECT_GT(allocations, 0);
}

}  // namespace
