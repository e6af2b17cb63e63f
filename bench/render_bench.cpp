// Whole renders through EntryPointFunc in the stand-in host: each host and
// layout at 1920x1080 and 3840x2160 with one thread and with every core, the
// copy path at opacity 0, the cost against frame size, a plain copy of the
// same frame as the memory-bound floor, and the host's per-pixel iteration
// against a plain loop calling the same adapter.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "color/adapters.h"
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

// The input frame: random bytes, except that float pixels get random values
// from -0.25 to 1.25, as footage has. Random bit patterns would make a float
// frame mostly huge, tiny, infinite or NaN values, whose products and
// conversions take the processor's slow paths and say nothing about footage.
void FillInput(sim::World& input) {
    input.FillRandom(1);
    if (input.layout() != sim::Layout::kBgraFloat) return;
    std::uint32_t state = 1;
    for (std::int32_t y = 0; y < input.height(); ++y) {
        auto* row = static_cast<float*>(input.PixelAddress(0, y));
        for (std::int32_t i = 0; i < 4 * input.width(); ++i) {
            state = state * 1664525u + 1013904223u;
            row[i] = static_cast<float>(state >> 8) / 16777216.0f * 1.5f - 0.25f;
        }
    }
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
    FillInput(input);
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

// The adapter a render uses on this processor, called once per pixel of an
// 8-bit ARGB frame on one thread: by a plain loop over the rows, and by the
// host's iterate8 suite in a whole render through the effect, the two taking
// turns to go first. host_overhead_pct is how much longer the render takes;
// the render's own work besides the iteration (parameters, suites) is a few
// microseconds a frame.
void IterationOverhead(benchmark::State& state, std::int32_t width, std::int32_t height) {
    sim::Host host(Effect(), sim::kApplIdOther);
    host.SetThreads(1);
    if (host.GlobalSetup() != 0 || host.ParamsSetup() != 0) {
        state.SkipWithError("set-up failed");
        return;
    }
    sim::World input(sim::Layout::kArgb8, width, height);
    input.FillRandom(1);
    sim::World output(sim::Layout::kArgb8, width, height);
    // What the render makes of kAllSteps, for the plain loop.
    TemperatureSettings settings{0.25f, 0.1f, 0.8f, 1};
    volatile PixelFunction call = FastestAdapterSet().argb8;

    const auto plain_loop = [&]() {
        const PixelFunction function = call;
        for (std::int32_t y = 0; y < height; ++y) {
            const auto* in = static_cast<const std::byte*>(input.PixelAddress(0, y));
            auto* out = static_cast<std::byte*>(output.PixelAddress(0, y));
            for (std::int32_t x = 0; x < width; ++x) {
                function(&settings, x, y, in + 4 * std::ptrdiff_t{x}, out + 4 * std::ptrdiff_t{x});
            }
        }
        benchmark::ClobberMemory();
    };
    const auto timed = [](auto&& work) {
        const auto start = std::chrono::steady_clock::now();
        work();
        return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
            .count();
    };

    double plain_ns = 0.0, host_ns = 0.0;
    bool plain_first = true;
    bool failed = false;
    const auto render = [&]() {
        failed = failed || host.Render(input, output, kAllSteps) != 0;
        benchmark::ClobberMemory();
    };
    for (auto _ : state) {
        if (plain_first) {
            plain_ns += timed(plain_loop);
            host_ns += timed(render);
        } else {
            host_ns += timed(render);
            plain_ns += timed(plain_loop);
        }
        plain_first = !plain_first;
    }
    if (failed) {
        state.SkipWithError("render failed");
        return;
    }
    const double pixels =
        static_cast<double>(width) * height * static_cast<double>(state.iterations());
    state.counters["plain_ns_per_pixel"] = plain_ns / pixels;
    state.counters["host_ns_per_pixel"] = host_ns / pixels;
    state.counters["host_overhead_pct"] = (host_ns / plain_ns - 1.0) * 100.0;
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
        Register("iteration_overhead/ae_argb8/" + size,
                 [=](benchmark::State& s) { IterationOverhead(s, w, h); });
    }
    for (const auto& [w, h] : {std::pair{256, 256}, std::pair{1024, 1024}, std::pair{1920, 1080},
                               std::pair{3840, 2160}, std::pair{7680, 4320}}) {
        Register("scaling/ae_argb8/" + std::to_string(w) + "x" + std::to_string(h),
                 [=](benchmark::State& s) {
                     RenderFrames(s, sim::kApplIdOther, sim::Layout::kArgb8, w, h, 1, kAllSteps);
                 });
    }
    benchmark::AddCustomContext("adapter_set_for_renders", FastestAdapterSet().name);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
