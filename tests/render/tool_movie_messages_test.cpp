// What a movie run says and lets through, as one table through the tool: a
// transport stream cut inside an audio packet fails in one line and leaves
// nothing; --quiet prints nothing even for encoders that print themselves;
// a request no format can meet is refused before any frame with its cause;
// a dead run's temporary beside a single output is swept.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "movie_fixtures.h"
#include "tool_runner.h"
#include "tools/vemra-render/run/atomic_output.h"

namespace render_test {
namespace {

namespace fs = std::filesystem;

const std::string kFfmpeg = VEMRA_FFMPEG;

/// Byte positions of the audio packets of `path`, as ffprobe finds them.
std::vector<long> AudioPacketPositions(const std::string& path) {
    const std::string ffprobe = (fs::path(kFfmpeg).parent_path() / "ffprobe").string();
    std::istringstream lines(RunShell(ffprobe + " -v error -select_streams a -show_entries " +
                                      "packet=pos -of csv=p=0 '" + path + "'")
                                 .out);
    std::vector<long> positions;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) {
            positions.push_back(std::stol(line));
        }
    }
    return positions;
}

/// The id of a process that has ended, as a killed run's would be.
pid_t EndedProcess() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

TEST(ToolMovieMessages, CutsFailRefusalsNameTheirCauseQuietIsQuietLeftoversGo) {
    if (kFfmpeg.empty()) GTEST_SKIP() << "ffmpeg not installed (scripts/install-deps.sh render)";
    ScratchDir dir;
    const std::string ffv1 = MovieFixture("ffv1.mkv");
    const bool x265 = HasEncoder("libx265");

    struct Row {
        std::vector<std::string> args;
        int status;
        std::string says;  ///< in the one line on standard error; empty: nothing printed
    };
    std::vector<Row> rows;
    // Cut inside an audio packet near the start, the middle and the end.
    for (const char* audio : {"mp2", "aac"}) {
        const std::string ts = MovieFixture(std::string(audio) + ".ts");
        const std::vector<long> positions = AudioPacketPositions(ts);
        ASSERT_GE(positions.size(), 3u) << ts;
        for (const std::size_t at : {std::size_t(1), positions.size() / 2, positions.size() - 1}) {
            const std::string cut = dir / (std::string(audio) + std::to_string(at) + ".ts");
            WriteFile(cut, ReadFile(ts).substr(0, std::size_t(positions[at] + 300)));
            for (const char* output : {"out/cut.mkv", "out/cut.%03d.png"}) {
                rows.push_back({{cut, "-o", dir / output}, 1, "cut short or damaged"});
            }
        }
    }
    for (const char* movie : {"h264.mp4", "h265.mp4"}) {
        if (std::string(movie) == "h265.mp4" && !x265) continue;
        rows.push_back({{MovieFixture(movie), "-o", dir / "out/quiet.mp4", "--quiet"}, 0, ""});
    }
    rows.push_back({{ffv1, "-o", dir / "out/x.xyz"},
                    2,
                    "no movie or image format writes files ending in \".xyz\""});
    rows.push_back({{ffv1, "-o", dir / "out/x.mp4", "--codec", "ffv1"}, 2, "cannot hold ffv1"});
    rows.push_back({{MovieFixture("odd-width.mkv"), "-o", dir / "out/odd.mp4"},
                    2,
                    "the width must be a multiple of 2"});
    // What only the muxer knows, with its own reason: MXF's frame rates.
    rows.push_back({{MovieFixture("rate12.nut"), "-o", dir / "out/r12.mxf"},
                    2,
                    "FFmpeg (mxf): Unsupported frame rate"});

    // Animated images and raw streams cut, or declaring sizes above
    // --max-pixels (refused before FFmpeg allocates for them), and a turn
    // that is no quarter turn: each one line, nothing written.
    const std::string frames = "-f lavfi -i testsrc2=size=64x48:rate=10 -frames:v 3 ";
    RunFfmpeg(frames + "-plays 0 -f apng '" + (dir / "anim.png") + "'");
    RunFfmpeg(frames + "'" + (dir / "anim.gif") + "'");
    RunFfmpeg("-i '" + MovieFixture("h264.mp4") + "' -c copy -metadata:s:v:0 rotate=45 '" +
              (dir / "turned45.mp4") + "'");
    const std::string apng = ReadFile(dir / "anim.png"), gif = ReadFile(dir / "anim.gif");
    const std::vector<std::pair<std::string, std::string>> animations = {
        {"cut80.png", apng.substr(0, apng.size() * 8 / 10)},
        {"no-iend.png", apng.substr(0, apng.size() - 12)},
        {"cut99.gif", gif.substr(0, gif.size() * 99 / 100)},
        {"no-trailer.gif", gif.substr(0, gif.size() - 1)},
    };
    for (const auto& [name, bytes] : animations) {
        WriteFile(dir / name, bytes);
        rows.push_back({{dir / name, "-o", dir / "out/x.png", "--frames", "3"}, 1, "cut short"});
    }
    WriteFile(dir / "screen.gif",
              std::string("GIF89a\xd8\x59\xd8\x59\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01"
                          "\x00\x00\x02\x02D\x01\x00;",
                          29));
    WriteFile(dir / "huge.y4m", "YUV4MPEG2 W100000 H100000 F25:1 Ip A1:1 C420jpeg\nFRAME\n" +
                                    std::string(1000, '\x10'));
    WriteFile(dir / "short.y4m",
              "YUV4MPEG2 W64 H48 F25:1 Ip A1:1 C420jpeg\nFRAME\n" + std::string(100, '\x10'));
    rows.push_back(
        {{dir / "screen.gif", "-o", dir / "out/x.png"}, 2, "23000x23000 frames are above"});
    rows.push_back(
        {{dir / "huge.y4m", "-o", dir / "out/x.png"}, 2, "100000x100000 frames are above"});
    rows.push_back({{dir / "short.y4m", "-o", dir / "out/x.png", "--frames", "1"},
                    1,
                    "no whole frame of video"});
    rows.push_back(
        {{dir / "turned45.mp4", "-o", dir / "out/x.mp4"}, 2, "by 45 degrees, which is no"});

    fs::create_directory(dir.path() / "out");
    for (const Row& row : rows) {
        const RunResult result = RunTool(row.args);
        const std::string line = fs::path(row.args[0]).filename().string() + " -> " + row.args[2];
        EXPECT_EQ(result.exit_code, row.status) << line << "\n" << result.err;
        if (row.says.empty()) {
            EXPECT_EQ(result.out + result.err, "") << line;
            fs::remove(row.args[2]);
        } else {
            EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
            EXPECT_NE(result.err.find(row.says), std::string::npos) << line << "\n" << result.err;
        }
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator(dir.path() / "out")) {
            left.push_back(entry.path().filename().string());
        }
        EXPECT_TRUE(left.empty()) << line << " left " << left.front();
    }

    // A killed run's temporaries beside a single movie and a single image.
    const std::string stale =
        ".vemra-" + render::TemporaryHostName() + "-" + std::to_string(EndedProcess()) + "-0";
    for (const char* output : {"one.mkv", "one.png"}) {
        WriteFile(dir / ("out/." + std::string(output) + stale), "left by a killed run");
        const RunResult result = RunTool(With({ffv1, "-o", dir / ("out/" + std::string(output))},
                                              std::string(output) == "one.png"
                                                  ? std::vector<std::string>{"--frames", "2"}
                                                  : std::vector<std::string>{}));
        EXPECT_EQ(result.exit_code, 0) << result.err;
        EXPECT_NE(result.err.find("removed 1 temporary file(s)"), std::string::npos) << result.err;
    }
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir.path() / "out")) {
        left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"one.mkv", "one.png"}));
}

}  // namespace
}  // namespace render_test
