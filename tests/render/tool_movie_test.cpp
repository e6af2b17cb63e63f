// vemra-render on movies, against the ffmpeg program: a movie rendered
// straight into a movie must give the frames the pipe route gives (ffmpeg
// decoding into the tool's raw pipe, ffmpeg encoding what comes out), with
// the sound, the timing and the colour tags of the input; a movie into image
// files gives every frame or is refused; a cut movie leaves nothing.
#include <fcntl.h>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "movie_fixtures.h"
#include "tool_runner.h"

namespace render_test {
namespace {

namespace fs = std::filesystem;

const std::string kFfmpeg = VEMRA_FFMPEG;
const std::string kFfprobe = (fs::path(kFfmpeg).parent_path() / "ffprobe").string();

/// Standard output of a shell command that must succeed.
std::string Output(const std::string& command) {
    const RunResult result = RunShell(command);
    EXPECT_EQ(result.exit_code, 0) << command << "\n" << result.err;
    return result.out;
}

const std::vector<std::string> kSteps = {"--temperature", "0.7",       "--magenta",
                                         "-0.4",          "--opacity", "90"};

TEST(ToolMovie, AMovieIntoAMovieGivesWhatThePipeRouteGivesAndKeepsSoundAndTiming) {
    if (kFfmpeg.empty()) GTEST_SKIP() << "ffmpeg not installed (scripts/install-deps.sh render)";
    struct Case {
        const char* name;
        const char* codec_options;
        const char* raw;      ///< the pipe's raw format at the source's depth
        const char* encoded;  ///< FFV1's pixel format on both routes
    };
    const Case cases[] = {
        {"h264.mov", "-c:v libx264 -pix_fmt yuv420p -g 5", "rgba", "bgra"},
        {"prores.mov",
         "-vf \"format=yuva444p10le,geq=lum='lum(X,Y)':cb='cb(X,Y)':cr='cr(X,Y)':a='X*16'\" "
         "-c:v prores_ks -profile:v 4444 -pix_fmt yuva444p10le",
         "rgba64le", "gbrap16le"},
        {"ffv1.mkv", "-c:v ffv1 -pix_fmt gbrp16le", "rgba64le", "gbrap16le"},
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string in = dir / c.name;
        MakeTestMovie(in, c.codec_options, 12);
        const std::string out = dir / (std::string("tool-") + c.name + ".mkv");
        const RunResult tool =
            RunTool(With({in, "-o", out, "--codec", "ffv1", "--pix-fmt", c.encoded}, kSteps));
        ASSERT_EQ(tool.exit_code, 0) << tool.err;

        const std::string piped = dir / (std::string("pipe-") + c.name + ".mkv");
        Output(kFfmpeg + " -v error -noautorotate -i '" + in + "' -f rawvideo -pix_fmt " + c.raw +
               " - | " +
               ShellWords(ToolArgv(With({"--raw", "64x48", "--pix-fmt", c.raw}, kSteps))) + " | " +
               kFfmpeg + " -v error -y -f rawvideo -pix_fmt " + c.raw +
               " -s 64x48 -r 25 -i - -c:v ffv1 -pix_fmt " + c.encoded + " '" + piped + "'");
        // Decoded samples, frame for frame (framemd5 also lists each pts).
        const auto frames = [&](const std::string& movie) {
            std::istringstream md5(Output(kFfmpeg + " -v error -i '" + movie +
                                          "' -map 0:v -f framemd5 -fps_mode passthrough -"));
            // The hashes alone: the two routes' time bases differ.
            std::vector<std::string> hashes;
            for (std::string line; std::getline(md5, line);) {
                if (!line.empty() && line[0] != '#')
                    hashes.push_back(line.substr(line.rfind(',') + 2));
            }
            return hashes;
        };
        EXPECT_EQ(frames(out), frames(piped));
        EXPECT_EQ(frames(out).size(), 12u);

        // The sound's packets as they were, and the timing and tags of the input.
        const auto audio = [&](const std::string& movie) {
            return Output(kFfmpeg + " -v error -i '" + movie + "' -map 0:a -c copy -f md5 -");
        };
        EXPECT_EQ(audio(out), audio(in));
        // ffprobe's lines of `what`, without the empty fields and lines its
        // side-data sections add.
        const auto probe = [&](const std::string& movie, const std::string& what) {
            std::istringstream text(Output(kFfprobe + " -v error -select_streams v:0 " +
                                           "-show_entries " + what + " -of csv=p=0 '" + movie +
                                           "'"));
            std::vector<std::string> lines;
            for (std::string line; std::getline(text, line);) {
                while (!line.empty() && line.back() == ',') line.pop_back();
                if (!line.empty()) lines.push_back(line);
            }
            return lines;
        };
        // (The matrix is "gbr" for FFV1's RGB: the input's YCbCr matrix
        // does not describe RGB samples.)
        EXPECT_EQ(probe(out, "stream=r_frame_rate,color_primaries,color_transfer"),
                  probe(in, "stream=r_frame_rate,color_primaries,color_transfer"));
        EXPECT_EQ(probe(out, "frame=pts_time"), probe(in, "frame=pts_time"));
    }
}

TEST(ToolMovie, ByDefaultTheInputsCodecAndPixelFormat) {
    if (kFfmpeg.empty()) GTEST_SKIP() << "ffmpeg not installed (scripts/install-deps.sh render)";
    ScratchDir dir;
    MakeTestMovie(dir / "in.mp4", "-c:v libx264 -pix_fmt yuv420p", 6);
    MakeTestMovie(dir / "in.mov", "-c:v prores_ks -profile:v 4444 -pix_fmt yuva444p10le", 6);
    const auto codec = [&](const std::string& movie) {
        return Output(kFfprobe + " -v error -select_streams v:0 -show_entries " +
                      "stream=codec_name,pix_fmt -of csv=p=0 '" + movie + "'");
    };
    for (const auto& [in, out] : {std::pair{"in.mp4", "out.mp4"}, std::pair{"in.mp4", "out.mkv"},
                                  std::pair{"in.mov", "out.mov"}, std::pair{"in.mov", "out.mkv"}}) {
        const RunResult result = RunTool(With({dir / in, "-o", dir / out}, kSteps));
        ASSERT_EQ(result.exit_code, 0) << result.err;
        EXPECT_EQ(codec(dir / out), codec(dir / in)) << in << " into " << out;
    }
}

TEST(ToolMovie, IntoImageFilesEveryFrameOrNone) {
    if (kFfmpeg.empty()) GTEST_SKIP() << "ffmpeg not installed (scripts/install-deps.sh render)";
    ScratchDir dir;
    MakeTestMovie(dir / "in.mp4", "-c:v libx264 -pix_fmt yuv420p", 50);
    const RunResult refused = RunTool({dir / "in.mp4", "-o", dir / "one.png"});
    EXPECT_EQ(refused.exit_code, 2);
    EXPECT_NE(refused.err.find("holds 50 frames"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("--frames N"), std::string::npos) << refused.err;
    ASSERT_EQ(RunTool(With({dir / "in.mp4", "-o", dir / "f.####.png"}, kSteps)).exit_code, 0);
    ASSERT_EQ(
        RunTool(With({dir / "in.mp4", "-o", dir / "pick.png", "--frames", "17"}, kSteps)).exit_code,
        0);
    std::vector<std::string> files = dir.Files();
    EXPECT_EQ(files.size(), 52u);  // the movie, 50 frames and the picked one
    EXPECT_EQ(files[0], "f.0001.png");
    EXPECT_EQ(files[49], "f.0050.png");
    EXPECT_EQ(ReadFilePixels(dir / "pick.png").values, ReadFilePixels(dir / "f.0017.png").values);
    // One movie into a folder keeps its name there.
    fs::create_directory(dir / "folder");
    ASSERT_EQ(RunTool({dir / "in.mp4", "-o", dir / "folder/", "-q"}).exit_code, 0);
    EXPECT_TRUE(fs::exists(dir / "folder/in.mp4"));
}

TEST(ToolMovie, AMovieCutShortFailsInOneLineAndLeavesNothing) {
    if (kFfmpeg.empty()) GTEST_SKIP() << "ffmpeg not installed (scripts/install-deps.sh render)";
    ScratchDir dir;
    // Matroska's header comes first, so the cut shows only after 29 frames.
    MakeTestMovie(dir / "whole.mkv", "-c:v ffv1", 50);
    const std::string bytes = ReadFile(dir / "whole.mkv");
    WriteFile(dir / "cut.mkv", bytes.substr(0, bytes.size() * 6 / 10));
    fs::remove(dir / "whole.mkv");
    for (const char* out : {"out.mkv", "out.####.png"}) {
        const RunResult result = RunTool({dir / "cut.mkv", "-o", dir / out, "-q"});
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_NE(result.err.find("cut.mkv: frame "), std::string::npos) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
    // The frames before the cut stay as files; the movie is not written at all.
    EXPECT_FALSE(fs::exists(dir / "out.mkv"));
    for (const std::string& name : dir.Files()) EXPECT_NE(name[0], '.') << name;
}

TEST(ToolMovie, AnInterruptLeavesNoMovieAndNoTemporary) {
    if (kFfmpeg.empty()) GTEST_SKIP() << "ffmpeg not installed (scripts/install-deps.sh render)";
    ScratchDir dir;
    MakeTestMovie(dir / "whole.mkv", "-c:v libx264 -pix_fmt yuv420p", 50);
    // The movie arrives through a pipe that stops in the middle: the tool
    // has its output's temporary open and waits for more when the signal comes.
    ASSERT_EQ(::mkfifo((dir / "in.mkv").c_str(), 0600), 0);
    Process tool(ToolArgv({dir / "in.mkv", "-o", dir / "out.mkv"}), {});
    // Opened without blocking, so a tool that never reads cannot hang the test.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int pipe = -1;
    while (pipe < 0 && std::chrono::steady_clock::now() < deadline) {
        pipe = ::open((dir / "in.mkv").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (pipe < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GE(pipe, 0) << "the tool never opened its input";
    ::fcntl(pipe, F_SETFL, O_WRONLY);
    const std::string bytes = ReadFile(dir / "whole.mkv");
    ASSERT_EQ(::write(pipe, bytes.data(), bytes.size() * 6 / 10), ssize_t(bytes.size() * 6 / 10));
    const auto temporary = [&] {
        for (const std::string& name : dir.Files()) {
            if (name.rfind(".out.mkv.vemra-", 0) == 0) return true;
        }
        return false;
    };
    while (!temporary() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(temporary());
    ::kill(tool.pid(), SIGTERM);
    const RunResult result = tool.Wait();
    ::close(pipe);
    EXPECT_EQ(result.signal, SIGTERM) << result.exit_code << " " << result.err;
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"in.mkv", "whole.mkv"}));
}

/// The frames of `movie` as ffmpeg decodes them at its defaults, in `pix_fmt`.
std::string DecodedFrames(const std::string& movie, const std::string& pix_fmt) {
    return Output(kFfmpeg + " -v error -i '" + movie + "' -map 0:v -f rawvideo -pix_fmt " +
                  pix_fmt + " -");
}

/// The largest difference between the 16-bit little-endian samples `a` and `b`.
int LargestDifference(const std::string& a, const std::string& b) {
    int largest = 0;
    for (std::size_t i = 0; i + 1 < std::min(a.size(), b.size()); i += 2) {
        const auto sample = [&](const std::string& s) {
            return int(static_cast<unsigned char>(s[i])) | int(static_cast<unsigned char>(s[i + 1]))
                                                               << 8;
        };
        largest = std::max(largest, std::abs(sample(a) - sample(b)));
    }
    return largest;
}

TEST(ToolMovie, ASequenceIntoAMovieIsFfmpegsRouteFromTheRenderedFrames) {
    if (kFfmpeg.empty()) GTEST_SKIP() << "ffmpeg not installed (scripts/install-deps.sh render)";
    ScratchDir dir;
    // Six frames: 8-bit PNG, with alpha, and half-float OpenEXR whose
    // headers carry a rate and a timecode.
    Output(kFfmpeg + " -v error -f lavfi -i testsrc2=size=320x240 -frames:v 6 -start_number " +
           "1001 '" + (dir / "p.%04d.png") + "'");
    Output(kFfmpeg + " -v error -f lavfi -i testsrc2=size=320x240 -frames:v 6 -vf " +
           "format=rgba,colorchannelmixer=aa=0.5 -start_number 1001 '" + (dir / "a.%04d.png") +
           "'");
    for (int n = 1001; n <= 1006; ++n) {
        Output(
            fmt::format("oiiotool '{0}/p.{1}.png' --attrib:type=timecode smpte:TimeCode "
                        "01:00:00:{2:02} --attrib:type=rational FramesPerSecond 25/1 -d half "
                        "-o '{0}/e.{1}.exr'",
                        dir.path().string(), n, n - 1001 + 10));
    }
    struct Row {
        std::string input, output;
        std::vector<std::string> options;  ///< the tool's
        std::string encoder;               ///< ffmpeg's, the same
        std::string pix_fmt, rate, timecode, says;
        int tolerance;  ///< 0: lossless on both routes, the samples equal
    };
    const Row rows[] = {
        {"p",
         "seq.mkv",
         {"--codec", "ffv1", "--pix-fmt", "yuv420p"},
         "-c:v ffv1",
         "yuv420p",
         "24/1",
         "",
         "written at 24 frames a second",
         0},
        {"p",
         "seq.mp4",
         {"--codec", "libx264", "--quality", "0", "--frame-rate", "24000/1001"},
         "-c:v libx264 -crf 0",
         "yuv444p",
         "24000/1001",
         "",
         "",
         0},
        // The policy's default in mov: ProRes 422 HQ, which decodes within its noise.
        {"e",
         "seq.mov",
         {},
         "-c:v prores_ks -profile:v hq",
         "yuv422p10le",
         "25/1",
         "01:00:00:10",
         "no view transform",
         16},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.output);
        const std::string ending = row.input == "e" ? "exr" : "png";
        const std::string pattern = dir / (row.input + ".####." + ending);
        const std::string out = dir / row.output;
        const RunResult tool = RunTool(With(With({pattern, "-o", out}, row.options), kSteps));
        ASSERT_EQ(tool.exit_code, 0) << tool.err;
        EXPECT_NE(tool.err.find(row.says), std::string::npos) << tool.err;
        // ffmpeg's route from the same frames rendered into files.
        const std::string rendered = "r-" + row.output + ".%04d." + ending;
        ASSERT_EQ(RunTool(With({pattern, "-o", dir / rendered, "-q"}, kSteps)).exit_code, 0);
        const std::string theirs = dir / ("ffmpeg-" + row.output);
        Output(kFfmpeg + " -v error -framerate " + row.rate + " -start_number 1001 -i '" +
               (dir / rendered) + "' -vf scale=out_color_matrix=bt709:out_range=tv,format=" +
               row.pix_fmt + " -colorspace bt709 -color_primaries bt709 -color_trc bt709 " +
               "-color_range tv " + row.encoder + " '" + theirs + "'");
        const std::string what =
            "-count_frames -show_entries stream=nb_read_frames,r_frame_rate,pix_fmt";
        EXPECT_EQ(Ffprobe(out, what), Ffprobe(theirs, what));
        EXPECT_EQ(Ffprobe(out, "-show_entries stream=nb_read_frames -count_frames"), "6\n");
        EXPECT_EQ(Ffprobe(out,
                          "-show_entries stream=color_range,color_space,color_transfer,"
                          "color_primaries"),
                  "tv,bt709,bt709,bt709\n");
        EXPECT_EQ(Ffprobe(out, "-show_entries stream_tags=timecode"),
                  row.timecode.empty() ? "" : row.timecode + "\n");
        const std::string ours_frames = DecodedFrames(out, row.pix_fmt);
        const std::string their_frames = DecodedFrames(theirs, row.pix_fmt);
        ASSERT_EQ(ours_frames.size(), their_frames.size());
        if (row.tolerance == 0) {
            EXPECT_TRUE(ours_frames == their_frames);
        } else {
            EXPECT_LE(LargestDifference(ours_frames, their_frames), row.tolerance);
        }
    }
    // Frames with alpha take ProRes 4444 in mov, and keep it.
    ASSERT_EQ(RunTool({dir / "a.####.png", "-o", dir / "alpha.mov", "-q"}).exit_code, 0);
    EXPECT_EQ(Ffprobe(dir / "alpha.mov", "-show_entries stream=profile,pix_fmt"),
              "4444,yuva444p12le\n");
    // A DPX header's rate, a float, is read as the NTSC ratio it stands for;
    // its timecode is the movie's.
    for (int n = 1001; n <= 1003; ++n) {
        Output(
            fmt::format("oiiotool '{0}/p.{1}.png' --attrib:type=timecode smpte:TimeCode "
                        "10:00:00:00 --attrib:type=float dpx:FrameRate 23.976 -d uint10 "
                        "-o '{0}/d.{1}.dpx'",
                        dir.path().string(), n));
    }
    ASSERT_EQ(RunTool({dir / "d.####.dpx", "-o", dir / "dpx.mov", "-q"}).exit_code, 0);
    EXPECT_EQ(Ffprobe(dir / "dpx.mov", "-show_entries stream=r_frame_rate:stream_tags=timecode"),
              "24000/1001,10:00:00:00\n");
    // A GIF's frame delays are kept as its frames' times (here 0.1 s, then 0.4 s).
    Output(kFfmpeg + " -v error -f lavfi -i testsrc2=size=64x48:rate=10 -frames:v 5 -vf " +
           "\"setpts=PTS+if(gte(N\\,3)\\,3)\" -fps_mode passthrough '" + (dir / "uneven.gif") +
           "'");
    ASSERT_EQ(RunTool({dir / "uneven.gif", "-o", dir / "uneven.mkv", "-q"}).exit_code, 0);
    EXPECT_EQ(Ffprobe(dir / "uneven.mkv", "-show_entries frame=pts_time"),
              Ffprobe(dir / "uneven.gif", "-show_entries frame=pts_time"));
    EXPECT_NE(Ffprobe(dir / "uneven.gif", "-show_entries frame=pts_time").find("0.600000"),
              std::string::npos);
    // A folder's images in the order of their names.
    fs::create_directory(dir / "folder");
    for (const char* n : {"1001", "1002", "1003"}) {
        fs::copy_file(dir / fmt::format("p.{}.png", n), dir / fmt::format("folder/{}.png", n));
    }
    ASSERT_EQ(RunTool({dir / "folder", "-o", dir / "folder.mkv", "-q"}).exit_code, 0);
    EXPECT_EQ(Ffprobe(dir / "folder.mkv", "-count_frames -show_entries stream=nb_read_frames"),
              "3\n");
    // Refused before any output: a hole in the frames, farm chunks, a part
    // of a sequence by time, a rate or a matrix that does not read.
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"--frames", "1001-1008"}, "frame(s) 1007, 1008"},
        {{"--chunk", "2", "--print-tasks"}, "a movie is one task"},
        {{"--start", "1"}, "--frames picks its frames"},
        {{"--frame-rate", "fast"}, "--frame-rate fast"},
        {{"--color-matrix", "bt999"}, "--color-matrix bt999"},
    };
    for (const auto& [options, says] : refused) {
        const RunResult result =
            RunTool(With({dir / "p.####.png", "-o", dir / "refused.mov"}, options));
        EXPECT_EQ(result.exit_code, 2) << result.err;
        EXPECT_NE(result.err.find(says), std::string::npos) << result.err;
    }
    EXPECT_FALSE(fs::exists(dir / "refused.mov"));
}

TEST(ToolMovie, ASoundFileIsLaidInFromTheFirstFrameAnOffsetOrItsTimecode) {
    if (kFfmpeg.empty()) GTEST_SKIP() << "ffmpeg not installed (scripts/install-deps.sh render)";
    ScratchDir dir;
    MakeTestMovie(dir / "in.mov", "-c:v ffv1 -timecode 01:00:00:00", 10);
    // Half a second of tone; a broadcast wave of it whose time reference
    // lies 0.2 s (9600 samples) before the movie's timecode.
    const std::string tone = kFfmpeg + " -v error -f lavfi -i sine=frequency=1000:sample_rate=" +
                             "48000 -t 0.5 -c:a pcm_s24le ";
    Output(tone + "'" + (dir / "tone.wav") + "'");
    Output(tone + "-write_bext 1 -metadata time_reference=" + std::to_string(3600 * 48000 - 9600) +
           " '" + (dir / "bwf.wav") + "'");
    struct Row {
        std::string sound, output;
        std::vector<std::string> options;
        std::string codec;  ///< of the output's sound
        long samples;       ///< decoded after the first frame
        std::string says;
    };
    const Row rows[] = {
        {"tone.wav", "copied.mov", {}, "pcm_s24le", 24000, "lasts 0.500 s, the video 0.400 s"},
        {"tone.wav", "late.mov", {"--audio-offset", "0.2"}, "pcm_s24le", 24000, ""},
        {"tone.wav", "early.mov", {"--audio-offset", "-0.2"}, "pcm_s24le", 14400, ""},
        {"bwf.wav", "timecode.mov", {}, "pcm_s24le", 14400, "placed by timecode"},
        {"tone.wav", "converted.mp4", {}, "aac", -1, "converted to aac"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.output);
        const RunResult result =
            RunTool(With({dir / "in.mov", "--audio-file", dir / row.sound, "-o", dir / row.output},
                         row.options));
        ASSERT_EQ(result.exit_code, 0) << result.err;
        EXPECT_NE(result.err.find(row.says), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("in.mov is left out"), std::string::npos) << result.err;
        // One sound stream, the file's, in place of the movie's own.
        EXPECT_EQ(Ffprobe(dir / row.output, "-show_entries stream=codec_name", "a"),
                  row.codec + "\n");
        if (row.samples < 0) continue;
        const std::string pcm =
            Output(kFfmpeg + " -v error -i '" + (dir / row.output) + "' -map 0:a -f s24le -");
        EXPECT_EQ(long(pcm.size() / 3), row.samples);
        // A later start is a later stream start; the samples are the file's own.
        if (row.output == "late.mov") {
            EXPECT_EQ(Ffprobe(dir / row.output, "-show_entries stream=start_time", "a"),
                      "0.200000\n");
        }
    }
    EXPECT_EQ(RunTool({dir / "in.mov", "--audio-offset", "1", "-o", dir / "x.mov"}).exit_code, 2);
    EXPECT_EQ(RunTool({dir / "in.mov", "--audio-file", dir / "in.mov.txt", "-o", dir / "x.mov"})
                  .exit_code,
              1);
}

}  // namespace
}  // namespace render_test
