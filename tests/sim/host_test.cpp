// The stand-in host's own checks, driven through the probe effect: every kind
// of violation it promises to record is recorded, so the many tests that
// assert none can fail; the copies honour their rectangles; and the controls'
// roles and 16.16 conversions that the host and the tool share.
#include "sim/host.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "sim/controls.h"
#include "tests/sim/probe.h"

namespace {

using sim::Layout;
using sim::World;

/// How a case reaches the host: a script inside a render, a script as the
/// parameter set-up, or the test calling a callback itself once the command
/// is over (as an effect that kept the pointer would).
enum class Drive { kRender, kParamsSetup, kAfterCommand };

struct ViolationCase {
    const char* what;
    Drive drive;
    Layout input, output;
    const char* script;
    std::string answer;    ///< the probe's answer to the verb; empty: not checked
    const char* recorded;  ///< part of the one violation the host must record
};

TEST(SimHostViolations, EachKindIsRecordedOnce) {
    const std::string bad = std::to_string(sim::kErrBadCallbackParam);
    const std::string not_acquired = std::to_string(sim::kErrSuiteNotAcquired);
    const Layout a8 = Layout::kArgb8, f32 = Layout::kBgraFloat;
    // clang-format off
    const ViolationCase cases[] = {
        {"release without acquire",  Drive::kRender, a8, a8, "release,PF ANSI Suite,1", not_acquired, "ReleaseSuite(\"PF ANSI Suite\", 1) of a suite not acquired"},
        {"callback after a command", Drive::kAfterCommand, a8, a8, "", "", "ansi.strcpy called outside a command"},
        {"sprintf past return_msg",  Drive::kRender, a8, a8, "sprintf,300", "", "ansi.sprintf: text of 300 characters truncated to 255"},
        {"strcpy past a name",       Drive::kRender, a8, a8, "strcpy,40", "31 1", "(40 characters) truncated to 31"},
        {"num_params miscounted",    Drive::kParamsSetup, a8, a8, "declare,num,3", "0", "declared 4 controls but set num_params to 3, not 5"},
        {"foreign effect_ref",       Drive::kRender, a8, a8, "add_param_foreign_ref", bad, "add_param: effect_ref is not the handle this host gave"},
        {"add_param not appending",  Drive::kRender, a8, a8, "add_param,0", bad, "add_param at index 0"},
        {"add_param of a layer",     Drive::kRender, a8, a8, "add_param,-1,0", bad, "add_param of unsupported type 0"},
        {"world not handed out",     Drive::kRender, a8, a8, "getformat,null", bad + " 3735928559", "GetPixelFormat of a world this command did not hand out"},
        {"copy across pixel sizes",  Drive::kRender, a8, f32, "utils.copy", bad, "utils.copy from argb8 to bgra-float: pixel sizes differ"},
        {"iterate8 of float pixels", Drive::kRender, f32, f32, "iterate8", bad + " 0 0", "iterate8 carries 4-byte pixels, not bgra-float to bgra-float"},
    };
    // clang-format on
    for (const ViolationCase& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Host host(simtest::ProbeEffect());
        World input(c.input, 4, 3);
        World output(c.output, 4, 3);
        std::vector<std::string> answers;
        switch (c.drive) {
            case Drive::kRender:
                answers = simtest::RenderScript(host, input, output, c.script);
                break;
            case Drive::kParamsSetup:
                simtest::SetScript(host, c.script);
                EXPECT_EQ(host.ParamsSetup(), PF_Err_NONE);
                answers = simtest::Answers(host);
                break;
            case Drive::kAfterCommand: {
                ASSERT_EQ(host.About(), PF_Err_NONE);
                char name[8];
                host.in_data().utils->ansi.strcpy(name, "late");
                break;
            }
        }
        if (!c.answer.empty()) {
            ASSERT_FALSE(answers.empty());
            EXPECT_EQ(answers[0], c.answer);
        }
        ASSERT_EQ(host.violations().size(), 1u);
        EXPECT_NE(host.violations()[0].find(c.recorded), std::string::npos) << host.violations()[0];
        EXPECT_TRUE(host.NothingAcquired());
    }
}

struct CopyCase {
    const char* verb;
    Layout layout;
    std::int32_t in_rowbytes, out_rowbytes;
    bool in_place;  ///< one world is both source and destination
    PF_Rect src, dst;
};

bool CopiedFrom(const CopyCase& c, std::int32_t x, std::int32_t y, std::int32_t* sx,
                std::int32_t* sy) {
    // Destination pixel (x, y) takes the source pixel at the same offset from
    // its rectangle's corner, when the offset lies within both rectangles and
    // the source pixel within its world (10 x 6, as the destination).
    const std::int32_t ox = x - c.dst.left, oy = y - c.dst.top;
    *sx = c.src.left + ox;
    *sy = c.src.top + oy;
    return ox >= 0 && oy >= 0 && ox < c.src.right - c.src.left && ox < c.dst.right - c.dst.left &&
           oy < c.src.bottom - c.src.top && oy < c.dst.bottom - c.dst.top && *sx >= 0 && *sy >= 0 &&
           *sx < 10 && *sy < 6;
}

TEST(SimHostCopies, RectanglesCopyTheirCommonSizeClippedToBothWorlds) {
    // clang-format off
    const CopyCase cases[] = {
        {"utils.copy", Layout::kArgb8,     0,   0,    false, {1, 1, 4, 3},   {5, 2, 8, 4}},    // inside both, same size
        {"copy",       Layout::kArgb16,    -96, 0,    false, {0, 0, 6, 5},   {2, 1, 5, 3}},    // the smaller sets the size
        {"copy_hq",    Layout::kBgraFloat, 0,   -176, false, {-2, -1, 5, 4}, {6, 3, 13, 8}},   // source before, destination past its world
        {"copy_hq",    Layout::kArgb8,     0,   44,   false, {3, 2, 9, 6},   {-2, -1, 4, 3}},  // destination before its world
        {"utils.copy", Layout::kBgra8,     48,  48,   true,  {0, 0, 5, 4},   {2, 1, 7, 5}},    // overlapping, in one world
    };
    // clang-format on
    for (const CopyCase& c : cases) {
        SCOPED_TRACE(std::string(c.verb) + " to (" + std::to_string(c.dst.left) + ", " +
                     std::to_string(c.dst.top) + ")");
        sim::Host host(simtest::ProbeEffect());
        World separate(c.layout, 10, 6, c.in_rowbytes);
        World output(c.layout, 10, 6, c.out_rowbytes);
        World& input = c.in_place ? output : separate;
        output.FillRandom(7);
        simtest::FillCoordinates(input);  // every source pixel distinct, unlike any other byte

        World source_before(c.layout, 10, 6, c.in_rowbytes);
        World expected(c.layout, 10, 6, c.out_rowbytes);
        std::memcpy(source_before.buffer().data(), input.buffer().data(), input.buffer().size());
        std::memcpy(expected.buffer().data(), output.buffer().data(), output.buffer().size());
        const std::size_t bytes = sim::BytesPerPixel(c.layout);
        int copied = 0;
        for (std::int32_t y = 0; y < 6; ++y) {
            for (std::int32_t x = 0; x < 10; ++x) {
                std::int32_t sx = 0, sy = 0;
                if (!CopiedFrom(c, x, y, &sx, &sy)) continue;
                std::memcpy(expected.PixelAddress(x, y), source_before.PixelAddress(sx, sy), bytes);
                ++copied;
            }
        }
        ASSERT_GT(copied, 0);

        const std::string script = std::string(c.verb) + ",rects," + std::to_string(c.src.left) +
                                   "," + std::to_string(c.src.top) + "," +
                                   std::to_string(c.src.right) + "," +
                                   std::to_string(c.src.bottom) + "," + std::to_string(c.dst.left) +
                                   "," + std::to_string(c.dst.top) + "," +
                                   std::to_string(c.dst.right) + "," + std::to_string(c.dst.bottom);
        const std::vector<std::string> answers = simtest::RenderScript(host, input, output, script);
        ASSERT_FALSE(answers.empty());
        EXPECT_EQ(answers[0], "0");
        EXPECT_TRUE(simtest::SameBuffer(output, expected));  // every pixel, and the padding
        if (!c.in_place) {
            EXPECT_TRUE(simtest::SameBuffer(input, source_before));
        }
        EXPECT_TRUE(host.violations().empty());
        EXPECT_TRUE(host.NothingAcquired());
    }
}

TEST(SimControls, RolesGoByTypeThenDeclarationOrder) {
    constexpr PF_ParamType F = PF_Param_FLOAT_SLIDER, X = PF_Param_FIX_SLIDER,
                           C = PF_Param_CHECKBOX, L = PF_Param_LAYER;
    constexpr std::optional<std::size_t> none;
    struct Case {
        const char* what;
        std::vector<PF_ParamType> types;
        std::optional<std::size_t> temperature, magenta, opacity, clamp;
    };
    // clang-format off
    const Case cases[] = {
        {"in order",               {F, F, X, C},          0,    1,    2,    3},
        {"shuffled",               {C, F, X, F},          1,    3,    2,    0},
        {"later ones play no part", {X, F, C, X, F, F, C}, 1,    4,    0,    2},
        {"some missing",           {L, F},                1,    none, none, none},
        {"nothing declared",       {},                    none, none, none, none},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<PF_ParamDef> declared;
        for (PF_ParamType type : c.types) {
            PF_ParamDef def{};
            def.param_type = type;
            declared.push_back(def);
        }
        const sim::ControlRoles roles = sim::FindControlRoles(declared);
        EXPECT_EQ(roles.temperature, c.temperature);
        EXPECT_EQ(roles.magenta, c.magenta);
        EXPECT_EQ(roles.opacity, c.opacity);
        EXPECT_EQ(roles.clamp, c.clamp);
        EXPECT_EQ(roles.complete(), c.temperature && c.magenta && c.opacity && c.clamp);
    }
}

TEST(SimControls, FixedPointRoundsToNearestWithHalvesAwayFromZero) {
    const double step = 1.0 / 65536;
    struct Case {
        double value;
        PF_Fixed fixed;
    };
    const Case cases[] = {
        {100.0, 100 << 16},
        {0.5 * step, 1},
        {-0.5 * step, -1},
        {0.49 * step, 0},
        {1.0 / 3, 21845},
        {2.0 / 3, 43691},
        {-32768.0, std::numeric_limits<PF_Fixed>::min()},
    };
    for (const Case& c : cases) EXPECT_EQ(sim::ToFixed(c.value), c.fixed) << c.value;
    EXPECT_EQ(sim::FromFixed(1), step);
    EXPECT_EQ(sim::FromFixed(-(75 << 16)), -75.0);
    EXPECT_EQ(sim::FromFixed(std::numeric_limits<PF_Fixed>::max()), 32768.0 - step);
}

}  // namespace
