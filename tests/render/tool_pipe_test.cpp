// vemra-render on raw video through pipes: frames from ffmpeg's test sources,
// and hand-made float frames.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "tool_runner.h"

namespace render_test {
namespace {

namespace fs = std::filesystem;

std::string Ffmpeg() {
    return VEMRA_FFMPEG;
}

/// Float samples as the bytes of a raw frame.
std::string FloatBytes(std::initializer_list<float> values) {
    std::string bytes(values.size() * sizeof(float), '\0');
    std::memcpy(bytes.data(), std::data(values), bytes.size());
    return bytes;
}

std::vector<float> Floats(const std::string& bytes) {
    std::vector<float> values(bytes.size() / sizeof(float));
    std::memcpy(values.data(), bytes.data(), values.size() * sizeof(float));
    return values;
}

TEST(ToolPipe, FfmpegFramesThroughThePipeMatchTheSameFramesAsFiles) {
    if (Ffmpeg().empty()) GTEST_SKIP() << "ffmpeg not installed (scripts/install-deps.sh render)";
    ScratchDir dir;
    const std::string source =
        Ffmpeg() + " -v error -f lavfi -i testsrc2=size=64x48:rate=5 -frames:v 3";
    const std::string tool = std::string(VEMRA_RENDER_TOOL) + " --plugin " + VEMRA_EFFECT_PATH;
    const std::string sink = Ffmpeg() + " -v error -f rawvideo -pix_fmt bgra -s 64x48 -r 5 -i -";

    // The same frames as PNG files, rendered by the tool's file path.
    ASSERT_EQ(RunShell(source + " -pix_fmt rgba " + dir / "src.%d.png").exit_code, 0);
    for (const char* frame : {"1", "2", "3"}) {
        const RunResult file = RunTool({dir / (std::string("src.") + frame + ".png"), "-o",
                                        dir / (std::string("file.") + frame + ".png"),
                                        "--temperature", "0.4", "--magenta", "-0.2"});
        ASSERT_EQ(file.exit_code, 0) << file.err;
    }
    const RunResult piped = RunShell(source + " -f rawvideo -pix_fmt bgra - | " + tool +
                                     " --raw 64x48 --temperature 0.4 --magenta -0.2 | " + sink +
                                     " " + dir / "piped.%d.png");
    ASSERT_EQ(piped.exit_code, 0) << piped.err;
    const RunResult neutral = RunShell(source + " -f rawvideo -pix_fmt bgra - | " + tool +
                                       " --raw 64x48 | " + sink + " " + dir / "neutral.%d.png");
    ASSERT_EQ(neutral.exit_code, 0) << neutral.err;

    for (const char* frame : {"1", "2", "3"}) {
        const auto name = [&](const char* kind) {
            return dir / (std::string(kind) + "." + frame + ".png");
        };
        const FilePixels src = ReadFilePixels(name("src"));
        const FilePixels via_pipe = ReadFilePixels(name("piped"));
        EXPECT_EQ(via_pipe.values, ReadFilePixels(name("file")).values) << frame;
        EXPECT_NE(via_pipe.values, src.values) << frame;
        EXPECT_EQ(ReadFilePixels(name("neutral")).values, src.values) << frame;
    }
    EXPECT_FALSE(fs::exists(dir / "piped.4.png"));
}

TEST(ToolPipe, FloatFramesKeepValuesBeyondOneInInterleavedAndPlanarFormats) {
    ScratchDir dir;
    struct Case {
        const char* format;
        std::string in;
        std::vector<float> expected;
    };
    // One pixel, blue 0.5, green 0.5, red 1.5, alpha 1; --temperature 1.0
    // gives blue 0.25, red 2.25. Two pixels for the planar format, so the
    // planes' order shows.
    const Case cases[] = {
        {"bgra-float", FloatBytes({0.5f, 0.5f, 1.5f, 1.0f}), {0.25f, 0.5f, 2.25f, 1.0f}},
        {"rgba-float", FloatBytes({1.5f, 0.5f, 0.5f, 1.0f}), {2.25f, 0.5f, 0.25f, 1.0f}},
        {"gbrapf32le",
         FloatBytes({0.5f, 0.2f, 0.5f, 0.8f, 1.5f, 0.4f, 1.0f, 0.5f}),
         {0.5f, 0.2f, 0.25f, 0.4f, 2.25f, 0.6f, 1.0f, 0.5f}},
    };
    for (const Case& c : cases) {
        WriteFile(dir / "in.raw", c.in);
        const std::string size = c.expected.size() == 4 ? "1x1" : "2x1";
        RunSettings settings;
        settings.stdin_file = dir / "in.raw";
        const RunResult result =
            RunTool({"--raw", size, "--pix-fmt", c.format, "--temperature", "1.0"}, settings);
        ASSERT_EQ(result.exit_code, 0) << c.format << ": " << result.err;
        EXPECT_EQ(Floats(result.out), c.expected) << c.format;
    }
}

TEST(ToolPipe, ATruncatedFrameFailsAfterTheWholeFramesAreWritten) {
    ScratchDir dir;
    WriteFile(dir / "in.raw",
              std::string(4 * 4 * 4 + 10, '\x40'));  // one frame of 4x4 bgra and a bit
    RunSettings settings;
    settings.stdin_file = dir / "in.raw";
    const RunResult result = RunTool({"--raw", "4x4", "--temperature", "1"}, settings);
    EXPECT_NE(result.exit_code, 0);
    EXPECT_EQ(result.out.size(), 64u);
    EXPECT_NE(result.err.find("frame 2 is truncated, 10 of 64 bytes"), std::string::npos)
        << result.err;
}

TEST(ToolPipe, BadRawOptionsAreRefused) {
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"--raw", "64by48"},
                                               {"--raw", "0x48"},
                                               {"--raw", "4x4", "--pix-fmt", "yuv420p"},
                                               {"--raw", "4x4", "in.png"},
                                               {"--pix-fmt", "bgra"}}) {
        const RunResult result = RunTool(args);
        EXPECT_EQ(result.exit_code, 2) << args[1];
        EXPECT_NE(result.err.find("see --help"), std::string::npos) << result.err;
    }
}

}  // namespace
}  // namespace render_test
