// vemra-render on frame sequences and several inputs, run as a subprocess.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
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

// For a farm manager's log: a line per tenth of the frames, parsable, and
// one input into a folder keeps its name there.
TEST(ToolSequence, ProgressLinesCountTenthsAndOneInputKeepsItsNameInAFolder) {
    ScratchDir dir;
    for (int frame = 1; frame <= 20; ++frame) {
        WriteTestImage(dir / fmt::format("in.{:04d}.png", frame),
                       RandomImage(4, 3, SampleType::kUint8, false, unsigned(frame)), "uint8");
    }
    const RunResult run =
        RunTool({dir / "in.####.png", "-o", dir / "out.####.png", "--progress", "lines"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    std::string expected;
    for (int done = 2; done <= 20; done += 2)
        expected += fmt::format("progress: {}/20 frames\n", done);
    std::string records;
    std::istringstream lines(run.err);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("progress: ", 0) == 0) records += line + "\n";
    }
    EXPECT_EQ(records, expected) << run.err;

    fs::create_directory(dir / "folder");
    ASSERT_EQ(RunTool({dir / "in.0001.png", "-o", dir / "folder/"}).exit_code, 0);
    EXPECT_TRUE(fs::exists(dir / "folder/in.0001.png"));
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

TEST(ToolSequence, AnInterruptKeepsFinishedFramesAndEndsTheProcessByTheSignal) {
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
    EXPECT_EQ(result.signal, SIGTERM) << result.exit_code;
    EXPECT_NE(result.err.find("interrupted"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("1 finished frame(s) kept"), std::string::npos) << result.err;
    EXPECT_EQ(dir.Files(),
              (std::vector<std::string>{"in.0001.png", "in.0002.png", "out.0001.png"}));
}

/// Inode and modification time (ns) of a file: what a rewrite would change.
std::pair<ino_t, long long> Identity(const std::string& path) {
    struct stat s {};
    EXPECT_EQ(::stat(path.c_str(), &s), 0) << path;
    return {s.st_ino, static_cast<long long>(s.st_mtim.tv_sec) * 1'000'000'000 + s.st_mtim.tv_nsec};
}

/// The last line of `text`.
std::string LastLine(std::string text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text.substr(text.rfind('\n') + 1);
}

TEST(ToolSequence, SkipExistingLeavesFinishedFramesUntouchedAndRendersTheRest) {
    ScratchDir dir;
    WriteFrames(dir, "in", 1, 4);
    const std::vector<std::string> job = {dir / "in.####.png", "-o",  dir / "out.####.png",
                                          "--temperature",     "0.4", "--compare"};
    ASSERT_EQ(RunTool(job).exit_code, 0);
    std::map<std::string, std::string> first;
    for (const std::string& name : dir.Files()) first[name] = ReadFile(dir / name);
    const auto kept1 = Identity(dir / "out.0001.png"), kept4 = Identity(dir / "out.0004.png");
    const auto kept_output3 = Identity(dir / "out.0003.png");
    // Frame 1's input is spoiled: a retry that reopened it would fail.
    WriteFile(dir / "in.0001.png", "spoiled");
    fs::remove(dir / "out.0002.png");
    fs::remove(dir / "out-compare.0003.png");  // a sheet alone missing

    std::vector<std::string> again = job;
    again.push_back("--skip-existing");
    const RunResult result = RunTool(again);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(LastLine(result.err), "vemra-render: 4 frame(s): 2 rendered, 2 skipped, 0 failed");
    EXPECT_EQ(Identity(dir / "out.0001.png"), kept1);
    EXPECT_EQ(Identity(dir / "out.0004.png"), kept4);
    EXPECT_EQ(Identity(dir / "out.0003.png"), kept_output3) << "only the sheet was missing";
    first["in.0001.png"] = "spoiled";
    for (const auto& [name, bytes] : first) EXPECT_EQ(ReadFile(dir / name), bytes) << name;
    EXPECT_EQ(dir.Files().size(), first.size());
}

TEST(ToolSequence, ChunksOfTheFrameListAddUpToTheWholeSequence) {
    ScratchDir dir;
    WriteFrames(dir, "in", 1, 7);
    const std::vector<std::string> base = {
        dir / "in.####.png", "--frames", "1-7", "--magenta", "0.3", "--chunk", "3"};
    const RunResult tasks = RunTool(With(base, {"--print-tasks"}));
    ASSERT_EQ(tasks.exit_code, 0) << tasks.err;
    EXPECT_EQ(tasks.out, "1-3\n");
    ASSERT_EQ(RunTool({dir / "in.####.png", "--frames", "1-7", "--magenta", "0.3", "-o",
                       dir / "whole.####.png"})
                  .exit_code,
              0);

    for (int task = 1; task <= 4; ++task) {
        // Task 2 reads its index from the scheduler's variable.
        RunSettings settings;
        std::vector<std::string> args = With(base, {"-o", dir / "part.####.png", "--task"});
        args.push_back(task == 2 ? "auto" : std::to_string(task));
        if (task == 2) settings.environment = {"SLURM_ARRAY_TASK_ID=2"};
        const RunResult result = RunTool(args, settings);
        ASSERT_EQ(result.exit_code, 0) << task << ": " << result.err;
        if (task == 4) {
            EXPECT_NE(result.err.find("task 4: the sequence's 7 frame(s) make 3 task(s)"),
                      std::string::npos)
                << result.err;
        }
    }
    EXPECT_EQ(LastLine(RunTool(With(base, {"-o", dir / "part.####.png", "--task", "3"})).err),
              "vemra-render: task 3 of 3 (frame 7 to frame 7): 1 rendered, 0 skipped, 0 failed");
    for (int frame = 1; frame <= 7; ++frame) {
        const std::string number = "000" + std::to_string(frame);
        EXPECT_EQ(ReadFile(dir / ("part." + number + ".png")),
                  ReadFile(dir / ("whole." + number + ".png")))
            << frame;
    }
    EXPECT_EQ(dir.Files().size(), 21u) << "a task past the end wrote nothing";

    for (const std::vector<std::string>& refused :
         {With(base, {"-o", dir / "x.####.png", "--task", "0"}),
          With(base, {"-o", dir / "x.####.png"}),
          std::vector<std::string>{dir / "in.0001.png", "-o", dir / "x.png", "--chunk", "2",
                                   "--task", "1"},
          With(base, {"-o", dir / "x.####.png", "--task", "auto"})}) {
        const RunResult result = RunTool(refused);
        EXPECT_EQ(result.exit_code, 2) << result.err;
    }
}

TEST(ToolSequence, AFailingFrameStopsTheRangeOrWithKeepGoingOnlyItself) {
    ScratchDir dir;
    WriteFrames(dir, "in", 1, 4);
    WriteFile(dir / "in.0002.png", "not a picture");
    const std::vector<std::string> job = {dir / "in.####.png", "-o", dir / "out.####.png",
                                          "--in-flight", "1"};
    const RunResult stopped = RunTool(job);
    EXPECT_EQ(stopped.exit_code, 1);
    EXPECT_NE(LastLine(stopped.err).find("1 rendered, 0 skipped, 1 failed, 2 not rendered"),
              std::string::npos)
        << stopped.err;
    EXPECT_FALSE(fs::exists(dir / "out.0003.png"));

    const RunResult kept_going = RunTool(With(job, {"--keep-going"}));
    EXPECT_EQ(kept_going.exit_code, 1) << "not every frame exists";
    EXPECT_NE(kept_going.err.find("error: frame 2 (2 of 4) failed"), std::string::npos)
        << kept_going.err;
    EXPECT_NE(LastLine(kept_going.err).find("3 rendered, 0 skipped, 1 failed;"), std::string::npos)
        << kept_going.err;
    for (const char* frame : {"0001", "0003", "0004"}) {
        EXPECT_TRUE(fs::exists(dir / (std::string("out.") + frame + ".png"))) << frame;
    }

    WriteFrames(dir, "in", 2, 2);
    const RunResult retried = RunTool(With(job, {"--keep-going", "--skip-existing"}));
    EXPECT_EQ(retried.exit_code, 0) << retried.err;
    EXPECT_EQ(LastLine(retried.err), "vemra-render: 4 frame(s): 1 rendered, 3 skipped, 0 failed");
}

TEST(ToolSequence, ARetryRemovesWhatAKilledRunLeftAndNeverTakesItForAFrame) {
    ScratchDir dir;
    WriteFrames(dir, "in", 2, 3);
    // Frame 1 is a pipe with no writer: with two frames in flight, frame 2 is
    // rendered into its temporary and waits behind frame 1 when the kill comes.
    ASSERT_EQ(::mkfifo((dir / "in.0001.png").c_str(), 0600), 0);
    const std::vector<std::string> job = {dir / "in.####.png",  "--frames",       "1-3", "-o",
                                          dir / "out.####.png", "--skip-existing"};
    Process tool(ToolArgv(With(job, {"--in-flight", "2"})), {});
    const auto temporary = [&] {
        for (const std::string& name : dir.Files()) {
            if (name.rfind(".out.0002.png.vemra-", 0) == 0) return name;
        }
        return std::string();
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (temporary().empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const std::string left = temporary();
    ASSERT_FALSE(left.empty());
    ::kill(tool.pid(), SIGKILL);
    EXPECT_EQ(tool.Wait().signal, SIGKILL);
    ASSERT_TRUE(fs::exists(dir / left)) << "SIGKILL leaves the temporary";
    EXPECT_FALSE(fs::exists(dir / "out.0002.png"));

    fs::remove(dir / "in.0001.png");
    WriteFrames(dir, "in", 1, 1);
    const RunResult result = RunTool(job);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.err.find("removed 1 temporary file(s)"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("3 rendered, 0 skipped"), std::string::npos) << result.err;
    for (const std::string& name : dir.Files()) EXPECT_NE(name[0], '.') << name;
    EXPECT_EQ(dir.Files().size(), 6u);
}

// An in-place run stopped by SIGKILL exactly at a rename (the test build's
// hook kills just before one, with its journal entry written, or just
// after), then run again with the same command: every frame ends rendered
// once, none twice, none missed, with and without --skip-existing.
TEST(ToolSequence, AnInPlaceRunKilledAndRunAgainRendersEachFrameOnce) {
    ScratchDir dir;
    WriteFrames(dir, "orig", 1, 4);
    const std::vector<std::string> values = {"--temperature", "0.6", "--magenta", "-0.3"};
    ASSERT_EQ(RunTool(With({dir / "orig.####.png", "-o", dir / "once.####.png"}, values)).exit_code,
              0);
    const std::vector<std::string> in_place = {
        dir / "in.####.png", "-o", dir / "in.####.png", "--overwrite-input", "--in-flight", "1"};
    const std::vector<std::string> job = With(in_place, values);
    struct Row {
        const char* kill_at;  ///< the rename, from 1; '+': just after it
        bool skip_existing;
        const char* tally;
    };
    for (const Row& row :
         {Row{"3", false, "2 rendered, 2 skipped"}, Row{"2+", true, "2 rendered, 2 skipped"},
          Row{"4+", false, "0 rendered, 4 skipped"}}) {
        for (int frame = 1; frame <= 4; ++frame) {
            const std::string name = "in.000" + std::to_string(frame) + ".png";
            fs::copy_file(dir / ("orig.000" + std::to_string(frame) + ".png"), dir / name,
                          fs::copy_options::overwrite_existing);
        }
        fs::remove(dir / ".in.####.png.vemra-journal");
        const std::vector<std::string> again =
            row.skip_existing ? With(job, {"--skip-existing"}) : job;
        RunSettings killed;
        killed.environment = {std::string("VEMRA_TEST_KILL_AT_RENAME=") + row.kill_at};
        EXPECT_EQ(RunTool(again, killed).signal, SIGKILL) << row.kill_at;
        const RunResult rerun = RunTool(again);
        ASSERT_EQ(rerun.exit_code, 0) << row.kill_at << ": " << rerun.err;
        EXPECT_NE(LastLine(rerun.err).find(row.tally), std::string::npos) << rerun.err;
        for (int frame = 1; frame <= 4; ++frame) {
            const std::string number = "000" + std::to_string(frame);
            EXPECT_EQ(ReadFile(dir / ("in." + number + ".png")),
                      ReadFile(dir / ("once." + number + ".png")))
                << row.kill_at << ": frame " << frame;
        }
    }
    // The finished run once more: nothing left to render.
    const RunResult finished = RunTool(job);
    EXPECT_NE(LastLine(finished.err).find("0 rendered, 4 skipped"), std::string::npos)
        << finished.err;
    // Stopped again, then run with other values: refused in one line, as
    // its finished frames would get the effect twice.
    for (int frame = 1; frame <= 4; ++frame) {
        fs::copy_file(dir / ("orig.000" + std::to_string(frame) + ".png"),
                      dir / ("in.000" + std::to_string(frame) + ".png"),
                      fs::copy_options::overwrite_existing);
    }
    fs::remove(dir / ".in.####.png.vemra-journal");
    RunSettings killed;
    killed.environment = {"VEMRA_TEST_KILL_AT_RENAME=2+"};
    ASSERT_EQ(RunTool(job, killed).signal, SIGKILL);
    const std::string second = ReadFile(dir / "in.0002.png");
    const RunResult changed = RunTool(With(in_place, {"--temperature", "0.2"}));
    EXPECT_EQ(changed.exit_code, 2) << changed.err;
    EXPECT_NE(changed.err.find("unfinished in-place run rendered 2 of its 4 frames"),
              std::string::npos)
        << changed.err;
    EXPECT_EQ(std::count(changed.err.begin(), changed.err.end(), '\n'), 1) << changed.err;
    EXPECT_EQ(ReadFile(dir / "in.0002.png"), second);
}

// A run in another PID namespace (a container on this host) holds a live
// temporary whose process id means nothing here: a run outside that
// namespace over the same output must leave it alone, and remove it once
// its run is gone.
TEST(ToolSequence, ALiveTemporaryInAnotherPidNamespaceIsNeverSwept) {
    if (RunShell("unshare -p -f --mount-proc true").exit_code != 0) {
        GTEST_SKIP() << "unshare -p is not allowed here";
    }
    ScratchDir dir;
    WriteFrames(dir, "in", 2, 2);
    ASSERT_EQ(::mkfifo((dir / "in.0001.png").c_str(), 0600), 0);  // blocks frame 1
    // Process ids in the namespace start near the top, where none lives here.
    const long pid_max = std::stol(ReadFile("/proc/sys/kernel/pid_max"));
    Process inside(
        With({"/usr/bin/unshare", "-p", "--kill-child", "--mount-proc", "/bin/bash", "-c",
              "echo " + std::to_string(pid_max - 200) +
                  " > /proc/sys/kernel/ns_last_pid && \"$@\"; exit $?",
              "_"},
             ToolArgv({dir / "in.####.png", "--frames", "1-2", "-o", dir / "out.####.png",
                       "--in-flight", "2"})),
        {});
    std::string live;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (live.empty() && std::chrono::steady_clock::now() < deadline) {
        for (const std::string& name : dir.Files()) {
            if (name.rfind(".out.0002.png.vemra-", 0) == 0) live = name;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(live.empty()) << "the run in the namespace made no temporary";
    const std::string pid = live.substr(0, live.rfind('-'));
    if (::kill(std::stoi(pid.substr(pid.rfind('-') + 1)), 0) == 0 || errno != ESRCH) {
        GTEST_SKIP() << live << ": its process id exists outside the namespace too";
    }
    const std::vector<std::string> outside = {dir / "in.0002.png", "-o", dir / "out.0002.png"};
    const RunResult beside = RunTool(outside);
    EXPECT_EQ(beside.exit_code, 0) << beside.err;
    EXPECT_TRUE(fs::exists(dir / live)) << "a live temporary was swept: " << beside.err;
    ::kill(inside.pid(), SIGKILL);  // --kill-child takes the namespace with it
    inside.Wait();
    ASSERT_TRUE(fs::exists(dir / live)) << "SIGKILL leaves the temporary";
    const RunResult after = RunTool(outside);
    EXPECT_NE(after.err.find("removed 1 temporary file(s)"), std::string::npos) << after.err;
    EXPECT_FALSE(fs::exists(dir / live));
}

TEST(ToolSequence, AFileOfSeveralFramesRendersEveryFrameOrIsRefused) {
    ScratchDir dir;
    std::vector<render::Image> pages;
    for (unsigned page = 0; page < 3; ++page) {
        pages.push_back(RandomImage(8, 6, SampleType::kUint16, true, 40 + page));
        WriteTestImage(dir / ("page" + std::to_string(page + 1) + ".tif"), pages.back(), "uint16");
    }
    WriteTestImages(dir / "pages.tif", pages, "uint16");
    const std::vector<std::string> steps = {"--temperature", "0.8", "--magenta", "-0.4"};
    for (int page = 1; page <= 3; ++page) {
        const std::string alone = dir / ("alone" + std::to_string(page) + ".tif");
        ASSERT_EQ(
            RunTool(With({dir / ("page" + std::to_string(page) + ".tif"), "-o", alone}, steps))
                .exit_code,
            0);
    }

    // Into a single file: refused, with the count and both ways out.
    const RunResult refused = RunTool(With({dir / "pages.tif", "-o", dir / "one.tif"}, steps));
    EXPECT_EQ(refused.exit_code, 2);
    for (const char* words : {"holds 3 frames", "frame pattern", "--frames N"}) {
        EXPECT_NE(refused.err.find(words), std::string::npos) << refused.err;
    }
    EXPECT_FALSE(fs::exists(dir / "one.tif"));

    // Into a pattern: every page, numbered from --start-number.
    ASSERT_EQ(RunTool(With({dir / "pages.tif", "-o", dir / "out.####.tif", "--start-number", "10"},
                           steps))
                  .exit_code,
              0);
    // One page picked into a single file.
    ASSERT_EQ(RunTool(With({dir / "pages.tif", "-o", dir / "picked.tif", "--frames", "2"}, steps))
                  .exit_code,
              0);
    for (int page = 1; page <= 3; ++page) {
        const std::string alone = dir / ("alone" + std::to_string(page) + ".tif");
        EXPECT_EQ(ReadFilePixels(dir / ("out.00" + std::to_string(9 + page) + ".tif")).values,
                  ReadFilePixels(alone).values)
            << page;
    }
    EXPECT_EQ(ReadFilePixels(dir / "picked.tif").values, ReadFilePixels(dir / "alone2.tif").values);

    // Within a sequence, a file of several frames is refused, not cut to one.
    fs::copy_file(dir / "pages.tif", dir / "seq.0002.tif");
    fs::copy_file(dir / "page1.tif", dir / "seq.0001.tif");
    const RunResult in_sequence = RunTool({dir / "seq.####.tif", "-o", dir / "s.####.tif"});
    EXPECT_EQ(in_sequence.exit_code, 1);
    EXPECT_NE(in_sequence.err.find("seq.0002.tif: holds several frames"), std::string::npos)
        << in_sequence.err;
    EXPECT_FALSE(fs::exists(dir / "s.0002.tif"));
}

TEST(ToolSequence, AnOpenExrFilesPartsAreLayersOfOneFrame) {
    ScratchDir dir;
    const render::Image beauty = RandomImage(8, 6, SampleType::kFloat, true, 7);
    WriteTestImages(dir / "layers.exr", {beauty, RandomImage(8, 6, SampleType::kFloat, true, 8)},
                    "half");
    WriteTestImage(dir / "beauty.exr", beauty, "half");
    ASSERT_EQ(
        RunTool({dir / "beauty.exr", "-o", dir / "alone.exr", "--temperature", "1"}).exit_code, 0);
    const RunResult result =
        RunTool({dir / "layers.exr", "-o", dir / "out.exr", "--temperature", "1"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    // One output, its first part rendered as the file alone would be (every
    // part is kept: tool_image_files_test.cpp).
    EXPECT_EQ(ReadFilePixels(dir / "out.exr").values, ReadFilePixels(dir / "alone.exr").values);
}

}  // namespace
}  // namespace render_test
