// Each pixel adapter of every adapter set this processor runs, over a
// 3840x2160 frame, called once per pixel through a function pointer as a
// host's iteration does, on one thread. Reports nanoseconds per pixel and
// frames per second, for neutral settings and with all four steps active.
// Benchmarks are named ADAPTER/SET/SETTINGS; the context lines name the sets
// measured ("adapter_sets_measured") and the one a render uses here
// ("adapter_set_for_renders").
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "color/adapters.h"

namespace {

constexpr std::int32_t kWidth = 3840;
constexpr std::int32_t kHeight = 2160;
constexpr std::size_t kPixels = std::size_t{kWidth} * kHeight;

constexpr TemperatureSettings kNeutral{0.0f, 0.0f, 1.0f, 0};
constexpr TemperatureSettings kAllSteps{0.25f, 0.1f, 0.8f, 1};

// A frame with every channel value spread over the whole range.
template <typename Pixel>
std::vector<Pixel> MakeFrame() {
    using C = Channels<Pixel>;
    using Type = typename C::Type;
    std::vector<Pixel> frame(kPixels);
    std::uint32_t state = 1;
    for (Pixel& p : frame) {
        const auto next = [&]() {
            state = state * 1664525u + 1013904223u;
            const float unit = static_cast<float>(state >> 8) / 16777216.0f;
            return static_cast<Type>(unit * C::kFullScale);
        };
        p.*C::alpha = next();
        p.*C::red = next();
        p.*C::green = next();
        p.*C::blue = next();
    }
    return frame;
}

template <typename Pixel>
void RunAdapter(benchmark::State& state, PixelFunction adapter, TemperatureSettings settings) {
    const std::vector<Pixel> source = MakeFrame<Pixel>();
    std::vector<Pixel> destination(kPixels);
    // The pointer goes through a volatile so that the call cannot be inlined.
    volatile PixelFunction call = adapter;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        const PixelFunction function = call;
        for (std::int32_t y = 0; y < kHeight; ++y) {
            const Pixel* in = source.data() + std::size_t(y) * kWidth;
            Pixel* out = destination.data() + std::size_t(y) * kWidth;
            for (std::int32_t x = 0; x < kWidth; ++x) function(&settings, x, y, in + x, out + x);
        }
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    const std::chrono::duration<double, std::nano> elapsed =
        std::chrono::steady_clock::now() - start;
    const auto frames = static_cast<double>(state.iterations());
    state.counters["ns_per_pixel"] = elapsed.count() / (static_cast<double>(kPixels) * frames);
    state.counters["fps"] = frames / (elapsed.count() * 1e-9);
}

template <typename Pixel>
void Register(const char* adapter_name, const AdapterSet& set, PixelFunction adapter) {
    for (const auto& [label, settings] :
         {std::pair{"neutral", kNeutral}, {"all_steps", kAllSteps}}) {
        benchmark::RegisterBenchmark(
            (std::string(adapter_name) + "/" + set.name + "/" + label).c_str(),
            [adapter, s = settings](benchmark::State& state) {
                RunAdapter<Pixel>(state, adapter, s);
            })
            ->Unit(benchmark::kMillisecond);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string measured;
    for (const AdapterSet& set : AdapterSets()) {
        if (!set.supported()) continue;  // never call code this processor cannot run
        Register<PixelArgb8>("ProcessPixelArgb8", set, set.argb8);
        Register<PixelArgb16>("ProcessPixelArgb16", set, set.argb16);
        Register<PixelBgra8>("ProcessPixelBgra8", set, set.bgra8);
        Register<PixelBgraFloat>("ProcessPixelBgraFloat", set, set.bgra_float);
        if (!measured.empty()) measured += ' ';
        measured += set.name;
    }
    benchmark::AddCustomContext("adapter_sets_measured", measured);
    benchmark::AddCustomContext("adapter_set_for_renders", FastestAdapterSet().name);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
