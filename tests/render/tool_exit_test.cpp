// The tool's exit status, one rule for every job, as a table: 2 for a
// request refused before any output exists, 1 for a failure while reading,
// rendering or writing. Each failure is one line, and these leave no file
// behind. (An interrupt ends the tool by the signal itself: ToolSequence.)
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tool_runner.h"

namespace render_test {
namespace {

namespace fs = std::filesystem;
using render::SampleType;

TEST(ToolExit, RefusalsExitWithTwoAndFailuresWithOne) {
    ScratchDir dir;
    WriteTestImage(dir / "in.png", RandomImage(8, 6, SampleType::kUint8, true, 3), "uint8");
    WriteTestImages(dir / "pages.tif",
                    {RandomImage(8, 6, SampleType::kUint8, true, 4),
                     RandomImage(8, 6, SampleType::kUint8, true, 5),
                     RandomImage(8, 6, SampleType::kUint8, true, 6)},
                    "uint8");
    WriteFile(dir / "broken.png", std::string("\x89PNG\r\n\x1a\n", 8) + "not a png at all");
    const bool movies = std::string(VEMRA_FFMPEG).empty() == false;
    if (movies) {
        const RunResult made = RunShell(std::string(VEMRA_FFMPEG) +
                                        " -v error -f lavfi -i testsrc2=size=32x24:rate=25 "
                                        "-frames:v 4 -c:v ffv1 '" +
                                        (dir / "in.mkv") + "'");
        ASSERT_EQ(made.exit_code, 0) << made.err;
    }
    struct Row {
        std::vector<std::string> args;
        int status;
        const char* says;
        bool movie = false;
    };
    const std::string m = dir / "m.%03d.png";
    const Row rows[] = {
        {{"--bogus"}, 2, "--bogus (see --help)"},
        {{dir / "in.png", "-o", dir / "x.png", "--temprature", "1"},
         2,
         "unknown option --temprature; did you mean --temperature?"},
        {{dir / "in.png", "-o", dir / "x.png", "--temperature", "7"}, 2, "outside the valid range"},
        {{dir / "in.png", "-o", dir / "x.png", "--frames", "3-1"}, 2, "ends before it starts"},
        {{dir / "pages.tif", "-o", m, "--frames", "1-99999999999999999999"},
         2,
         "frame numbers go from -9223372036854775807 to 9223372036854775807"},
        {{dir / "pages.tif", "-o", dir / "one.png"}, 2, "holds 3 frames and"},
        {{dir / "in.png", "-o", dir / "x.png", "--compare-output", dir / "x.png"},
         2,
         "two results would be written"},
        {{dir / "in.png", "-o", dir / "none/x.png"}, 2, "does not exist"},
        {{dir / "in.png", "-o", dir / "x.png", "--host", "ae", "--depth", "float"},
         2,
         "cannot render --depth float"},
        {{dir / "in.png", "-o", dir / "x.png", "--max-pixels", "10"}, 2, "above the limit"},
        {{dir / "missing.png", "-o", dir / "x.png"}, 1, "no such file"},
        {{dir / "broken.png", "-o", dir / "x.png"}, 1, "broken.png"},
        // A movie's frames into images follow the rules of image inputs.
        {{dir / "in.mkv", "-o", m, "--compare-output", dir / "sheet.png"},
         2,
         "must be a frame pattern too",
         true},
        {{dir / "in.mkv", "--frames", "2", "-o", dir / "x.png", "--compare-output", dir / "x.png"},
         2,
         "two results would be written",
         true},
    };
    const std::vector<std::string> before = dir.Files();
    for (const Row& row : rows) {
        if (row.movie && !movies) continue;
        const RunResult result = RunTool(row.args);
        std::string line;
        for (const std::string& arg : row.args) line += fs::path(arg).filename().string() + " ";
        EXPECT_EQ(result.exit_code, row.status) << line << result.err;
        EXPECT_EQ(result.err.rfind("vemra-render: error: ", 0), 0u) << line << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_NE(result.err.find(row.says), std::string::npos) << line << result.err;
        EXPECT_EQ(dir.Files(), before) << line << "left a file";
    }
}

// A run that names nothing to do prints its usage and writes nothing; the
// test chart needs -o.
TEST(ToolExit, ARunWithNothingToDoPrintsItsUsage) {
    ScratchDir dir;
    for (const char* args : {"", "--temperature 1"}) {
        // In the scratch folder, where a chart would be written.
        const RunResult result =
            RunShell("cd '" + dir.path().string() + "' && '" + VEMRA_RENDER_TOOL + "' " + args);
        EXPECT_EQ(result.exit_code, 2) << result.err;
        EXPECT_EQ(result.err.rfind("usage: vemra-render", 0), 0u) << result.err;
        EXPECT_EQ(result.out, "");
    }
    EXPECT_TRUE(dir.Files().empty());
}

}  // namespace
}  // namespace render_test
