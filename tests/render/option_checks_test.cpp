// The command line into Options, and the check of options that do not go
// together, as one table: each row a command line and the refusal it gets,
// or none. No effect is loaded and no file is opened.
#include "tools/vemra-render/jobs/option_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tools/vemra-render/app/command_line.h"

namespace render {
namespace {

/// `args` after the program's name, as main receives them.
struct CommandLine {
    explicit CommandLine(const std::vector<std::string>& args) : words(args.size() + 1) {
        words[0] = "vemra-render";
        std::copy(args.begin(), args.end(), words.begin() + 1);
        for (std::string& word : words) argv.push_back(word.data());
    }
    std::vector<std::string> words;
    std::vector<char*> argv;
};

/// The UsageError message `args` end in, reading and then checking them;
/// empty when they are taken.
std::string Refusal(const std::vector<std::string>& args) {
    CommandLine line(args);
    try {
        const std::optional<Options> options =
            ReadCommandLine(int(line.argv.size()), line.argv.data());
        if (options) CheckOptions(*options);
    } catch (const UsageError& e) {
        return e.what();
    }
    return "";
}

TEST(OptionChecks, EachCombinationThatCannotBeFollowedIsRefusedWithItsReason) {
    struct Row {
        std::vector<std::string> args;
        std::string refusal;  ///< a part of the message; empty: taken
    };
    const Row rows[] = {
        // Raw video goes between pipes, in a pixel format the tool knows.
        {{"--raw", "64x48"}, ""},
        {{"--raw", "64x48", "--pix-fmt", "gbrapf32le"}, ""},
        {{"--raw", "64x48", "in.png"}, "--raw reads standard input"},
        {{"--raw", "64x48", "-o", "out.png"}, "--raw reads standard input"},
        {{"--raw", "64x48", "--compare"}, "--raw reads standard input"},
        {{"--raw", "64x48", "--pix-fmt", "yuv420p"}, "--pix-fmt: unknown pixel format \"yuv420p\""},
        {{"--raw", "64y48"}, "--raw: bad frame size \"64y48\""},
        {{"--raw", "0x48"}, "--raw: bad frame size"},
        {{"--chart-size", "1920x1080x3"}, "--chart-size: bad frame size"},
        // Movie options want a movie output, told by its name alone.
        {{"in.mov", "-o", "out.mkv", "--codec", "ffv1", "--quality", "3"}, ""},
        {{"in.mov", "-o", "out.mov", "--pix-fmt", "yuv422p10le"}, ""},
        {{"in.png", "-o", "out.png", "--codec", "ffv1"}, "--codec and --quality go with a movie"},
        {{"in.png", "-o", "out.png", "--quality", "3"}, "--codec and --quality go with a movie"},
        {{"in.mov", "-o", "f.####.png", "--pix-fmt", "rgb24"},
         "--pix-fmt goes with --raw or a movie"},
        // --frames and the farm options go with one input.
        {{"a.png", "b.png", "-o", "out/", "--frames", "1"}, "--frames goes with one input"},
        {{"p.####.exr", "-o", "o.####.exr", "--chunk", "10", "--task", "3"}, ""},
        {{"p.####.exr", "--chunk", "10", "--print-tasks"}, ""},
        {{"a.png", "b.png", "--chunk", "10", "--print-tasks"}, "go with one input frame pattern"},
        {{"p.####.exr", "-o", "o.####.exr", "--task", "3"},
         "--task and --print-tasks need --chunk"},
        {{"p.####.exr", "-o", "o.####.exr", "--chunk", "10"}, "--chunk needs --task T"},
        // Values checked on their own, before any combination.
        {{"in.png", "-o", "x.png", "--clamp", "--no-clamp"}, "--clamp and --no-clamp together"},
        {{"in.png", "-o", "x.png", "--host", "nle"}, "--host nle: use ae or prmr"},
        {{"in.png", "-o", "x.png", "--depth", "12"}, "--depth 12: use 8, 16 or float"},
        {{"in.png", "-o", "x.png", "--memory", "12Q"}, "--memory 12Q: give a size"},
        {{"in.png", "-o", "x.png", "--threads", "0"}, "--threads"},
        {{"in.png", "-o", "x.png", "--bogus"}, "--bogus"},
        // A start number a frame name carries, and none beyond it either way.
        {{"p.tif", "-o", "o.#.png", "--start-number", "9223372036854775807"}, ""},
        {{"p.tif", "-o", "o.#.png", "--start-number", "99999999999999999999"},
         "--start-number 99999999999999999999: give a frame number; frame numbers go from "
         "-9223372036854775807 to 9223372036854775807"},
        {{"p.tif", "-o", "o.#.png", "--start-number", "-9223372036854775808"},
         "--start-number -9223372036854775808: give a frame number"},
        {{"p.tif", "-o", "o.#.png", "--start-number", "1e3"}, "--start-number 1e3"},
    };
    for (const Row& row : rows) {
        std::string line;
        for (const std::string& arg : row.args) line += arg + " ";
        const std::string refusal = Refusal(row.args);
        if (row.refusal.empty()) {
            EXPECT_EQ(refusal, "") << line;
        } else {
            EXPECT_NE(refusal.find(row.refusal), std::string::npos) << line << "-> " << refusal;
        }
    }
}

TEST(OptionChecks, TheCommandLineFillsOptionsAsGiven) {
    CommandLine line({"in.mov", "-o", "out.mov", "-t", "0.5", "--no-clamp", "--opacity", "80",
                      "--start-number", "7", "--pix-fmt", "yuv422p10le"});
    const std::optional<Options> options = ReadCommandLine(int(line.argv.size()), line.argv.data());
    ASSERT_TRUE(options);
    EXPECT_EQ(options->controls.temperature, 0.5);
    EXPECT_FALSE(options->controls.magenta);  // not given: the effect's default
    EXPECT_EQ(options->controls.opacity, 80.0);
    EXPECT_EQ(options->controls.clamp, false);
    EXPECT_EQ(options->start_number, 7);
    EXPECT_EQ(options->pix_fmt, "yuv422p10le");
    EXPECT_FALSE(options->compare);
}

}  // namespace
}  // namespace render
