// The built frei0r plug-in, loaded with dlopen as a host loads it: its
// parameters' defaults and their handling of out-of-range values, frames of
// odd sizes against the "bgra" adapter, in == out, and updates of one
// instance from several threads at once while a host sets its values, as
// MLT does with slices. Run under AddressSanitizer (debug) and
// ThreadSanitizer (tsan).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "color/adapters.h"
#include "color/control_values.h"

extern "C" {
#include <frei0r.h>
}

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

/// The plug-in's functions, resolved by name.
struct Plugin {
    void* library = nullptr;
    int (*init)() = nullptr;
    void (*deinit)() = nullptr;
    f0r_instance_t (*construct)(unsigned, unsigned) = nullptr;
    void (*destruct)(f0r_instance_t) = nullptr;
    void (*set)(f0r_instance_t, f0r_param_t, int) = nullptr;
    void (*get)(f0r_instance_t, f0r_param_t, int) = nullptr;
    void (*update)(f0r_instance_t, double, const uint32_t*, uint32_t*) = nullptr;

    template <typename Function>
    void Resolve(Function& function, const char* name) {
        function = reinterpret_cast<Function>(dlsym(library, name));
        ASSERT_NE(function, nullptr) << name;
    }
};

class Frei0rPlugin : public ::testing::Test {
  protected:
    void SetUp() override {
        p_.library = dlopen(VEMRA_FREI0R_PLUGIN, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(p_.library, nullptr) << dlerror();
        p_.Resolve(p_.init, "f0r_init");
        p_.Resolve(p_.deinit, "f0r_deinit");
        p_.Resolve(p_.construct, "f0r_construct");
        p_.Resolve(p_.destruct, "f0r_destruct");
        p_.Resolve(p_.set, "f0r_set_param_value");
        p_.Resolve(p_.get, "f0r_get_param_value");
        p_.Resolve(p_.update, "f0r_update");
        ASSERT_EQ(p_.init(), 1);
    }
    void TearDown() override {
        if (p_.deinit != nullptr) p_.deinit();
        if (p_.library != nullptr) dlclose(p_.library);
    }

    void Set(f0r_instance_t instance, int index, double value) { p_.set(instance, &value, index); }
    double Get(f0r_instance_t instance, int index) {
        double value = -1.0;
        p_.get(instance, &value, index);
        return value;
    }

    Plugin p_;
};

/// What the plug-in must give for frei0r values x: the mapping written out
/// here (valid ranges -5..5 and 0..100 percent), through the shared
/// conversion and the adapter, pixel by pixel.
std::vector<std::uint32_t> Expected(const std::vector<std::uint32_t>& in, double temperature,
                                    double magenta, double opacity, bool clamp) {
    const vemra::ControlValues values{
        .temperature = -5.0 + temperature * 10.0,
        .magenta = -5.0 + magenta * 10.0,
        .opacity = static_cast<std::int32_t>(std::llround(opacity * 100.0 * 65536.0)),
        .clamp = clamp ? 1 : 0,
    };
    TemperatureSettings settings = vemra::SettingsFromControls(values);
    std::vector<std::uint32_t> out(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) ProcessPixelBgra8(&settings, 0, 0, &in[i], &out[i]);
    return out;
}

std::vector<std::uint32_t> Noise(std::size_t pixels, std::uint32_t seed) {
    std::vector<std::uint32_t> frame(pixels);
    for (std::uint32_t& pixel : frame) {
        seed = seed * 1664525u + 1013904223u;
        pixel = seed;
    }
    return frame;
}

TEST_F(Frei0rPlugin, ValuesAreClampedToZeroOneAndNaNGivesTheDefault) {
    f0r_instance_t instance = p_.construct(8, 8);
    ASSERT_NE(instance, nullptr);
    const double defaults[4] = {0.5, 0.5, 1.0, 0.0};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Get(instance, i), defaults[i]) << "parameter " << i;

    struct Case {
        int index;
        double given, kept;
    };
    for (const Case& c : {Case{0, 0.37, 0.37}, Case{0, 1.5, 1.0}, Case{0, -2.0, 0.0},
                          Case{1, kNaN, 0.5}, Case{2, kNaN, 1.0}, Case{2, 0.0, 0.0},
                          Case{3, 7.0, 1.0}, Case{3, kNaN, 0.0}, Case{3, 0.5, 0.5}}) {
        Set(instance, c.index, c.given);
        EXPECT_EQ(Get(instance, c.index), c.kept)
            << "parameter " << c.index << " set to " << c.given;
    }
    p_.destruct(instance);
}

// Odd sizes, separate frames and in place; the frames are exactly their
// size, so a write past the end shows under AddressSanitizer.
TEST_F(Frei0rPlugin, FramesOfAnySizeMatchTheAdapterSeparateAndInPlace) {
    struct Settings {
        double temperature, magenta, opacity, clamp;
    };
    const Settings all[] = {{0.37, 0.62, 0.81, 1.0},
                            {0.9, 0.1, 0.003, 0.0},
                            {1.5, -1.0, 0.5, 0.4},
                            {0.5, 0.5, 1.0, 0.0},
                            {0.2, 0.7, 0.0, 1.0}};
    const unsigned sizes[][2] = {{1, 1}, {3, 5}, {7, 1}, {17, 9}, {101, 37}, {640, 3}};
    for (const Settings& s : all) {
        for (const auto& size : sizes) {
            f0r_instance_t instance = p_.construct(size[0], size[1]);
            ASSERT_NE(instance, nullptr);
            Set(instance, 0, s.temperature);
            Set(instance, 1, s.magenta);
            Set(instance, 2, s.opacity);
            Set(instance, 3, s.clamp);
            const std::vector<std::uint32_t> in = Noise(std::size_t{size[0]} * size[1], size[0]);
            const std::vector<std::uint32_t> expected =
                Expected(in, std::min(s.temperature, 1.0), std::max(s.magenta, 0.0), s.opacity,
                         s.clamp >= 0.5);

            std::vector<std::uint32_t> out(in.size());
            p_.update(instance, 0.0, in.data(), out.data());
            EXPECT_EQ(out, expected) << size[0] << "x" << size[1] << " at " << s.temperature;

            std::vector<std::uint32_t> frame = in;
            p_.update(instance, 0.0, frame.data(), frame.data());
            EXPECT_EQ(frame, expected) << "in place, " << size[0] << "x" << size[1];
            p_.destruct(instance);
        }
    }
}

// Input and output that overlap without being the same buffer, the output
// starting before or after the input, at opacity 0 (a plain copy) and not:
// each gives what separate frames give. Under AddressSanitizer a copy of
// overlapping memory with memcpy is reported.
TEST_F(Frei0rPlugin, OverlappingFramesMatchSeparateOnes) {
    constexpr unsigned kWidth = 29, kHeight = 3;
    constexpr std::size_t kPixels = std::size_t{kWidth} * kHeight;
    struct Case {
        std::ptrdiff_t output_shift;  ///< where the output starts, from the input, in pixels
        double opacity;
    };
    for (const Case& c :
         {Case{-1, 0.0}, Case{1, 0.0}, Case{-40, 0.0}, Case{40, 0.0}, Case{-1, 0.81}, Case{1, 0.81},
          Case{-5, 0.81}, Case{5, 0.81}, Case{-40, 0.81}, Case{40, 0.81}}) {
        f0r_instance_t instance = p_.construct(kWidth, kHeight);
        ASSERT_NE(instance, nullptr);
        Set(instance, 0, 0.37);
        Set(instance, 1, 0.62);
        Set(instance, 2, c.opacity);
        const std::vector<std::uint32_t> in = Noise(kPixels, 11);
        const std::vector<std::uint32_t> expected = Expected(in, 0.37, 0.62, c.opacity, false);

        // One allocation holding both frames exactly, so that a read or
        // write past either shows under AddressSanitizer.
        const std::size_t shift =
            static_cast<std::size_t>(c.output_shift < 0 ? -c.output_shift : c.output_shift);
        std::vector<std::uint32_t> memory(kPixels + shift);
        std::uint32_t* input = memory.data() + (c.output_shift < 0 ? shift : 0);
        std::uint32_t* output = memory.data() + (c.output_shift < 0 ? 0 : shift);
        std::copy(in.begin(), in.end(), input);
        p_.update(instance, 0.0, input, output);
        EXPECT_EQ(std::vector<std::uint32_t>(output, output + kPixels), expected)
            << "output shifted by " << c.output_shift << " pixels at opacity " << c.opacity;
        p_.destruct(instance);
    }
}

// MLT's way with its threads property: one instance the size of a slice,
// and every slice of a frame updated at once from its own thread, while the
// host sets the instance's values (to the ones it already has) from another.
TEST_F(Frei0rPlugin, OneInstanceUpdatedFromSeveralThreadsAtOnce) {
    constexpr unsigned kWidth = 67, kSliceRows = 5, kSlices = 4;
    f0r_instance_t instance = p_.construct(kWidth, kSliceRows);
    ASSERT_NE(instance, nullptr);
    const double values[4] = {0.61, 0.33, 0.77, 1.0};
    for (int i = 0; i < 4; ++i) Set(instance, i, values[i]);

    const std::vector<std::uint32_t> in = Noise(std::size_t{kWidth} * kSliceRows * kSlices, 7);
    const std::vector<std::uint32_t> expected = Expected(in, 0.61, 0.33, 0.77, true);
    const std::size_t slice = std::size_t{kWidth} * kSliceRows;
    for (int round = 0; round < 20; ++round) {
        std::vector<std::uint32_t> out(in.size());
        std::vector<std::thread> threads;
        for (unsigned s = 0; s < kSlices; ++s) {
            threads.emplace_back([&, s] {
                for (int again = 0; again < 3; ++again)
                    p_.update(instance, 0.0, in.data() + s * slice, out.data() + s * slice);
            });
        }
        threads.emplace_back([&] {
            for (int i = 0; i < 4; ++i) Set(instance, i, values[i]);
        });
        for (std::thread& thread : threads) thread.join();
        ASSERT_EQ(out, expected) << "round " << round;
    }
    p_.destruct(instance);
}

}  // namespace
