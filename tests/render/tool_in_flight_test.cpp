// vemra-render with several frames in flight, run as a subprocess: the same
// frames as one at a time, the pipe's order, a failure and interrupts in the
// middle of a sequence, and no frame-sized allocation per frame.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tool_runner.h"

namespace render_test {
namespace {

namespace fs = std::filesystem;
using render::SampleType;

/// "NAME.####.EXT" of frame `frame`.
std::string FrameName(const std::string& name, int frame, const std::string& extension) {
    char file[96];
    std::snprintf(file, sizeof file, "%s.%04d.%s", name.c_str(), frame, extension.c_str());
    return file;
}

/// Frames 1..count of "in.####.EXT", each with pixels of its own.
void WriteFrames(const ScratchDir& dir, int count, int width, int height, SampleType type,
                 const std::string& file_type, const std::string& extension) {
    for (int frame = 1; frame <= count; ++frame) {
        WriteTestImage(dir / FrameName("in", frame, extension),
                       RandomImage(width, height, type, true, unsigned(100 + frame)), file_type);
    }
}

const std::vector<std::string> kSteps = {"--temperature", "0.6", "--magenta", "-0.2",
                                         "--opacity",     "70",  "--clamp"};

TEST(ToolInFlight, SeveralFramesAtOnceGiveTheFramesOneAtATimeGives) {
    struct Case {
        SampleType type;
        const char* file_type;
        const char* extension;
    };
    for (const Case& c :
         {Case{SampleType::kUint8, "uint8", "png"}, Case{SampleType::kFloat, "half", "exr"}}) {
        ScratchDir dir;
        WriteFrames(dir, 8, 40, 30, c.type, c.file_type, c.extension);
        const std::string in = dir / (std::string("in.####.") + c.extension);
        for (const char* in_flight : {"1", "4"}) {
            const std::string out = dir / (std::string("o") + in_flight + ".####." + c.extension);
            const RunResult result =
                RunTool(With({in, "-o", out, "--in-flight", in_flight, "-q"}, kSteps));
            ASSERT_EQ(result.exit_code, 0) << result.err;
        }
        for (int frame = 1; frame <= 8; ++frame) {
            const FilePixels one = ReadFilePixels(dir / FrameName("o1", frame, c.extension));
            const FilePixels four = ReadFilePixels(dir / FrameName("o4", frame, c.extension));
            EXPECT_EQ(one.values, four.values) << c.extension << " frame " << frame;
        }
        EXPECT_NE(ReadFilePixels(dir / FrameName("o4", 1, c.extension)).values,
                  ReadFilePixels(dir / FrameName("o4", 2, c.extension)).values);
    }
}

TEST(ToolInFlight, ThePipeWritesFramesInTheOrderTheyCame) {
    ScratchDir dir;
    // Twelve frames, each different, back to back.
    std::string frames;
    for (int frame = 0; frame < 12; ++frame) {
        const render::Image image = RandomImage(64, 16, SampleType::kUint8, true, unsigned(frame));
        frames.append(reinterpret_cast<const char*>(image.pixels.data()), image.pixels.size());
    }
    WriteFile(dir / "frames.rgba", frames);
    RunSettings settings;
    settings.stdin_file = dir / "frames.rgba";
    std::vector<std::string> outputs;
    for (const char* in_flight : {"1", "5"}) {
        const RunResult result = RunTool(
            With({"--raw", "64x16", "--pix-fmt", "rgba", "--in-flight", in_flight, "-q"}, kSteps),
            settings);
        ASSERT_EQ(result.exit_code, 0) << result.err;
        ASSERT_EQ(result.out.size(), frames.size());
        outputs.push_back(result.out);
    }
    EXPECT_EQ(outputs[0], outputs[1]);
    // The rendered frames differ from one another, so any reordering shows.
    const std::size_t frame_bytes = frames.size() / 12;
    EXPECT_NE(outputs[0].substr(0, frame_bytes), outputs[0].substr(frame_bytes, frame_bytes));
}

TEST(ToolInFlight, AFailureKeepsExactlyTheFramesBeforeIt) {
    ScratchDir dir;
    WriteFrames(dir, 10, 32, 24, SampleType::kUint8, "uint8", "png");
    WriteFile(dir / "in.0005.png", "not a PNG");
    const RunResult result =
        RunTool({dir / "in.####.png", "-o", dir / "out.####.png", "--in-flight", "4"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_NE(result.err.find("frame 5 (5 of 10) failed"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("in.0005.png"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("4 finished frame(s) kept"), std::string::npos) << result.err;
    std::vector<std::string> expected;
    for (int frame = 1; frame <= 10; ++frame) expected.push_back(FrameName("in", frame, "png"));
    for (int frame = 1; frame <= 4; ++frame) expected.push_back(FrameName("out", frame, "png"));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(dir.Files(), expected);  // nothing after frame 4, and no temporary
}

TEST(ToolInFlight, RepeatedInterruptsWhileFramesAreWrittenLeaveOnlyCompleteFrames) {
    ScratchDir dir;
    // Frames large enough that encoding them takes a while, so the signals
    // land while several are being written.
    WriteFrames(dir, 12, 384, 256, SampleType::kUint16, "uint16", "tif");
    const std::vector<std::string> base = {dir / "in.####.tif", "--in-flight", "4", "-q"};
    fs::create_directory(dir / "reference");
    ASSERT_EQ(RunTool(With(base, {"-o", dir / "reference/out.####.tif"})).exit_code, 0);

    for (int delay_ms : {0, 10, 30, 60, 100, 200}) {
        const fs::path folder = dir.path() / ("run" + std::to_string(delay_ms));
        fs::create_directory(folder);
        Process tool(ToolArgv(With(base, {"-o", (folder / "out.####.tif").string()})), {});
        // From the first file the tool creates (a temporary, most likely) on,
        // it is writing frames; the signals come `delay_ms` later.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (fs::is_empty(folder) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
        for (int signal_number : {SIGINT, SIGTERM, SIGINT}) ::kill(tool.pid(), signal_number);
        const RunResult result = tool.Wait();
        EXPECT_TRUE(result.exit_code == 0 || result.signal == SIGINT || result.signal == SIGTERM)
            << result.exit_code << " " << result.signal << " " << result.err;
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            ASSERT_NE(name[0], '.') << "a temporary was left: " << name << " after " << delay_ms;
            EXPECT_EQ(ReadFilePixels(entry.path().string()).values,
                      ReadFilePixels((dir.path() / "reference" / name).string()).values)
                << name << " after " << delay_ms << " ms is not a complete frame";
        }
    }
}

TEST(ToolInFlight, NoFrameSizedAllocationPerFrameOnceASequenceOrAPipeRuns) {
    if (std::string(VEMRA_ALLOC_COUNTER).empty()) {
        GTEST_SKIP() << "sanitizer builds replace operator new themselves";
    }
    ScratchDir dir;
    constexpr int kWidth = 256, kHeight = 128;
    WriteFrames(dir, 8, kWidth, kHeight, SampleType::kUint8, "uint8", "png");
    std::string frames;
    for (int frame = 0; frame < 8; ++frame) {
        const render::Image image =
            RandomImage(kWidth, kHeight, SampleType::kUint8, true, unsigned(frame));
        frames.append(reinterpret_cast<const char*>(image.pixels.data()), image.pixels.size());
    }
    WriteFile(dir / "frames.rgba", frames);
    WriteFile(dir / "half.rgba", frames.substr(0, frames.size() / 2));

    // Allocations of a quarter of a frame's pixels or more, made by the tool's
    // own code; the count must not grow with the number of frames.
    auto count = [&](std::vector<std::string> args, const std::string& stdin_file = "/dev/null") {
        RunSettings settings;
        settings.stdin_file = stdin_file;
        const std::string report = dir / "allocations";
        settings.environment = {"LD_PRELOAD=" VEMRA_ALLOC_COUNTER,
                                "VEMRA_ALLOC_MIN=" + std::to_string(kWidth * kHeight / 4),
                                "VEMRA_ALLOC_REPORT=" + report};
        const RunResult result = RunTool(args, settings);
        EXPECT_EQ(result.exit_code, 0) << result.err;
        return std::stol(ReadFile(report));
    };
    // With one frame in flight the counts are exact. With two, which worker
    // takes which frame depends on timing, so a second slot's buffers may or
    // may not be made: the bound is one set per slot.
    const std::vector<std::string> one = {"--in-flight", "1", "-q"};
    const std::vector<std::string> two = {"--in-flight", "2", "-q"};
    const std::string in = dir / "in.####.png";
    const long four = count(With({in, "--frames", "1-4", "-o", dir / "a.####.png"}, one));
    const long eight = count(With({in, "-o", dir / "b.####.png"}, one));
    EXPECT_GT(four, 0) << "the counter sees the first frames' buffers";
    EXPECT_EQ(four, eight) << "frame-sized allocations grew with the sequence";
    EXPECT_LE(count(With({in, "-o", dir / "b2.####.png"}, two)), 2 * four);

    const auto raw = [&](const std::vector<std::string>& in_flight) {
        return With(
            {"--raw", std::to_string(kWidth) + "x" + std::to_string(kHeight), "--pix-fmt", "rgba"},
            in_flight);
    };
    const long raw_four = count(raw(one), dir / "half.rgba");
    EXPECT_EQ(raw_four, count(raw(one), dir / "frames.rgba"));
    EXPECT_LE(count(raw(two), dir / "frames.rgba"), 2 * raw_four);

    // The check can fail: a compare sheet is made afresh for every frame.
    const long sheets4 =
        count(With({in, "--frames", "1-4", "-o", dir / "c.####.png", "--compare"}, one));
    const long sheets8 = count(With({in, "-o", dir / "d.####.png", "--compare"}, one));
    EXPECT_GT(sheets8, sheets4);
}

}  // namespace
}  // namespace render_test
