// Fuzzes whole renders through EntryPointFunc in the stand-in host: the host
// ("PrMr" or not), the pixel format it reports, the deep flag, the quality,
// the iteration threads, world sizes and layouts (mismatched input and
// output, or one world as both), strides (padded by any number of bytes, negative, unequal), extent
// hints (inside, beyond, inverted, at the ends of the 32-bit range), raw
// parameter words (NaN, infinities, huge, negative opacity, any checkbox
// word) and withheld or failing services, optionally after global set-up.
//
// Invariants, for every host:
//  - no sanitizer report, and the input world is never written (unless it is
//    the output too);
//  - the result is 0, 514, 516 or the code a failing host service returned
//    (an acquire that fails but hands out its suite is never the result);
//  - every suite acquired is released, except that when the host drops the
//    basic suite mid-command the Pixel Format suite cannot be: then the
//    failure is reported (a nonzero render result, or global set-up's
//    error-message flag).
// And for a host whose description of its worlds is consistent (the layout
// the chosen path reads is the world's own), also:
//  - no violation of the host's rules, and no refusal by the host;
//  - nothing written outside the pixels of the region the path covers (row
//    padding included): the output's extent hint clipped to both worlds for
//    the host's iteration and copies, extent-height rows from the top and the
//    common width for the float row walker;
//  - inside it each pixel is left as it was or rendered: a copy carries the
//    input pixel, the adapters the input pixel's alpha (16-bit alpha above
//    32768 coming out as 32768); on success every pixel of it is rendered.
#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "host/suites.h"
#include "sim/host.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

using sim::Layout;
using vemra::fuzz::FuzzInput;
using vemra::fuzz::Require;

/// What a failing service or format query returns.
constexpr PF_Err kInjectedCode = 7001;
/// What an acquire that still hands out its suite returns; never a result.
constexpr PF_Err kFailButFillCode = 7002;

constexpr std::array<const char*, 5> kSuites = {
    PF_ANSICallbacksSuite1::kName, PF_PixelFormatSuite1::kName, PF_Iterate8Suite1::kName,
    PF_iterate16Suite1::kName, PF_WorldTransformSuite1::kName};

const sim::EffectLibrary& Effect() {
    static const sim::EffectLibrary library = sim::EffectLibrary::Load(VEMRA_EFFECT_PATH);
    return library;
}

template <typename T, std::size_t N>
T Pick(FuzzInput& in, const std::array<T, N>& choices) {
    return choices[std::size_t(in.Range(0, std::int32_t(N) - 1))];
}

/// A coordinate of an extent hint: near the worlds, or at an end of the range.
std::int32_t Coordinate(FuzzInput& in) {
    switch (in.Range(0, 7)) {
        case 0:
            return std::numeric_limits<std::int32_t>::min();
        case 1:
            return std::numeric_limits<std::int32_t>::max();
        default:
            return in.Range(-30, 30);
    }
}

/// A float slider's value: in its range, any bits at all, or one at an edge.
double Slider(FuzzInput& in) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    switch (in.Range(0, 3)) {
        case 0:
            return in.Next<double>();
        case 1:
            return in.OneOf({std::numeric_limits<double>::quiet_NaN(), kInf, -kInf, 1e300, -1e300,
                             0.0, -0.0, 4e-320, 3.5e38, -3.5e38});
        default:
            return in.Range(-5000, 5000) / 1000.0;
    }
}

/// Opacity in 16.16 fixed point: in range, negative, at the ends, any word.
PF_Fixed Opacity(FuzzInput& in) {
    switch (in.Range(0, 3)) {
        case 0:
            return in.Next<PF_Fixed>();
        case 1:
            return in.OneOf<PF_Fixed>({0, 1, -1, 100 << 16, -(100 << 16), 200 << 16,
                                       std::numeric_limits<PF_Fixed>::min(),
                                       std::numeric_limits<PF_Fixed>::max()});
        default:
            return in.Range(0, 100 << 16);
    }
}

sim::World MakeWorld(FuzzInput& in, Layout layout) {
    const std::int32_t width = in.Range(0, 20);
    const std::int32_t height = in.Range(0, 20);
    const auto row = static_cast<std::int32_t>(sim::BytesPerPixel(layout)) * width;
    const std::int32_t stride = row + in.Range(0, 40);
    sim::World world(layout, width, height, in.Flag() ? -stride : stride);
    world.FillRandom(in.Next<std::uint32_t>());
    return world;
}

sim::World Copy(const sim::World& world) {
    sim::World copy(world.layout(), world.width(), world.height(), world.rowbytes());
    std::copy(world.buffer().begin(), world.buffer().end(), copy.buffer().begin());
    return copy;
}

/// Alpha of pixel (x, y) as raw bits.
std::uint32_t AlphaBits(const sim::World& w, std::int32_t x, std::int32_t y) {
    switch (w.layout()) {
        case Layout::kArgb8:
            return w.Get<PF_Pixel8>(x, y).alpha;
        case Layout::kArgb16:
            return w.Get<PF_Pixel16>(x, y).alpha;
        case Layout::kBgra8:
            return w.Get<PF_Pixel_BGRA_8u>(x, y).alpha;
        case Layout::kBgraFloat: {
            const float a = w.Get<PF_Pixel_BGRA_32f>(x, y).alpha;
            std::uint32_t bits;
            std::memcpy(&bits, &a, sizeof bits);
            return bits;
        }
    }
    return 0;
}

bool SamePixel(const sim::World& a, std::int32_t ax, std::int32_t ay, const sim::World& b,
               std::int32_t bx, std::int32_t by) {
    return std::memcmp(a.PixelAddress(ax, ay), b.PixelAddress(bx, by),
                       sim::BytesPerPixel(a.layout())) == 0;
}

bool SameBuffer(const sim::World& a, const sim::World& b) {
    return std::equal(a.buffer().begin(), a.buffer().end(), b.buffer().begin(), b.buffer().end());
}

/// The way the effect renders, worked out from what the host tells it.
enum class Path { kNone, kCopy, kIterate, kWalker };

struct Region {
    std::int64_t left = 0, top = 0, right = 0, bottom = 0;
    bool Contains(std::int32_t x, std::int32_t y) const {
        return x >= left && x < right && y >= top && y < bottom;
    }
};

/// Byte offsets of every pixel's bytes in the world's buffer, as flags.
std::vector<bool> PixelBytes(const sim::World& world, const Region& region) {
    std::vector<bool> inside(world.buffer().size(), false);
    const std::size_t bpp = sim::BytesPerPixel(world.layout());
    for (std::int32_t y = 0; y < world.height(); ++y) {
        for (std::int32_t x = 0; x < world.width(); ++x) {
            if (!region.Contains(x, y)) continue;
            const auto offset = static_cast<std::size_t>(
                static_cast<const std::byte*>(world.PixelAddress(x, y)) - world.buffer().data());
            std::fill_n(inside.begin() + std::ptrdiff_t(offset), bpp, true);
        }
    }
    return inside;
}

/// Leftover acquires are only ever the Pixel Format suite.
bool OnlyPixelFormatSuiteLeft(const sim::Host& host) {
    const std::vector<std::string> left = host.StillAcquired();
    return std::all_of(left.begin(), left.end(),
                       [](const std::string& name) { return name == "PF Pixel Format Suite"; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const bool prmr = in.Flag();
    sim::Host host(Effect(), prmr ? kApplIdPrMr : sim::kApplIdOther);
    host.SetThreads(in.Range(1, 3));
    host.SetQuality(in.Range(-1, 2));

    // --- The worlds -----------------------------------------------------------
    const auto output_layout = static_cast<Layout>(in.Range(0, 3));
    // Now and then a host hands over an input of another layout.
    const auto input_layout =
        in.Range(0, 7) == 0 ? static_cast<Layout>(in.Range(0, 3)) : output_layout;
    sim::World separate_input = MakeWorld(in, input_layout);
    sim::World output = MakeWorld(in, output_layout);
    // Now and then the host renders in place: the output world is the input.
    const bool in_place = in.Range(0, 7) == 0;
    sim::World& input = in_place ? output : separate_input;
    output.SetDeepFlag(in.Flag());
    if (in.Flag()) {
        output.SetExtentHint({Coordinate(in), Coordinate(in), Coordinate(in), Coordinate(in)});
    }
    if (in.Flag()) {
        output.SetPixelFormat(in.OneOf<PrPixelFormat>(
            {PrPixelFormat_BGRA_4444_8u, PrPixelFormat_BGRA_4444_32f, in.Next<PrPixelFormat>()}));
    }

    sim::RawParamValues values;
    values.temperature = Slider(in);
    values.magenta = Slider(in);
    values.opacity = Opacity(in);
    values.clamp = in.Next<A_long>();

    // --- How the host misbehaves ---------------------------------------------
    const auto faults = in.Next<std::uint8_t>();
    const bool withhold_basic = (faults & 0x01) != 0;
    host.WithholdBasicSuite(withhold_basic);
    if ((faults & 0x02) != 0) host.WithholdSuite(Pick(in, kSuites));
    if ((faults & 0x04) != 0) host.FailAcquireButFill(Pick(in, kSuites), kFailButFillCode);
    if ((faults & 0x08) != 0) {
        static constexpr std::array<sim::Service, 7> kServices = {
            sim::Service::kUtilsCopy,
            sim::Service::kCopy,
            sim::Service::kCopyHq,
            sim::Service::kIterate8,
            sim::Service::kIterate16,
            sim::Service::kClearSupportedPixelFormats,
            sim::Service::kAddSupportedPixelFormat};
        host.FailService(Pick(in, kServices), kInjectedCode);
    }
    if ((faults & 0x10) != 0) {
        static constexpr std::array<sim::Service, 8> kCalls = {
            sim::Service::kAcquireSuite,   sim::Service::kReleaseSuite,
            sim::Service::kGetPixelFormat, sim::Service::kIterate8,
            sim::Service::kIterate16,      sim::Service::kUtilsCopy,
            sim::Service::kCopyHq,         sim::Service::kAddSupportedPixelFormat};
        host.DropBasicSuiteAfter(Pick(in, kCalls));
    }
    if ((faults & 0x20) != 0) host.FailAddParamOnCall(in.Range(1, 4), kInjectedCode);
    // The format query answers something else, fails, or answers 0 without
    // writing a format (the effect then takes 8-bit "bgra").
    std::optional<PrPixelFormat> answer;
    PF_Err answer_result = PF_Err_NONE;
    const bool answer_overridden = (faults & 0x40) != 0;
    if (answer_overridden) {
        if (in.Flag()) {
            answer =
                in.OneOf<PrPixelFormat>({PrPixelFormat_BGRA_4444_8u, PrPixelFormat_BGRA_4444_32f,
                                         in.Next<PrPixelFormat>()});
        }
        answer_result = in.Flag() ? kInjectedCode : PF_Err_NONE;
        host.SetPixelFormatAnswer(answer, answer_result);
    }

    // --- Global set-up first, as a host starts ---------------------------------
    if ((faults & 0x80) != 0) {
        host.out_data().out_flags = 0;
        Require(host.GlobalSetup() == PF_Err_NONE, "global set-up always succeeds");
        const bool dropped = !withhold_basic && host.in_data().pica_basicP == nullptr;
        Require(host.NothingAcquired() ||
                    (dropped && OnlyPixelFormatSuiteLeft(host) &&
                     (host.out_data().out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) != 0),
                "global set-up releases what it acquires, or says it could not");
    }
    const std::size_t left_before_render = host.StillAcquired().size();

    // --- The path the effect must take -----------------------------------------
    Path path = Path::kNone;
    Layout read_as = output_layout;  // the layout the path reads pixels in
    if (values.opacity == 0) {
        path = Path::kCopy;
    } else if (prmr) {
        std::optional<PrPixelFormat> format = output.pixel_format();
        if (answer_overridden) {
            format = std::nullopt;  // the query fails
            if (answer_result == PF_Err_NONE) format = answer.value_or(PrPixelFormat_BGRA_4444_8u);
        }
        if (format == PrPixelFormat_BGRA_4444_32f) {
            path = Path::kWalker;
            read_as = Layout::kBgraFloat;
        } else if (format == PrPixelFormat_BGRA_4444_8u) {
            path = Path::kIterate;
            read_as = Layout::kBgra8;
        }
    } else {
        path = Path::kIterate;
        read_as =
            (output.def().world_flags & PF_WorldFlag_DEEP) != 0 ? Layout::kArgb16 : Layout::kArgb8;
    }
    const bool consistent = input.layout() == output_layout && read_as == output_layout;

    const PF_Rect extent = output.def().extent_hint;
    const std::int64_t common_width = std::min(input.width(), output.width());
    const std::int64_t common_height = std::min(input.height(), output.height());
    Region region;
    switch (path) {
        case Path::kNone:
            break;
        case Path::kCopy:
            region = {0, 0, common_width, common_height};
            break;
        case Path::kIterate:
            region = {std::max<std::int64_t>(extent.left, 0), std::max<std::int64_t>(extent.top, 0),
                      std::min<std::int64_t>(extent.right, common_width),
                      std::min<std::int64_t>(extent.bottom, common_height)};
            break;
        case Path::kWalker:
            region = {
                0, 0, common_width,
                std::min<std::int64_t>(std::int64_t(extent.bottom) - extent.top, common_height)};
            break;
    }

    // --- The render ---------------------------------------------------------------
    const sim::World input_before = Copy(input);
    const sim::World before = Copy(output);
    host.ClearLog();
    const PF_Err result = host.RenderUnchecked(input, output, values);

    Require(in_place || SameBuffer(input, input_before), "the input world is never written");
    const bool host_refused = result == sim::kErrBadCallbackParam;
    Require(result == PF_Err_NONE || result == PF_Err_UNSUPPORTED_PIXEL_FORMAT ||
                result == PF_Err_SUITE_UNAVAILABLE || result == kInjectedCode ||
                (host_refused && !consistent),
            "the result is 0, 514, 516 or the failing service's code");
    Require(result != PF_Err_UNSUPPORTED_PIXEL_FORMAT || (prmr && path == Path::kNone),
            "514 only for a pixel format the effect does not render");

    const bool dropped = !withhold_basic && host.in_data().pica_basicP == nullptr;
    const bool left_more = host.StillAcquired().size() > left_before_render;
    Require(!left_more || (dropped && OnlyPixelFormatSuiteLeft(host) && result != PF_Err_NONE),
            "the render releases what it acquires, or fails when it cannot");

    if (!consistent) return 0;
    Require(host.violations().empty(), "no violation of the host's rules");

    const std::vector<bool> inside = PixelBytes(output, region);
    for (std::size_t i = 0; i < inside.size(); ++i) {
        Require(inside[i] || output.buffer()[i] == before.buffer()[i],
                "nothing written outside the region the path covers");
    }
    for (std::int32_t y = 0; y < output.height(); ++y) {
        for (std::int32_t x = 0; x < output.width(); ++x) {
            if (!region.Contains(x, y)) continue;
            bool rendered;
            if (path == Path::kCopy) {
                rendered = SamePixel(output, x, y, input_before, x, y);
            } else {
                std::uint32_t alpha = AlphaBits(input_before, x, y);
                if (output_layout == Layout::kArgb16) alpha = std::min<std::uint32_t>(alpha, 32768);
                rendered = AlphaBits(output, x, y) == alpha;
            }
            Require(rendered || (result != PF_Err_NONE && SamePixel(output, x, y, before, x, y)),
                    "each pixel of the region rendered on success, else rendered or untouched");
        }
    }
    return 0;
}
