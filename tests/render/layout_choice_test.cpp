#include "tools/vemra-render/session/layout_choice.h"

#include <gtest/gtest.h>

namespace render {
namespace {

using sim::Layout;

const HostCapabilities kAll{true, {PrPixelFormat_BGRA_4444_32f, PrPixelFormat_BGRA_4444_8u}};

TEST(ChooseLayout, ByFileTypeHostAndDepth) {
    struct Case {
        SampleType file;
        std::optional<HostKind> host;
        std::optional<Depth> depth;
        HostKind want_host;
        Layout want_layout;
    };
    const auto ae = HostKind::kAe;
    const auto prmr = HostKind::kPrmr;
    const auto u8 = SampleType::kUint8;
    const auto u16 = SampleType::kUint16;
    const auto f32 = SampleType::kFloat;
    const Case cases[] = {
        // No host: integers to ae, floats to prmr, nothing clipped.
        {u8, {}, {}, ae, Layout::kArgb8},
        {u16, {}, {}, ae, Layout::kArgb16},
        {f32, {}, {}, prmr, Layout::kBgraFloat},
        // A host given: its nearest layout.
        {u8, prmr, {}, prmr, Layout::kBgra8},
        {u16, prmr, {}, prmr, Layout::kBgraFloat},
        {f32, ae, {}, ae, Layout::kArgb16},
        // A depth given: the host that renders it, else the file's host.
        {u8, {}, Depth::kFloat, prmr, Layout::kBgraFloat},
        {u8, {}, Depth::k16, ae, Layout::kArgb16},
        {f32, {}, Depth::k8, prmr, Layout::kBgra8},
        {u16, {}, Depth::k8, ae, Layout::kArgb8},
        {f32, ae, Depth::k8, ae, Layout::kArgb8},
    };
    for (const Case& c : cases) {
        const LayoutChoice choice = ChooseLayout(c.file, c.host, c.depth, kAll);
        EXPECT_EQ(choice.host, c.want_host) << SampleTypeName(c.file);
        EXPECT_EQ(choice.layout, c.want_layout) << SampleTypeName(c.file);
    }
}

TEST(ChooseLayout, RefusalNamesWhatTheHostRenders) {
    struct Case {
        SampleType file;
        HostKind host;
        std::optional<Depth> depth;
        HostCapabilities caps;
        const char* message;
    };
    const Case cases[] = {
        {SampleType::kUint8, HostKind::kAe, Depth::kFloat, kAll,
         "the ae host cannot render --depth float; the effect renders --depth 8 (8-bit ARGB), "
         "--depth 16 (16-bit ARGB) in it"},
        {SampleType::kUint8, HostKind::kPrmr, Depth::k16, kAll,
         "--depth 8 (8-bit \"bgra\"), --depth float (32-bit float \"BGra\")"},
        // What the effect declared decides: no deep-colour flag, no 16 bits.
        {SampleType::kUint16,
         HostKind::kAe,
         {},
         HostCapabilities{false, {}},
         "cannot render --depth 16; the effect renders --depth 8 (8-bit ARGB) in it"},
        {SampleType::kUint8,
         HostKind::kPrmr,
         {},
         HostCapabilities{true, {PrPixelFormat_BGRA_4444_32f}},
         "cannot render --depth 8; the effect renders --depth float"},
        {SampleType::kFloat, HostKind::kPrmr, {}, HostCapabilities{true, {}}, "renders nothing"},
    };
    for (const Case& c : cases) {
        try {
            ChooseLayout(c.file, c.host, c.depth, c.caps);
            ADD_FAILURE() << "accepted: " << c.message;
        } catch (const LayoutError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
}

TEST(ChooseLayout, ParsesHostAndDepthNames) {
    EXPECT_EQ(ParseHost("AE"), HostKind::kAe);
    EXPECT_EQ(ParseHost("PrMr"), HostKind::kPrmr);
    EXPECT_FALSE(ParseHost("fxtc"));
    EXPECT_EQ(ParseDepth("32f"), Depth::kFloat);
    EXPECT_EQ(ParseDepth("16"), Depth::k16);
    EXPECT_FALSE(ParseDepth("32"));
    EXPECT_EQ(ApplIdOf(HostKind::kPrmr), kApplIdPrMr);
    EXPECT_NE(ApplIdOf(HostKind::kAe), kApplIdPrMr);
}

}  // namespace
}  // namespace render
