// Host-owned worlds: layouts, strides in both directions, exact buffers, and
// the helpers tests compare worlds with.
#include "sim/world.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <utility>

#include "tests/sim/probe.h"

namespace {

using sim::Layout;
using sim::World;

struct LayoutCase {
    Layout layout;
    std::size_t bytes;
    bool deep;
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
    *os << c.bytes << "-byte pixels" << (c.deep ? ", deep" : "");
}

class SimWorldLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(SimWorldLayout, RecordDescribesTheBuffer) {
    const LayoutCase c = GetParam();
    World world(c.layout, 7, 3);
    EXPECT_EQ(sim::BytesPerPixel(c.layout), c.bytes);
    const PF_LayerDef& def = world.def();
    EXPECT_EQ(def.width, 7);
    EXPECT_EQ(def.height, 3);
    EXPECT_EQ(def.rowbytes, A_long(7 * c.bytes));
    EXPECT_EQ(def.data, world.buffer().data());
    EXPECT_EQ(world.buffer().size(), 3 * 7 * c.bytes);  // exactly, no slack
    EXPECT_EQ((def.world_flags & PF_WorldFlag_DEEP) != 0, c.deep);
    EXPECT_EQ(def.extent_hint.left, 0);
    EXPECT_EQ(def.extent_hint.top, 0);
    EXPECT_EQ(def.extent_hint.right, 7);
    EXPECT_EQ(def.extent_hint.bottom, 3);
    EXPECT_EQ(world.pixel_format(), sim::PixelFormatOf(c.layout));
}

INSTANTIATE_TEST_SUITE_P(AllLayouts, SimWorldLayout,
                         ::testing::Values(LayoutCase{Layout::kArgb8, 4, false},
                                           LayoutCase{Layout::kArgb16, 8, true},
                                           LayoutCase{Layout::kBgra8, 4, false},
                                           LayoutCase{Layout::kBgraFloat, 16, false}));

TEST(SimWorld, PixelFormatCodesSpellTheirNamesInLittleEndianBytes) {
    EXPECT_EQ(sim::PixelFormatOf(Layout::kBgra8), 0x61726762u);      // "bgra"
    EXPECT_EQ(sim::PixelFormatOf(Layout::kBgraFloat), 0x61724742u);  // "BGra"
    // The ARGB layouts answer codes of their own that are neither of those.
    const PrPixelFormat argb8 = sim::PixelFormatOf(Layout::kArgb8);
    const PrPixelFormat argb16 = sim::PixelFormatOf(Layout::kArgb16);
    EXPECT_NE(argb8, argb16);
    for (PrPixelFormat code : {argb8, argb16}) {
        EXPECT_NE(code, PrPixelFormat_BGRA_4444_8u);
        EXPECT_NE(code, PrPixelFormat_BGRA_4444_32f);
    }
}

struct StrideCase {
    const char* name;
    std::int32_t rowbytes;
    std::int32_t expected_rowbytes;
    std::size_t expected_buffer;
    std::ptrdiff_t top_row_offset;  ///< where data points in the buffer
};

TEST(SimWorld, StridesPlaceRowsWhereTheRecordSays) {
    // A 5 x 4 ARGB8 world: rows of 20 bytes.
    const StrideCase cases[] = {
        {"tight", 0, 20, 80, 0},
        {"exactly a row", 20, 20, 80, 0},
        {"padded", 28, 28, 112, 0},
        {"bottom-up tight", -20, -20, 80, 60},
        {"bottom-up padded", -32, -32, 128, 96},
    };
    for (const StrideCase& c : cases) {
        SCOPED_TRACE(c.name);
        World world(Layout::kArgb8, 5, 4, c.rowbytes);
        EXPECT_EQ(world.rowbytes(), c.expected_rowbytes);
        EXPECT_EQ(world.def().rowbytes, c.expected_rowbytes);
        ASSERT_EQ(world.buffer().size(), c.expected_buffer);
        const auto* base = world.buffer().data();
        EXPECT_EQ(static_cast<std::byte*>(world.def().data) - base, c.top_row_offset);
        // Row y starts rowbytes * y after the top row, in either direction.
        for (std::int32_t y = 0; y < 4; ++y) {
            EXPECT_EQ(static_cast<std::byte*>(world.PixelAddress(0, y)) - base,
                      c.top_row_offset + std::ptrdiff_t(y) * c.expected_rowbytes);
            EXPECT_EQ(static_cast<std::byte*>(world.PixelAddress(4, y)) -
                          static_cast<std::byte*>(world.PixelAddress(0, y)),
                      16);
        }
    }
}

TEST(SimWorld, RefusesImpossibleGeometry) {
    EXPECT_THROW(World(Layout::kArgb8, -1, 4), std::invalid_argument);
    EXPECT_THROW(World(Layout::kArgb8, 4, -1), std::invalid_argument);
    EXPECT_THROW(World(Layout::kArgb8, 5, 4, 19), std::invalid_argument);
    EXPECT_THROW(World(Layout::kBgraFloat, 5, 4, -79), std::invalid_argument);
    EXPECT_NO_THROW(World(Layout::kArgb8, 0, 0));
}

TEST(SimWorld, GetAndSetCheckSizeAndBounds) {
    World world(Layout::kArgb16, 3, 2, -40);
    const PF_Pixel16 pixel{1, 2, 3, 65535};
    world.Set(2, 1, pixel);
    const auto back = world.Get<PF_Pixel16>(2, 1);
    EXPECT_EQ(back.alpha, 1);
    EXPECT_EQ(back.blue, 65535);
    EXPECT_THROW(world.Get<PF_Pixel8>(0, 0), std::logic_error);
    EXPECT_THROW(world.Set(3, 0, pixel), std::out_of_range);
    EXPECT_THROW(world.Get<PF_Pixel16>(0, -1), std::out_of_range);
}

TEST(SimWorld, FillRandomIsSeededAndCoversPadding) {
    World a(Layout::kBgra8, 4, 3, 24);
    World b(Layout::kBgra8, 4, 3, 24);
    a.FillRandom(7);
    b.FillRandom(7);
    EXPECT_TRUE(simtest::SameBuffer(a, b));
    b.FillRandom(8);
    EXPECT_FALSE(simtest::SameBuffer(a, b));
    // Padding bytes (16..23 of each row) are filled too, not left zero.
    int nonzero_padding = 0;
    for (std::size_t row = 0; row < 3; ++row) {
        for (std::size_t i = 16; i < 24; ++i) {
            nonzero_padding += a.buffer()[row * 24 + i] != std::byte{0};
        }
    }
    EXPECT_GT(nonzero_padding, 0);
}

TEST(SimWorld, SamePixelsComparesPixelsOnly) {
    World tight(Layout::kArgb8, 4, 3);
    World padded(Layout::kArgb8, 4, 3, -28);
    padded.FillRandom(3);  // padding differs from the tight world's
    simtest::FillCoordinates(tight);
    simtest::FillCoordinates(padded);
    EXPECT_TRUE(tight.SamePixels(padded));

    padded.Set(3, 2, PF_Pixel8{9, 9, 9, 9});
    EXPECT_FALSE(tight.SamePixels(padded));

    World other_layout(Layout::kBgra8, 4, 3);
    simtest::FillCoordinates(other_layout);
    EXPECT_FALSE(tight.SamePixels(other_layout));
    World other_size(Layout::kArgb8, 4, 2);
    EXPECT_FALSE(tight.SamePixels(other_size));
}

TEST(SimWorld, MoveKeepsTheRecordPointingIntoTheBuffer) {
    World original(Layout::kBgraFloat, 2, 2, -64);
    original.FillRandom(1);
    void* data = original.def().data;
    World moved(std::move(original));
    EXPECT_EQ(moved.def().data, data);
    EXPECT_EQ(moved.PixelAddress(0, 0), data);
    EXPECT_EQ(original.def().data, nullptr);  // NOLINT(bugprone-use-after-move)

    World assigned(Layout::kArgb8, 1, 1);
    assigned = std::move(moved);
    EXPECT_EQ(assigned.def().data, data);
    EXPECT_EQ(assigned.layout(), Layout::kBgraFloat);
    EXPECT_EQ(assigned.rowbytes(), -64);
}

}  // namespace
