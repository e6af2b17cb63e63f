// Fuzzes the pixel adapters of every adapter set this processor runs against
// the kernel, with arbitrary settings and pixel bits. The float adapter must equal the kernel on
// the reordered pixel: bit for bit where the value is not NaN, NaN where it is, alpha always bit
// for bit. Each integer adapter must equal the plain reference (convert,
// kernel, convert back) and keep alpha (16-bit alpha above 32768 comes out as
// 32768). Every adapter returns 0 and gives the same result in place, with
// source and destination the same pixel.
#include <cmath>
#include <cstring>

#include "color/adapters.h"
#include "color/kernel.h"
#include "tests/color/reference_adapter.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

using vemra::fuzz::FuzzInput;
using vemra::fuzz::Require;

bool SameOrBothNaN(float a, float b) {
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

template <typename Pixel>
bool SameBytes(const Pixel& a, const Pixel& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

/// Runs `adapter` on `in` into a fresh pixel and in place; both must agree.
template <typename Pixel>
Pixel Run(PixelFunction adapter, TemperatureSettings settings, const Pixel& in) {
    Pixel out{};
    Require(adapter(&settings, 0, 0, &in, &out) == 0, "an adapter returns 0");
    Pixel in_place = in;
    Require(adapter(&settings, 0, 0, &in_place, &in_place) == 0, "an adapter returns 0");
    Require(SameBytes(out, in_place), "an adapter gives the same result in place");
    return out;
}

void CheckFloat(PixelFunction adapter, TemperatureSettings settings, const PixelBgraFloat& in) {
    const PixelBgraFloat out = Run(adapter, settings, in);
    PixelArgbFloat expected{};
    ApplyTemperature(settings, {in.alpha, in.red, in.green, in.blue}, expected);
    Require(std::memcmp(&in.alpha, &out.alpha, sizeof(float)) == 0,
            "the float adapter copies alpha bit for bit");
    Require(SameOrBothNaN(expected.red, out.red) && SameOrBothNaN(expected.green, out.green) &&
                SameOrBothNaN(expected.blue, out.blue),
            "the float adapter equals the kernel on the reordered pixel");
}

template <typename Pixel>
void CheckInteger(PixelFunction adapter, TemperatureSettings settings, const Pixel& in,
                  unsigned full_scale) {
    Pixel expected{};
    vemra::test::ProcessIntegerPixel(settings, in, expected);
    const Pixel out = Run(adapter, settings, in);
    Require(SameBytes(expected, out), "an integer adapter equals the reference");
    const unsigned alpha = in.alpha < full_scale ? in.alpha : full_scale;
    Require(out.alpha == alpha, "an integer adapter keeps alpha, saturated at full scale");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput reader(data, size);
    TemperatureSettings settings{};
    settings.temperature = reader.Next<float>();
    settings.magenta = reader.Next<float>();
    settings.mix = reader.Next<float>();
    settings.clamp = reader.Next<std::uint8_t>();

    const auto in = reader.Next<PixelBgraFloat>();

    const auto argb8 = reader.Next<PixelArgb8>();
    const auto bgra8 = reader.Next<PixelBgra8>();
    const auto argb16 = reader.Next<PixelArgb16>();
    for (const AdapterSet& set : AdapterSets()) {
        if (!set.supported()) continue;
        CheckFloat(set.bgra_float, settings, in);
        CheckInteger(set.argb8, settings, argb8, 255);
        CheckInteger(set.bgra8, settings, bgra8, 255);
        CheckInteger(set.argb16, settings, argb16, 32768);
    }
    return 0;
}
