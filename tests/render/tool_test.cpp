// vemra-render end to end: the built tool, run as a subprocess on files, with
// the built effect library. Expected pixels are worked out by hand from the
// effect's rules (the temperature option is halved; red scales by 1 + t and
// blue by 1 - t; integer results saturate and truncate) and from the tool's
// documented 16-bit mapping (v * 32768 / 65535 in, w * 65535 / 32768 out,
// rounded to nearest).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>

#include "tool_runner.h"

namespace render_test {
namespace {

using render::SampleType;

/// Lines of `text` (the last one without its newline counts too).
int LineCount(const std::string& text) {
    int lines = 0;
    for (char c : text) lines += c == '\n';
    return lines + (!text.empty() && text.back() != '\n');
}

/// A failure is one line on standard error naming `what`, exit status nonzero.
void ExpectCleanFailure(const RunResult& result, const std::string& what) {
    EXPECT_NE(result.exit_code, 0);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(LineCount(result.err), 1) << result.err;
    EXPECT_NE(result.err.find(what), std::string::npos) << result.err;
}

bool SamePixels(const FilePixels& a, const FilePixels& b, double tolerance = 0.0) {
    if (a.width != b.width || a.height != b.height || a.channels != b.channels) return false;
    for (std::size_t i = 0; i < a.values.size(); ++i) {
        const double x = a.values[i], y = b.values[i];
        if (std::isnan(x) && std::isnan(y)) continue;
        if (!(std::fabs(x - y) <= tolerance) && x != y) return false;
    }
    return true;
}

TEST(ToolNeutral, EightBitPngComesBackBitForBitInEitherHost) {
    ScratchDir dir;
    WriteTestImage(dir / "in.png", RandomImage(37, 23, SampleType::kUint8, true, 1), "uint8");
    for (const char* host : {"ae", "prmr"}) {
        const RunResult result = RunTool({dir / "in.png", "-o", dir / "out.png", "--host", host});
        ASSERT_EQ(result.exit_code, 0) << result.err;
        EXPECT_TRUE(SamePixels(ReadFilePixels(dir / "in.png"), ReadFilePixels(dir / "out.png")))
            << host;
    }
}

TEST(ToolNeutral, SixteenBitTiffComesBackWithinOneCode) {
    ScratchDir dir;
    WriteTestImage(dir / "in.tif", RandomImage(64, 40, SampleType::kUint16, false, 2), "uint16", 3);
    const RunResult result = RunTool({dir / "in.tif", "-o", dir / "out.tif"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const FilePixels in = ReadFilePixels(dir / "in.tif");
    const FilePixels out = ReadFilePixels(dir / "out.tif");
    EXPECT_EQ(out.type, "uint16");
    EXPECT_EQ(out.channels, 3);  // written back without the alpha it rendered with
    EXPECT_TRUE(SamePixels(in, out, 1.0));
    EXPECT_FALSE(SamePixels(in, out, 0.0)) << "the 16-bit mapping cannot be exact for every value";
}

TEST(ToolNeutral, OpacityZeroCopiesEvenFloatsBeyondRangeAndNan) {
    ScratchDir dir;
    render::Image image = RandomImage(16, 8, SampleType::kFloat, true, 3);
    image.SetSample(0, 0, 0, std::numeric_limits<float>::quiet_NaN());
    image.SetSample(1, 0, 2, 100.0f);
    WriteTestImage(dir / "in.exr", image, "float");
    WriteTestImage(dir / "in.png", RandomImage(16, 8, SampleType::kUint8, true, 4), "uint8");
    for (const char* name : {"in.exr", "in.png"}) {
        const std::string out = dir / (std::string("out-") + name);
        const RunResult result = RunTool(
            {dir / name, "-o", out, "--temperature", "2", "--magenta", "-1", "--opacity", "0"});
        ASSERT_EQ(result.exit_code, 0) << result.err;
        EXPECT_TRUE(SamePixels(ReadFilePixels(dir / name), ReadFilePixels(out))) << name;
    }
}

struct PixelCase {
    const char* name;
    const char* file;       // extension picks the format
    const char* file_type;  // as written
    std::vector<std::string> args;
    std::array<float, 4> in;         // red, green, blue, alpha in the file's scale
    std::array<double, 4> expected;  // the same, after the effect
};

void PrintTo(const PixelCase& c, std::ostream* os) {
    *os << c.name;
}

class ToolPixels : public testing::TestWithParam<PixelCase> {};

TEST_P(ToolPixels, ComeOutAsWorkedOutByHand) {
    const PixelCase& c = GetParam();
    ScratchDir dir;
    const SampleType type = std::string(c.file_type) == "uint8"    ? SampleType::kUint8
                            : std::string(c.file_type) == "uint16" ? SampleType::kUint16
                                                                   : SampleType::kFloat;
    const std::string in = dir / (std::string("in.") + c.file);
    const std::string out = dir / (std::string("out.") + c.file);
    WriteTestImage(in, OnePixel(type, c.in[0], c.in[1], c.in[2], c.in[3]), c.file_type);
    std::vector<std::string> args{in, "-o", out};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult result = RunTool(args);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const FilePixels pixels = ReadFilePixels(out);
    for (int channel = 0; channel < 4; ++channel) {
        EXPECT_EQ(pixels.At(0, 0, channel), c.expected[std::size_t(channel)])
            << "channel " << channel;
    }
}

INSTANTIATE_TEST_SUITE_P(HostsAndLayouts, ToolPixels,
                         testing::Values(
                             // 8-bit ARGB: red 200 * 1.5 = 300 saturates, blue 50 * 0.5 = 25.
                             PixelCase{"ae8",
                                       "png",
                                       "uint8",
                                       {"--temperature", "1.0"},
                                       {200, 100, 50, 255},
                                       {255, 100, 25, 255}},
                             // Mixed half and half with the input before saturation: red
                             // (200 + 300) / 2 = 250, blue (50 + 25) / 2 = 37.5, truncated.
                             PixelCase{"ae8_opacity50",
                                       "png",
                                       "uint8",
                                       {"--temperature", "1.0", "--opacity", "50"},
                                       {200, 100, 50, 255},
                                       {250, 100, 37, 255}},
                             // Truncation, not rounding: 101 * 1.5 = 151.5.
                             PixelCase{"ae8_truncates",
                                       "png",
                                       "uint8",
                                       {"--temperature", "1.0"},
                                       {101, 0, 0, 255},
                                       {151, 0, 0, 255}},
                             // Alpha passes untouched.
                             PixelCase{"ae8_alpha",
                                       "png",
                                       "uint8",
                                       {"--temperature", "-1.0"},
                                       {200, 100, 50, 77},
                                       {100, 100, 75, 77}},
                             // 8-bit "bgra": the same pixel, the other byte order.
                             PixelCase{"prmr8",
                                       "png",
                                       "uint8",
                                       {"--host", "prmr", "--temperature", "1.0"},
                                       {200, 100, 50, 255},
                                       {255, 100, 25, 255}},
                             // 16-bit ARGB: file 32768, 16384, 8192, 65535 enter as 16384, 8192,
                             // 4096, 32768; leave as 24576, 8192, 2048, 32768; written as 49151
                             // (49151.25), 16384 (16383.75), 4096 (4095.94), 65535.
                             PixelCase{"ae16",
                                       "tif",
                                       "uint16",
                                       {"--temperature", "1.0"},
                                       {32768, 16384, 8192, 65535},
                                       {49151, 16384, 4096, 65535}},
                             // 32-bit float "BGra": red 1.5 * 1.5 = 2.25 is kept; blue 0.25.
                             PixelCase{"prmr_float",
                                       "exr",
                                       "float",
                                       {"--temperature", "1.0"},
                                       {1.5f, 0.5f, 0.5f, 1},
                                       {2.25, 0.5, 0.25, 1}},
                             PixelCase{"prmr_float_clamp",
                                       "exr",
                                       "float",
                                       {"--temperature", "1.0", "--clamp"},
                                       {1.5f, 0.5f, 0.5f, 1},
                                       {1.0, 0.5, 0.25, 1}},
                             // Half files render as float too and are written back as half.
                             PixelCase{"prmr_half",
                                       "exr",
                                       "half",
                                       {"--temperature", "1.0"},
                                       {1.5f, 0.5f, 0.5f, 1},
                                       {2.25, 0.5, 0.25, 1}},
                             // Asked for "ae", a float file goes through 16-bit ARGB: red 1.5 is
                             // clipped to 32768 on the way in.
                             PixelCase{"ae_float_clips",
                                       "exr",
                                       "float",
                                       {"--host", "ae", "--temperature", "1.0"},
                                       {1.5f, 0.5f, 0.5f, 1},
                                       {1.0, 0.5, 0.25, 1}}),
                         [](const testing::TestParamInfo<PixelCase>& param) {
                             return std::string(param.param.name);
                         });

TEST(ToolFloat, ValuesAboveOneAndBelowZeroSurviveInPrmr) {
    ScratchDir dir;
    WriteTestImage(dir / "in.exr", OnePixel(SampleType::kFloat, 4.0f, -0.5f, 100.0f, 1), "float");
    const RunResult result = RunTool({dir / "in.exr", "-o", dir / "out.exr", "--magenta", "0"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const FilePixels out = ReadFilePixels(dir / "out.exr");
    EXPECT_EQ(out.At(0, 0, 0), 4.0);
    EXPECT_EQ(out.At(0, 0, 1), -0.5);
    EXPECT_EQ(out.At(0, 0, 2), 100.0);
}

TEST(ToolErrors, OutOfRangeControlIsRefusedAndTheOutputKept) {
    ScratchDir dir;
    WriteTestImage(dir / "in.png", RandomImage(4, 4, SampleType::kUint8, true, 5), "uint8");
    WriteFile(dir / "out.png", "previous");
    struct Case {
        std::vector<std::string> args;
        const char* range;
    };
    for (const Case& c :
         {Case{{"--temperature", "7"}, "-5.0 to 5.0"}, Case{{"--magenta", "-5.5"}, "-5.0 to 5.0"},
          Case{{"--opacity", "150"}, "0.0% to 100.0%"},
          Case{{"--temperature", "nan"}, "-5.0 to 5.0"}}) {
        std::vector<std::string> args{dir / "in.png", "-o", dir / "out.png"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult result = RunTool(args);
        ExpectCleanFailure(result, c.range);
        EXPECT_NE(result.err.find(c.args[0]), std::string::npos) << result.err;
        EXPECT_EQ(ReadFile(dir / "out.png"), "previous");
    }
}

TEST(ToolErrors, BadInputsFailWithOneLineNamingTheFile) {
    ScratchDir dir;
    WriteTestImage(dir / "good.png", RandomImage(64, 64, SampleType::kUint8, true, 6), "uint8");
    const std::string good = ReadFile(dir / "good.png");
    WriteFile(dir / "truncated.png", good.substr(0, good.size() / 2));
    WriteFile(dir / "corrupt.png", std::string(300, 'x'));
    WriteFile(dir / "empty.exr", "");
    WriteFile(dir / "out.png", "previous");
    for (const char* name : {"truncated.png", "corrupt.png", "empty.exr", "missing.png"}) {
        const RunResult result = RunTool({dir / name, "-o", dir / "out.png"});
        ExpectCleanFailure(result, name);
        EXPECT_EQ(ReadFile(dir / "out.png"), "previous") << name;
    }
    EXPECT_NE(RunTool({dir / "missing.png", "-o", dir / "out.png"}).err.find("no such file"),
              std::string::npos);
}

TEST(ToolErrors, PixelLimitIsCheckedBeforeReading) {
    ScratchDir dir;
    WriteTestImage(dir / "in.png", RandomImage(20, 20, SampleType::kUint8, true, 7), "uint8");
    const RunResult result =
        RunTool({dir / "in.png", "-o", dir / "out.png", "--max-pixels", "399"});
    ExpectCleanFailure(result, "400 pixels is above the limit of 399");
    EXPECT_EQ(RunTool({dir / "in.png", "-o", dir / "out.png", "--max-pixels", "400"}).exit_code, 0);
}

TEST(ToolErrors, UnwritableOutputFailsAndCreatesNothing) {
    ScratchDir dir;
    WriteTestImage(dir / "in.png", RandomImage(4, 4, SampleType::kUint8, true, 8), "uint8");
    WriteFile(dir / "blocker", "a file where a folder should be");
    const std::vector<std::string> before = dir.Files();
    const RunResult result = RunTool({dir / "in.png", "-o", dir / "blocker/out.png"});
    ExpectCleanFailure(result, "blocker/out.png");
    ExpectCleanFailure(RunTool({dir / "in.png", "-o", dir / "out.xyz"}), "ending in \".xyz\"");
    EXPECT_EQ(dir.Files(), before);
}

TEST(ToolErrors, FailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
    ScratchDir dir;
    // Random pixels do not compress: the PNG is far above the size limit.
    WriteTestImage(dir / "in.png", RandomImage(256, 256, SampleType::kUint8, true, 9), "uint8");
    WriteFile(dir / "out.png", "previous");
    RunSettings limited;
    limited.file_size_limit = 64 * 1024;
    const RunResult result = RunTool({dir / "in.png", "-o", dir / "out.png"}, limited);
    ExpectCleanFailure(result, "out.png: write failed: File too large");
    EXPECT_EQ(ReadFile(dir / "out.png"), "previous");
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"in.png", "out.png"}));
}

TEST(ToolErrors, OutputOverItsInputNeedsToBeAskedFor) {
    ScratchDir dir;
    WriteTestImage(dir / "in.png", OnePixel(SampleType::kUint8, 200, 100, 50, 255), "uint8");
    const std::string original = ReadFile(dir / "in.png");
    ExpectCleanFailure(RunTool({dir / "in.png", "-o", dir / "./in.png", "--temperature", "1"}),
                       "--overwrite-input");
    EXPECT_EQ(ReadFile(dir / "in.png"), original);
    // Nor may the sheet replace it.
    ExpectCleanFailure(
        RunTool({dir / "in.png", "-o", dir / "out.png", "--compare-output", dir / "in.png"}),
        "refusing to write over the input");

    const RunResult asked =
        RunTool({dir / "in.png", "-o", dir / "in.png", "--temperature", "1", "--overwrite-input"});
    ASSERT_EQ(asked.exit_code, 0) << asked.err;
    EXPECT_EQ(ReadFilePixels(dir / "in.png").At(0, 0, 2), 25.0);
}

TEST(ToolErrors, LayoutTheHostDoesNotRenderIsRefusedNamingTheOnesItDoes) {
    ScratchDir dir;
    WriteTestImage(dir / "in.png", RandomImage(4, 4, SampleType::kUint8, true, 10), "uint8");
    RunResult result =
        RunTool({dir / "in.png", "-o", dir / "out.png", "--host", "ae", "--depth", "float"});
    ExpectCleanFailure(result, "--depth 8 (8-bit ARGB), --depth 16 (16-bit ARGB)");
    result = RunTool({dir / "in.png", "-o", dir / "out.png", "--host", "prmr", "--depth", "16"});
    ExpectCleanFailure(result, "--depth float (32-bit float \"BGra\")");
    EXPECT_FALSE(std::filesystem::exists(dir / "out.png"));
}

TEST(ToolChart, RendersTheChartAndTheSheetWithNoInput) {
    ScratchDir dir;
    const RunResult result = RunTool({"-o", dir / "chart.png", "--temperature", "1"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.out.find(dir / "chart-compare.png"), std::string::npos) << result.out;
    const FilePixels chart = ReadFilePixels(dir / "chart.png");
    const FilePixels sheet = ReadFilePixels(dir / "chart-compare.png");
    EXPECT_EQ(chart.width, 960);
    EXPECT_EQ(chart.height, 540);
    EXPECT_EQ(chart.channels, 3);
    EXPECT_GT(sheet.width, 2 * chart.width);
    // The wedge's last patch is white: red saturates, blue 255 * 0.5 = 127.5.
    EXPECT_EQ(chart.At(chart.width - 1, 5, 0), 255.0);
    EXPECT_EQ(chart.At(chart.width - 1, 5, 1), 255.0);
    EXPECT_EQ(chart.At(chart.width - 1, 5, 2), 127.0);
    // The sheet's right half ends with the result's pixels.
    EXPECT_EQ(sheet.At(sheet.width - 1, sheet.height - 1, 2),
              chart.At(chart.width - 1, chart.height - 1, 2));
}

TEST(ToolChart, FloatChartCarriesValuesBeyondOneThroughPrmr) {
    ScratchDir dir;
    const RunResult result =
        RunTool({"-o", dir / "chart.exr", "--temperature", "1", "--chart-size", "64x64"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const FilePixels chart = ReadFilePixels(dir / "chart.exr");
    double brightest = 0, darkest = 0;
    for (double v : chart.values) {
        brightest = std::max(brightest, v);
        darkest = std::min(darkest, v);
    }
    EXPECT_EQ(brightest, 6.0);  // the ramp's 4.0 in red, times 1.5
    EXPECT_LT(darkest, 0.0);
}

TEST(ToolDescribe, PrintsTheAboutTextAndTheDeclaredControls) {
    const RunResult result = RunTool({"--describe"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out.rfind("Temperature v1.0\n", 0), 0u) << result.out;
    for (const char* row :
         {"--temperature   Temperature", "--magenta       Magenta", "--opacity       Opacity",
          "--clamp         Clamp on output", "-5.0 to 5.0", "-2.0 to 2.0", "0.0% to 100.0%"}) {
        EXPECT_NE(result.out.find(row), std::string::npos) << row << "\n" << result.out;
    }
}

}  // namespace
}  // namespace render_test
