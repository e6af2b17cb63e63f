// The effect's own row walker for float worlds, driven directly with a
// pixel function that records where it was called.
#include "effect/iterate_rows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <vector>

#include "sim/world.h"

namespace {

using sim::Layout;
using sim::World;

struct Visit {
    std::int32_t x, y;
    const void* in;
    void* out;
};

std::int32_t Record(void* refcon, std::int32_t x, std::int32_t y, const void* in, void* out) {
    static_cast<std::vector<Visit>*>(refcon)->push_back({x, y, in, out});
    return 99;  // the walker ignores results
}

World FloatWorld(std::int32_t width, std::int32_t height, std::int32_t rowbytes) {
    return World(Layout::kBgraFloat, width, height, rowbytes);
}

TEST(IterateRows, EqualOrInvertedRowsCallNothing) {
    World src = FloatWorld(4, 4, 0), dst = FloatWorld(4, 4, 0);
    std::vector<Visit> visits;
    EXPECT_EQ(vemra::IterateRowsBgraFloat(2, 2, &src.def(), &visits, Record, &dst.def()), 0);
    EXPECT_EQ(vemra::IterateRowsBgraFloat(3, 1, &src.def(), &visits, Record, &dst.def()), 0);
    EXPECT_TRUE(visits.empty());
}

struct StrideCase {
    const char* name;
    std::int32_t src_rowbytes, dst_rowbytes;  // 0 = tight; negative = bottom-up
};

void PrintTo(const StrideCase& c, std::ostream* os) {
    *os << c.name;
}

class IterateRowsStrides : public ::testing::TestWithParam<StrideCase> {};

// Exactly width pixels a row, each source and destination cursor on the same
// row and column of its own world, x from 0 and y from first_row, rows taken
// from the top of each buffer whatever first_row is.
TEST_P(IterateRowsStrides, VisitsEveryPixelOnceInBothWorlds) {
    const StrideCase& c = GetParam();
    constexpr std::int32_t kWidth = 5, kHeight = 4, kFirstRow = 7;
    World src = FloatWorld(kWidth, kHeight, c.src_rowbytes);
    World dst = FloatWorld(kWidth, kHeight, c.dst_rowbytes);
    std::vector<Visit> visits;
    EXPECT_EQ(vemra::IterateRowsBgraFloat(kFirstRow, kFirstRow + kHeight, &src.def(), &visits,
                                          Record, &dst.def()),
              0);

    ASSERT_EQ(visits.size(), std::size_t{kWidth * kHeight});
    std::size_t i = 0;
    for (std::int32_t row = 0; row < kHeight; ++row) {
        for (std::int32_t x = 0; x < kWidth; ++x, ++i) {
            EXPECT_EQ(visits[i].x, x);
            EXPECT_EQ(visits[i].y, kFirstRow + row);
            EXPECT_EQ(visits[i].in, src.PixelAddress(x, row));
            EXPECT_EQ(visits[i].out, dst.PixelAddress(x, row));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Strides, IterateRowsStrides,
                         ::testing::Values(StrideCase{"Tight", 0, 0},
                                           StrideCase{"BothPadded", 96, 112},
                                           StrideCase{"SourcePaddedOnly", 100 * 16, 0},
                                           StrideCase{"BothBottomUp", -80, -96},
                                           StrideCase{"SourceBottomUpOnly", -80, 0}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// Rows and columns outside either world are never visited, whatever the row
// range asks.
TEST(IterateRows, WalksOnlyTheOverlapOfBothWorlds) {
    World src = FloatWorld(3, 2, 0);
    World dst = FloatWorld(5, 6, 0);
    std::vector<Visit> visits;
    vemra::IterateRowsBgraFloat(0, 100, &src.def(), &visits, Record, &dst.def());
    ASSERT_EQ(visits.size(), 6u);
    EXPECT_EQ(visits.back().x, 2);
    EXPECT_EQ(visits.back().y, 1);

    // A stride too short for the width limits the row to what it holds.
    World narrow = FloatWorld(4, 3, 0);
    narrow.def().rowbytes = 2 * 16;
    visits.clear();
    vemra::IterateRowsBgraFloat(0, 3, &narrow.def(), &visits, Record, &dst.def());
    EXPECT_EQ(visits.size(), 6u);
}

}  // namespace
