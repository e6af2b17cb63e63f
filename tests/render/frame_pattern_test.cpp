#include "tools/vemra-render/io/frame_pattern.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace render {
namespace {

namespace fs = std::filesystem;

TEST(FramePattern, FormatsEachTokenStyle) {
    struct Case {
        const char* pattern;
        long frame;
        const char* name;
    };
    for (const Case& c :
         {Case{"shot.####.exr", 7, "shot.0007.exr"}, Case{"shot.%04d.exr", 7, "shot.0007.exr"},
          Case{"shot.%d.exr", 12, "shot.12.exr"}, Case{"shot.#.exr", 123, "shot.123.exr"},
          Case{"shot.####.exr", 12345, "shot.12345.exr"},
          Case{"dir.v2/a_%03d_b.tif", 5, "dir.v2/a_005_b.tif"},
          Case{"100%%.%02d.png", 3, "100%.03.png"}, Case{"s.####.exr", -3, "s.-0003.exr"}}) {
        const std::optional<FramePattern> pattern = FramePattern::Parse(c.pattern);
        ASSERT_TRUE(pattern) << c.pattern;
        EXPECT_EQ(pattern->Format(c.frame), c.name) << c.pattern;
        EXPECT_EQ(pattern->Match(c.name), c.frame) << c.pattern;
    }
}

TEST(FramePattern, PlainNamesAreNotPatterns) {
    EXPECT_FALSE(FramePattern::Parse("shot.exr"));
    EXPECT_FALSE(FramePattern::Parse("a/b-100%%.png"));
    EXPECT_FALSE(FramePattern::Parse("grade 100%.png"));
    EXPECT_FALSE(FramePattern::Parse("a.%x.exr"));
}

TEST(FramePattern, MalformedPatternsAreRefused) {
    for (const char* text : {"a.##.b.##.exr", "a.%4d.exr", "a.%010d.exr", "a.%d.%d.exr",
                             "dir#/a.exr", "d%02d/a.exr"}) {
        EXPECT_THROW(FramePattern::Parse(text), PatternError) << text;
    }
}

TEST(FramePattern, MatchesOnlyTheNamesItWouldWrite) {
    const FramePattern pattern = *FramePattern::Parse("shot.####.exr");
    for (const char* other : {"shot.12.exr", "shot.0012.png", "shot.00a2.exr", "take.0012.exr",
                              "shot..exr", "shot.-.exr"}) {
        EXPECT_FALSE(pattern.Match(other)) << other;
    }
}

TEST(FramePattern, FindsTheFramesOnDiskInOrder) {
    const fs::path dir =
        fs::temp_directory_path() / ("vemra-pattern-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    for (const char* name :
         {"shot.0003.exr", "shot.0001.exr", "shot.1.exr", "shot.0002.exr.tmp", "other.0002.exr"}) {
        std::ofstream(dir / name) << "x";
    }
    EXPECT_EQ(FramePattern::Parse((dir / "shot.####.exr").string())->FindExisting(),
              (std::vector<long>{1, 3}));
    fs::remove_all(dir);
}

TEST(FramePattern, StemSuffixGoesBeforeTheSeparators) {
    EXPECT_EQ(FramePattern::Parse("out/shot.####.exr")->WithStemSuffix("-compare").Format(5),
              "out/shot-compare.0005.exr");
    EXPECT_EQ(FramePattern::Parse("a_%03d.png")->WithStemSuffix("-compare").Format(5),
              "a-compare_005.png");
}

TEST(FrameRange, ParsesListsAndRanges) {
    struct Case {
        const char* text;
        std::vector<long> frames;
    };
    for (const Case& c :
         {Case{"1-3", {1, 2, 3}}, Case{"5", {5}}, Case{"1,5,9-10", {1, 5, 9, 10}},
          Case{"-2-0", {-2, -1, 0}}, Case{"-5--4", {-5, -4}}, Case{"7-7", {7}},
          // The largest frame number ends a range without overflowing.
          Case{"9223372036854775807", {kMaxFrameNumber}},
          Case{"9223372036854775806-9223372036854775807", {kMaxFrameNumber - 1, kMaxFrameNumber}},
          Case{"-9223372036854775807", {-kMaxFrameNumber}}}) {
        EXPECT_EQ(ParseFrameRange(c.text), c.frames) << c.text;
    }
}

TEST(FrameRange, RefusesMalformedAndHugeRanges) {
    for (const char* text : {"", "3-1", "1-", "a", "1,,2", "1-3,", "1-2-3", " 1"}) {
        EXPECT_THROW(ParseFrameRange(text), PatternError) << text;
    }
    EXPECT_THROW(ParseFrameRange("1-100", 50), PatternError);
    EXPECT_THROW(ParseFrameRange("1-40,41-60", 50), PatternError);
    EXPECT_THROW(ParseFrameRange("-9223372036854775807-9223372036854775807"), PatternError);
    for (const char* beyond :
         {"9223372036854775808", "1-99999999999999999999", "-9223372036854775808"}) {
        try {
            ParseFrameRange(beyond);
            ADD_FAILURE() << beyond;
        } catch (const PatternError& e) {
            EXPECT_NE(std::string(e.what()).find("frame numbers go from"), std::string::npos)
                << e.what();
        }
    }
}

TEST(FrameRange, FileNumbersFromAStartNumberStopAtTheLargest) {
    EXPECT_EQ(NumberOfFrame(10, 1), 10);
    EXPECT_EQ(NumberOfFrame(-5, 3), -3);
    EXPECT_EQ(NumberOfFrame(kMaxFrameNumber, 1), kMaxFrameNumber);
    EXPECT_EQ(NumberOfFrame(kMaxFrameNumber - 1, 2), kMaxFrameNumber);
    EXPECT_THROW(NumberOfFrame(kMaxFrameNumber, 2), PatternError);
    EXPECT_THROW(NumberOfFrame(2, kMaxFrameNumber), PatternError);
}

TEST(InsertBeforeExtension, PutsTheSuffixBeforeTheExtensionOnly) {
    EXPECT_EQ(InsertBeforeExtension("a/b.png", "-compare"), "a/b-compare.png");
    EXPECT_EQ(InsertBeforeExtension("noext", "-compare"), "noext-compare");
    EXPECT_EQ(InsertBeforeExtension("dir.v2/file", "-compare"), "dir.v2/file-compare");
}

}  // namespace
}  // namespace render
