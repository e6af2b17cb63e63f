// Whole renders through EntryPointFunc in the stand-in host: each host and
// layout at 1920x1080 and 3840x2160 with one thread and with every core, the
// copy path at opacity 0, the cost against frame size, and a plain copy of
// the same frame as the memory-bound floor.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "sim/host.h"

namespace {

// Temperature 0.5, Magenta 0.3, Opacity 80 %, Clamp on: the settings
// (0.25, 0.1, 0.8, on) of the adapter benchmark's all-steps case.
const sim::ParamValues kAllSteps{0.5, 0.3, 80.0, true};
const sim::ParamValues kCopy{0.5, 0.3, 0.0, true};

const sim::EffectLibrary& Effect() {
    static const sim::EffectLibrary library = sim::EffectLibrary::Load(VEMRA_EFFECT_PATH);
    return library;
}

int Cores() {
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

void SetRates(benchmark::State& state, std::int64_t pixels, double elapsed_ns) {
    const auto frames = static_cast<double>(state.iterations());
    state.counters["ns_per_pixel"] = elapsed_ns / (static_cast<double>(pixels) * frames);
    state.counters["fps"] = frames / (elapsed_ns * 1e-9);
}

void RenderFrames(benchmark::State& state, std::int32_t appl_id, sim::Layout layout,
                  std::int32_t width, std::int32_t height, int threads, sim::ParamValues values) {
    sim::Host host(Effect(), appl_id);
    host.SetThreads(threads);
    if (host.GlobalSetup() != 0 || host.ParamsSetup() != 0) {
        state.SkipWithError("set-up failed");
        return;
    }
    sim::World input(layout, width, height);
    input.FillRandom(1);
    sim::World output(layout, width, height);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (host.Render(input, output, values) != 0) {
            state.SkipWithError("render failed");
            return;
        }
        benchmark::ClobberMemory();
    }
    const std::chrono::duration<double, std::nano> elapsed =
        std::chrono::steady_clock::now() - start;
    SetRates(state, std::int64_t{width} * height, elapsed.count());
}

void CopyFloor(benchmark::State& state, std::size_t bytes_per_pixel, std::int32_t width,
               std::int32_t height) {
    const std::size_t size = bytes_per_pixel * static_cast<std::size_t>(width) * height;
    std::vector<unsigned char> source(size, 1), destination(size);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        std::memcpy(destination.data(), source.data(), size);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    const std::chrono::duration<double, std::nano> elapsed =
        std::chrono::steady_clock::now() - start;
    SetRates(state, std::int64_t{width} * height, elapsed.count());
}

struct Target {
    const char* name;
    std::int32_t appl_id;
    sim::Layout layout;
};

const Target kTargets[] = {
    {"ae_argb8", sim::kApplIdOther, sim::Layout::kArgb8},
    {"ae_argb16", sim::kApplIdOther, sim::Layout::kArgb16},
    {"prmr_bgra8", kApplIdPrMr, sim::Layout::kBgra8},
    {"prmr_bgra_float", kApplIdPrMr, sim::Layout::kBgraFloat},
};

void Register(const std::string& name, auto function) {
    benchmark::RegisterBenchmark(name.c_str(), function)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

}  // namespace

int main(int argc, char** argv) {
    for (const auto& [w, h] : {std::pair{1920, 1080}, std::pair{3840, 2160}}) {
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        for (const Target& t : kTargets) {
            for (int threads : {1, Cores()}) {
                Register("render/" + std::string(t.name) + "/" + size +
                             "/threads:" + std::to_string(threads),
                         [=](benchmark::State& s) {
                             RenderFrames(s, t.appl_id, t.layout, w, h, threads, kAllSteps);
                         });
            }
        }
        Register("copy_path/ae_argb8/" + size, [=](benchmark::State& s) {
            RenderFrames(s, sim::kApplIdOther, sim::Layout::kArgb8, w, h, 1, kCopy);
        });
        Register("memcpy_floor/argb8/" + size, [=](benchmark::State& s) { CopyFloor(s, 4, w, h); });
    }
    for (const auto& [w, h] : {std::pair{256, 256}, std::pair{1024, 1024}, std::pair{1920, 1080},
                               std::pair{3840, 2160}, std::pair{7680, 4320}}) {
        Register("scaling/ae_argb8/" + std::to_string(w) + "x" + std::to_string(h),
                 [=](benchmark::State& s) {
                     RenderFrames(s, sim::kApplIdOther, sim::Layout::kArgb8, w, h, 1, kAllSteps);
                 });
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
