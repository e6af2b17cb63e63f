// vemra-render on frame sequences and several inputs, run as a subprocess.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tool_runner.h"

namespace render_test {
namespace {

namespace fs = std::filesystem;
using render::SampleType;

/// Writes frames first..last of "NAME.####.png" with distinct random pixels.
void WriteFrames(const ScratchDir& dir, const std::string& name, int first, int last) {
    for (int frame = first; frame <= last; ++frame) {
        char file[64];
        std::snprintf(file, sizeof file, "%s.%04d.png", name.c_str(), frame);
        WriteTestImage(dir / file, RandomImage(8, 6, SampleType::kUint8, true, unsigned(frame)),
                       "uint8");
    }
}

TEST(ToolSequence, PatternWithFramesRendersEachFrameAsASingleFileWould) {
    ScratchDir dir;
    WriteFrames(dir, "in", 1, 3);
    // Input "####", output printf-style, sheets as a pattern of their own.
    const RunResult result = RunTool({dir / "in.####.png", "--frames", "1-3", "-o",
                                      dir / "out.%04d.png", "--temperature", "0.7", "--compare"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    for (const char* frame : {"0001", "0002", "0003"}) {
        const std::string in = dir / (std::string("in.") + frame + ".png");
        const std::string single = dir / (std::string("single.") + frame + ".png");
        ASSERT_EQ(RunTool({in, "-o", single, "--temperature", "0.7"}).exit_code, 0);
        EXPECT_EQ(ReadFile(dir / (std::string("out.") + frame + ".png")), ReadFile(single))
            << frame;
        EXPECT_TRUE(fs::exists(dir / (std::string("out-compare.") + frame + ".png"))) << frame;
    }
}

TEST(ToolSequence, WithoutFramesTheFramesOnDiskAreRendered) {
    ScratchDir dir;
    WriteFrames(dir, "in", 8, 10);
    WriteFile(dir / "in.12.png", "not a frame of in.####.png");
    const RunResult result = RunTool({dir / "in.####.png", "-o", dir / "out.####.png"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    for (const char* frame : {"0008", "0009", "0010"}) {
        EXPECT_EQ(ReadFile(dir / (std::string("out.") + frame + ".png")).empty(), false) << frame;
    }
    EXPECT_FALSE(fs::exists(dir / "out.0012.png"));
}

TEST(ToolSequence, AFailingFrameIsNamedAndTheFramesBeforeItKept) {
    ScratchDir dir;
    WriteFrames(dir, "in", 1, 3);
    WriteFile(dir / "in.0002.png", "corrupt");
    const RunResult result =
        RunTool({dir / "in.####.png", "--frames", "1-3", "-o", dir / "out.####.png"});
    EXPECT_NE(result.exit_code, 0);
    EXPECT_NE(result.err.find("frame 2 (2 of 3)"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("in.0002.png"), std::string::npos) << result.err;
    EXPECT_TRUE(fs::exists(dir / "out.0001.png"));
    EXPECT_FALSE(fs::exists(dir / "out.0002.png"));
    EXPECT_FALSE(fs::exists(dir / "out.0003.png"));
}

TEST(ToolSequence, SeveralInputsGoToAFolderOrAPattern) {
    ScratchDir dir;
    WriteTestImage(dir / "a.png", RandomImage(4, 4, SampleType::kUint8, true, 1), "uint8");
    WriteTestImage(dir / "b.tif", RandomImage(4, 4, SampleType::kUint16, true, 2), "uint16");
    fs::create_directory(dir / "graded");
    ASSERT_EQ(RunTool({dir / "a.png", dir / "b.tif", "-o", dir / "graded"}).exit_code, 0);
    EXPECT_TRUE(fs::exists(dir / "graded/a.png"));
    EXPECT_TRUE(fs::exists(dir / "graded/b.tif"));
    ASSERT_EQ(RunTool({dir / "a.png", dir / "b.tif", "-o", dir / "n.#.png"}).exit_code, 0);
    EXPECT_TRUE(fs::exists(dir / "n.1.png"));
    EXPECT_TRUE(fs::exists(dir / "n.2.png"));
    EXPECT_NE(RunTool({dir / "a.png", dir / "b.tif", "-o", dir / "one.png"}).exit_code, 0);
}

TEST(ToolSequence, BadPatternsAndRangesAreRefusedBeforeAnyWork) {
    ScratchDir dir;
    WriteFrames(dir, "in", 1, 2);
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    for (const Case& c : {
             Case{{dir / "in.%4d.png", "--frames", "1-2", "-o", dir / "o.%04d.png"},
                  "bad frame token"},
             Case{{dir / "in.####.png", "--frames", "1-2", "-o", dir / "o.png"},
                  "must be a frame pattern"},
             Case{{dir / "in.####.png", "--frames", "2-1", "-o", dir / "o.####.png"},
                  "ends before it starts"},
             Case{{dir / "in.####.png", "--frames", "1-2", "-o", dir / "in.####.png"},
                  "refusing to write over the input"},
         }) {
        std::vector<std::string> args = c.args;
        const RunResult result = RunTool(args);
        EXPECT_NE(result.exit_code, 0);
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"in.0001.png", "in.0002.png"}));
}

TEST(ToolSequence, AnInterruptKeepsFinishedFramesAndExitsNonzero) {
    ScratchDir dir;
    WriteFrames(dir, "in", 1, 1);
    // Frame 2 is a pipe with no writer: reading it waits until the signal.
    ASSERT_EQ(::mkfifo((dir / "in.0002.png").c_str(), 0600), 0);
    Process tool(ToolArgv({dir / "in.####.png", "--frames", "1-2", "-o", dir / "out.####.png"}),
                 {});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!fs::exists(dir / "out.0001.png") && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(fs::exists(dir / "out.0001.png"));
    ::kill(tool.pid(), SIGTERM);
    const RunResult result = tool.Wait();
    EXPECT_EQ(result.exit_code, 128 + SIGTERM);
    EXPECT_NE(result.err.find("interrupted"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("1 finished frame(s) kept"), std::string::npos) << result.err;
    EXPECT_EQ(dir.Files(),
              (std::vector<std::string>{"in.0001.png", "in.0002.png", "out.0001.png"}));
}

}  // namespace
}  // namespace render_test
