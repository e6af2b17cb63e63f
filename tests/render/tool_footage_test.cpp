// Movies as cameras, phones, broadcast and post houses deliver them, each
// made by ffmpeg (movie_fixtures.h), through the tool, as conformance tables:
// a row a behaviour, each reading back with ffprobe and ffmpeg at their
// defaults what the output holds (start times, every frame's timestamp, the
// display matrix, field order and frame flags, HDR10 metadata, the codec
// tag, captions, colour tags in the frames and the container, profiles and
// rates, the streams and their codecs), its pixels against the pipe route
// or ffmpeg's own decode, a note or a refusal.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>

#include "movie_fixtures.h"
#include "tool_runner.h"

namespace render_test {
namespace {

namespace fs = std::filesystem;

const std::string kFfmpeg = VEMRA_FFMPEG;

TEST(ToolFootage, TimingOrientationFieldsHdrAndCaptionsAreKeptConvertedOrRefused) {
    if (kFfmpeg.empty()) GTEST_SKIP() << "ffmpeg not installed (scripts/install-deps.sh render)";
    ScratchDir dir;
    const bool x265 = HasEncoder("libx265");

    const std::string timing = "-show_entries stream=start_time,duration:frame=pts,pkt_duration";
    const std::string orientation = "-show_entries stream=width,height:stream_side_data=rotation";
    const std::string fields =
        "-show_entries stream=field_order:frame=interlaced_frame,"
        "top_field_first";
    const std::string hdr = "-show_entries stream=codec_tag_string";
    const std::string captions = "-show_entries frame_side_data=side_data_type";
    struct Row {
        std::string input, output;
        std::string probe;          ///< what must read the same of input and output
        std::string expected = "";  ///< else, what the output must read
        std::string says = "";      ///< on standard error
        int status = 0;
    };
    std::vector<Row> rows = {
        {"offset.mp4", "offset-out.mp4", timing},
        {"offset.mov", "offset-out.mov", timing},
        {"offset.mkv", "offset-out.mkv", timing},
        {"vfr.mkv", "vfr-out.mkv", "-show_entries frame=pts"},
        {"vfr.mkv", "vfr-out.mxf", "", "", "not evenly spaced", 2},
        {"rotated.mp4", "rotated-out.mp4", orientation},
        {"rotated.mp4", "rotated-out.mkv", "", "48,64\n", "turned upright"},
        {"rotated.mp4", "rotated-out.%02d.png", "", "48,64\n", "turned upright"},
        {"interlaced.mxf", "interlaced-out.mxf", fields},
        {"interlaced.mov", "interlaced-out.mov", fields},
        {"captions.mp4", "captions-out.mp4", captions},
    };
    if (x265) rows.push_back({"hdr10.mp4", "hdr10-out.mp4", hdr});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.input + " -> " + row.output);
        const std::string input = MovieFixture(row.input);
        const RunResult result = RunTool({input, "-o", dir / row.output});
        ASSERT_EQ(result.exit_code, row.status) << result.err;
        EXPECT_NE(result.err.find(row.says), std::string::npos) << result.err;
        if (row.status != 0) continue;
        const std::string written = row.output.find('%') == std::string::npos
                                        ? dir / row.output
                                        : dir / "rotated-out.01.png";
        if (!row.probe.empty()) {
            EXPECT_EQ(Ffprobe(written, row.probe), Ffprobe(input, row.probe));
        } else {
            EXPECT_EQ(Ffprobe(written, "-show_entries stream=width,height"), row.expected);
            // No display matrix: no rotation to read.
            EXPECT_EQ(Ffprobe(written, "-show_entries stream_side_data=rotation"), "");
        }
    }
    // HDR10's metadata came on the source's frames; the output carries it on
    // its stream (for players) and on its frames (x265 wrote it).
    if (x265) {
        const std::string first_frame = "-read_intervals %+#1 -show_entries frame_side_data";
        std::istringstream given(Ffprobe(MovieFixture("hdr10.mp4"), first_frame));
        const std::string stream = Ffprobe(dir / "hdr10-out.mp4", "-show_entries stream_side_data");
        const std::string frame = Ffprobe(dir / "hdr10-out.mp4", first_frame);
        int found = 0;
        for (std::string line; std::getline(given, line);) {
            if (line.rfind("Mastering display", 0) != 0 && line.rfind("Content light", 0) != 0) {
                continue;
            }
            ++found;
            EXPECT_NE(stream.find(line), std::string::npos) << line << "\n" << stream;
            EXPECT_NE(frame.find(line), std::string::npos) << line << "\n" << frame;
        }
        EXPECT_EQ(found, 2);
    }
    // Every frame's time kept, none shared: the frames are not on a 40 ms grid.
    const std::string pts = Ffprobe(dir / "vfr-out.mkv", "-show_entries frame=pts");
    EXPECT_NE(pts.find("\n51\n"), std::string::npos) << pts;

    // A turned frame is the frame ffmpeg turns, through the effect: the pipe
    // route, which ffmpeg turns as it decodes.
    const std::vector<std::string> steps = {"--temperature", "0.6", "--magenta", "-0.3"};
    const std::string rotated = MovieFixture("rotated.mp4");
    ASSERT_EQ(RunTool(With({rotated, "--frames", "3", "-o", dir / "turned.png"}, steps)).exit_code,
              0);
    const RunResult piped = RunShell(
        kFfmpeg + " -v error -i '" + rotated +
        "' -frames:v 3 -f rawvideo -pix_fmt rgba - | tail -c " + std::to_string(48 * 64 * 4) +
        " | " + ShellWords(ToolArgv(With({"--raw", "48x64", "--pix-fmt", "rgba"}, steps))) +
        " > '" + (dir / "turned.rgba") + "'");
    ASSERT_EQ(piped.exit_code, 0) << piped.err;
    const FilePixels turned = ReadFilePixels(dir / "turned.png");
    const std::string raw = ReadFile(dir / "turned.rgba");
    ASSERT_EQ(turned.channels, 3);
    ASSERT_EQ(std::size_t(turned.width * turned.height * 4), raw.size());
    for (std::size_t p = 0; p < raw.size() / 4; ++p) {
        for (std::size_t c = 0; c < 3; ++c) {
            ASSERT_EQ(turned.values[3 * p + c], double(static_cast<unsigned char>(raw[4 * p + c])))
                << "pixel " << p;
        }
    }
}

/// Every frame of `movie` as ffmpeg decodes it at its defaults, as RGBA.
std::string DecodedRgba(const std::string& movie, const std::string& options = "") {
    const RunResult result = RunShell(kFfmpeg + " -v error " + options + " -i '" + movie +
                                      "' -map 0:v:0 -f rawvideo -pix_fmt rgba -");
    EXPECT_EQ(result.exit_code, 0) << result.err;
    return result.out;
}

/// The peak signal-to-noise ratio of the colour channels of RGBA `got`
/// against `expected`, in dB; 0 when their sizes differ.
double ColourPsnr(const std::string& got, const std::string& expected) {
    if (got.size() != expected.size() || got.empty()) return 0;
    double squares = 0;
    std::size_t count = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (i % 4 == 3) continue;
        const double d = double(static_cast<unsigned char>(got[i])) -
                         double(static_cast<unsigned char>(expected[i]));
        squares += d * d;
        ++count;
    }
    return squares == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * double(count) / squares);
}

/// The alpha plane of `movie` as libvpx's VP9 decoder gives it (FFmpeg's
/// own drops it).
std::string Vp9Alpha(const std::string& movie) {
    return RunShell(kFfmpeg + " -v error -c:v libvpx-vp9 -i '" + movie +
                    "' -vf alphaextract -f rawvideo -pix_fmt gray -")
        .out;
}

TEST(ToolFootage, TheSourcesFormatItsColoursItsOtherStreamsAndWholeFilesAsFfmpegReadsThem) {
    if (kFfmpeg.empty()) GTEST_SKIP() << "ffmpeg not installed (scripts/install-deps.sh render)";
    ScratchDir dir;
    const std::vector<std::string> steps = {"--temperature", "0.4", "--magenta", "-0.2"};
    // The frames the pipe route renders: ffmpeg decodes, the tool renders raw RGBA.
    const auto pipe_route = [&](const std::string& input) {
        const RunResult piped =
            RunShell(kFfmpeg + " -v error -i '" + input + "' -f rawvideo -pix_fmt rgba - | " +
                     ShellWords(ToolArgv(With({"--raw", "320x240", "--pix-fmt", "rgba"}, steps))));
        EXPECT_EQ(piped.exit_code, 0) << piped.err;
        return piped.out;
    };
    const std::string bt709 = "bt709,bt709,bt709\n";
    using Check = std::function<void(const std::string& input, const std::string& output)>;
    struct Row {
        std::string input, output;  ///< a fixture, and a name in the scratch folder
        std::vector<std::string> args;
        std::string says;  ///< on standard error: a note, the summary or the refusal
        int status = 0;
        Check check = {};
    };
    // clang-format off
    const std::vector<Row> rows = {
        // Colour tags in the coded frames (prores_ks reads the frames'), and
        // in the container alone for DNxHR; the pixels decode as rendered.
        {"h264-bt709.mp4", "prores.mov", With({"--codec", "prores_ks"}, steps), "", 0,
         [&](const std::string& in, const std::string& out) {
             EXPECT_EQ(Ffprobe(out, "-read_intervals %+#1 -show_entries "
                                    "frame=color_primaries,color_transfer,color_space"), bt709);
             EXPECT_GT(ColourPsnr(DecodedRgba(out), pipe_route(in)), 40);
         }},
        {"h264-bt709.mp4", "dnxhr.mov", With({"--codec", "dnxhd"}, steps), "DNxHR HQ", 0,
         [&](const std::string& in, const std::string& out) {
             EXPECT_EQ(Ffprobe(out, "-show_entries stream=color_primaries,color_transfer,"
                                    "color_space"), bt709);
             EXPECT_GT(ColourPsnr(DecodedRgba(out), pipe_route(in)), 40);
         }},
        // The source's profile, or its rate for a format defined by its
        // rate; ProRes into MXF, whose muxer takes none, as the nearest DNxHR.
        {"prores-lt.mov", "lt.mov", {}, "ProRes 422 LT", 0,
         [&](const std::string&, const std::string& out) {
             EXPECT_EQ(Ffprobe(out, "-show_entries stream=codec_name,profile"), "prores,LT\n");
         }},
        {"dnxhr-hqx.mov", "hqx.mov", {}, "DNxHR HQX", 0,
         [&](const std::string&, const std::string& out) {
             EXPECT_EQ(Ffprobe(out, "-show_entries stream=profile,pix_fmt"),
                       "DNXHR HQX,yuv422p10le\n");
         }},
        {"mpeg2-422.mxf", "rate.mxf", {}, "45 Mb/s", 0,
         [&](const std::string&, const std::string& out) {
             EXPECT_EQ(Ffprobe(out, "-show_entries stream=profile:stream_side_data=max_bitrate"),
                       "4:2:2,45000000\n");
         }},
        {"prores-lt.mov", "nearest.mxf", {}, "MXF cannot hold prores video", 0,
         [&](const std::string&, const std::string& out) {
             EXPECT_EQ(Ffprobe(out, "-show_entries stream=codec_name,profile"), "dnxhd,DNXHR SQ\n");
         }},
        // 4:2:2 10-bit H.264 at an AVC-Intra size: avc1, and every frame decodes.
        {"avc-intra-size.mp4", "avc.mov", {}, "", 0,
         [&](const std::string&, const std::string& out) {
             EXPECT_EQ(Ffprobe(out, "-count_frames -show_entries stream=codec_tag_string,"
                                    "nb_read_frames"), "avc1,10\n");
         }},
        // A start the container cannot hold: video and sound start at 0 together.
        {"start10.mov", "start.avi", {}, "every stream moved together", 0,
         [&](const std::string&, const std::string& out) {
             // Every frame of the 0.4 s clip within its first half second.
             std::istringstream times(
                 Ffprobe(out, "-show_entries frame=best_effort_timestamp_time"));
             int frames = 0;
             for (std::string time; std::getline(times, time); ++frames) {
                 char* end = nullptr;
                 const double seconds = std::strtod(time.c_str(), &end);
                 EXPECT_TRUE(end != time.c_str() && *end == '\0' && seconds < 0.5)
                     << "frame " << frames << " at " << time;
             }
             EXPECT_EQ(frames, 10);
             EXPECT_EQ(Ffprobe(out, "-show_entries stream=start_time", "a"), "0.000000\n");
         }},
        // Opus's codec delay counted once: a second pass moves nothing.
        {"opus.mkv", "pass1.mkv", {}, "", 0,
         [&](const std::string& in, const std::string& out) {
             ASSERT_EQ(RunTool({out, "-o", dir / "pass2.mkv"}).exit_code, 0);
             for (const char* stream : {"v", "a"}) {
                 const std::string stamps = "-show_entries frame=pts";
                 EXPECT_EQ(Ffprobe(dir / "pass2.mkv", stamps, stream), Ffprobe(out, stamps, stream));
                 EXPECT_EQ(Ffprobe(out, stamps, stream), Ffprobe(in, stamps, stream));
             }
         }},
        // Alpha kept where the output holds it; dropped with a note, and no
        // stale mark of it, where it does not.
        {"vp9-alpha.webm", "alpha.webm", {}, "", 0,
         [&](const std::string& in, const std::string& out) {
             const std::string given = Vp9Alpha(in), kept = Vp9Alpha(out);
             ASSERT_EQ(kept.size(), given.size());
             ASSERT_FALSE(kept.empty());
             double difference = 0;
             for (std::size_t i = 0; i < kept.size(); ++i) {
                 difference += std::abs(double(static_cast<unsigned char>(kept[i])) -
                                        double(static_cast<unsigned char>(given[i])));
             }
             EXPECT_LT(difference / double(kept.size()), 2.0);
         }},
        {"vp9-alpha.webm", "opaque.webm", {"--pix-fmt", "yuv420p"}, "alpha of", 0,
         [&](const std::string&, const std::string& out) {
             EXPECT_EQ(Ffprobe(out, "-show_entries stream_tags=alpha_mode"), "");
         }},
        // Sound and text subtitles the container cannot hold are converted;
        // subtitles it has no text format for are left out, with a note.
        {"pcm44.mov", "sound.mp4", {}, "converted to aac", 0,
         [&](const std::string&, const std::string& out) {
             EXPECT_EQ(Ffprobe(out, "-show_entries stream=codec_name,sample_rate", "a"),
                       "aac,44100\n");
         }},
        {"pcm44.mov", "sound.mxf", {}, "at 48000 Hz", 0,
         [&](const std::string&, const std::string& out) {
             EXPECT_EQ(Ffprobe(out, "-show_entries stream=codec_name,sample_rate", "a"),
                       "pcm_s24le,48000\n");
             // H.264 into MXF, which stores no composition times: coded in
             // display order, every frame reads back at its time.
             std::istringstream times(Ffprobe(out, "-show_entries frame=best_effort_timestamp_time"));
             int frame = 0;
             for (std::string time; std::getline(times, time); ++frame) {
                 EXPECT_EQ(time, fmt::format("{:.6f}", 0.04 * frame));
             }
             EXPECT_EQ(frame, 10);
         }},
        {"vorbis.mkv", "vorbis.ts", {}, "converted to mp2", 0,
         [&](const std::string&, const std::string& out) {
             // (ffprobe lists a transport stream's streams twice: in its program too.)
             EXPECT_EQ(Ffprobe(out, "-show_entries stream=codec_name", "a"), "mp2\nmp2\n");
             EXPECT_EQ(Ffprobe(out, "-show_entries stream=start_time"), "1.500000\n1.500000\n");
         }},
        {"subrip.mkv", "subtitles.mp4", {}, "converted to mov_text", 0,
         [&](const std::string&, const std::string& out) {
             const RunResult text = RunShell(kFfmpeg + " -v error -i '" + out + "' -map 0:s -f srt -");
             EXPECT_NE(text.out.find("00:00:00,000 --> 00:00:00,200\nHello"), std::string::npos)
                 << text.out << text.err;
         }},
        {"subrip.mkv", "subtitles.ts", {}, "left out: MPEG-TS holds no text subtitles", 0,
         [&](const std::string&, const std::string& out) {
             EXPECT_EQ(Ffprobe(out, "-show_entries stream=index", "s"), "");
         }},
        // Streams that are not held to the file's duration: a chapter track
        // (of the tool's own output too), cover art, attachments.
        {"chapters.mp4", "chapters.mp4", {}, "", 0,
         [&](const std::string& in, const std::string& out) {
             EXPECT_EQ(Ffprobe(out, "-show_chapters", ""), Ffprobe(in, "-show_chapters", ""));
             const RunResult again = RunTool({out, "-o", dir / "chapters-again.mp4"});
             EXPECT_EQ(again.exit_code, 0) << again.err;
         }},
        {"cover.mp4", "cover.mp4", {}, "", 0},
        {"font.mkv", "font.mkv", {}, "", 0,
         [&](const std::string&, const std::string& out) {
             EXPECT_EQ(Ffprobe(out, "-show_entries stream=codec_name:stream_tags=filename", "t"),
                       "ttf,font.ttf\n");
         }},
        // An animated GIF's frames with their disposal, as ffmpeg decodes them.
        {"animated.gif", "gif.%02d.png", {"--temperature", "0"}, "", 0,
         [&](const std::string& in, const std::string&) {
             const std::string ffmpeg = DecodedRgba(in);
             const FilePixels third = ReadFilePixels(dir / "gif.03.png");
             ASSERT_EQ(third.channels, 4);
             const auto bytes = std::size_t(third.width * third.height * 4);
             ASSERT_GE(ffmpeg.size(), 3 * bytes);
             for (std::size_t i = 0; i < bytes; ++i) {
                 ASSERT_EQ(third.values[i], double(static_cast<unsigned char>(ffmpeg[2 * bytes + i])))
                     << "sample " << i;
             }
         }},
        // A program stream at a constant rate, with frames the file gives no
        // time: counted in frames, into every container.
        {"dvd.mpg", "dvd.mkv", {}, "", 0},
        {"dvd.mpg", "dvd.mpg", {}, "", 0},
        // An odd height where the encoder takes it; refused in one line
        // where it does not.
        {"odd-height.mov", "odd.mov", {}, "", 0,
         [&](const std::string&, const std::string& out) {
             EXPECT_EQ(Ffprobe(out, "-show_entries stream=codec_name,height"), "mpeg2video,241\n");
         }},
        {"odd-height.mov", "odd.mp4", {"--codec", "libx264"}, "--pix-fmt", 2},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.input + " -> " + row.output);
        const std::string input = MovieFixture(row.input);
        const std::string output = dir / row.output;
        // Encoders on several threads, as on any machine of more than one
        // CPU: dnxhd's threads refused a profile that did not fit.
        const RunResult result = RunTool(With({input, "-o", output}, row.args),
                                         {.environment = {"VEMRA_CODEC_THREADS=3"}});
        // A row that fails leaves the others to run.
        EXPECT_EQ(result.exit_code, row.status) << result.err;
        if (result.exit_code != row.status) continue;
        EXPECT_NE(result.err.find(row.says), std::string::npos) << result.err;
        if (row.status != 0) {
            EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
            continue;
        }
        // Whatever is claimed, ffmpeg decodes without a word at its defaults.
        if (row.output.find('%') == std::string::npos) {
            const RunResult decoded = RunShell(kFfmpeg + " -v error -i '" + output + "' -f null -");
            EXPECT_EQ(decoded.exit_code, 0);
            EXPECT_EQ(decoded.err, "");
        }
        if (row.check) row.check(input, output);
    }
}

TEST(ToolFootage, APartOfAMovieHasItsFramesItsSoundSpanAndItsTimecode) {
    if (kFfmpeg.empty()) GTEST_SKIP() << "ffmpeg not installed (scripts/install-deps.sh render)";
    ScratchDir dir;
    // Four seconds, a key frame a second, a timecode; PCM sound in 1024-sample packets.
    const std::string source = dir / "source.mov";
    ASSERT_EQ(RunShell(kFfmpeg + " -v error -f lavfi -i testsrc2=size=64x48:rate=25 -f lavfi -i " +
                       "sine=frequency=440:sample_rate=48000 -t 4 -c:v libx264 -pix_fmt yuv420p " +
                       "-g 25 -timecode 01:00:00:00 -c:a pcm_s16le '" + source + "'")
                  .exit_code,
              0);
    // Lossless, so that a part's frames are the whole movie's, bit for bit.
    const std::vector<std::string> lossless = {"--codec", "libx264",   "--quality",
                                               "0",       "--pix-fmt", "yuv444p"};
    const auto hashes = [&](const std::string& movie) {
        std::istringstream md5(
            RunShell(kFfmpeg + " -v error -i '" + movie + "' -map 0:v -f framemd5 -").out);
        std::vector<std::string> found;
        for (std::string line; std::getline(md5, line);) {
            if (!line.empty() && line[0] != '#') found.push_back(line.substr(line.rfind(',') + 2));
        }
        return found;
    };
    const auto sound = [&](const std::string& movie) {
        return RunShell(kFfmpeg + " -v error -i '" + movie + "' -map 0:a -f s16le -").out;
    };
    ASSERT_EQ(RunTool(With({source, "-o", dir / "whole.mov", "-q"}, lossless)).exit_code, 0);
    const std::vector<std::string> whole = hashes(dir / "whole.mov");
    const std::string all_sound = sound(source);
    ASSERT_EQ(whole.size(), 100u);
    struct Row {
        std::vector<std::string> pick;
        std::string output;
        std::size_t first, count;  ///< frames, from 0
        std::string timecode;
        std::size_t sound_from, sound_samples;  ///< in the source's samples
        std::string says;
    };
    const Row rows[] = {
        // Frames from 1.5 s: the first at 1.52 s; the sound from there exactly
        // (an edit list), to the end of the packet across 2.52 s.
        {{"--start", "1.5", "--duration", "1"},
         "part.mov",
         38,
         25,
         "01:00:01:13",
         72960,
         48896,
         ""},
        {{"--start", "00:00:03.5"}, "tail.mov", 88, 12, "01:00:03:13", 168960, 23040, ""},
        // No edit list: the sound starts at its first packet after 1 s.
        {{"--frames", "26-50"}, "part.mkv", 25, 25, "01:00:01:00", 48128, 48128, "no edit list"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.output);
        const RunResult result =
            RunTool(With(With({source, "-o", dir / row.output}, row.pick), lossless));
        ASSERT_EQ(result.exit_code, 0) << result.err;
        EXPECT_NE(result.err.find(row.says), std::string::npos) << result.err;
        const std::vector<std::string> part = hashes(dir / row.output);
        EXPECT_EQ(part,
                  std::vector<std::string>(whole.begin() + std::ptrdiff_t(row.first),
                                           whole.begin() + std::ptrdiff_t(row.first + row.count)));
        EXPECT_EQ(Ffprobe(dir / row.output, "-show_entries stream=start_time"), "0.000000\n");
        EXPECT_NE(
            Ffprobe(dir / row.output, "-show_entries stream_tags:format_tags").find(row.timecode),
            std::string::npos);
        const std::string samples = sound(dir / row.output);
        EXPECT_EQ(samples.size(), 2 * row.sound_samples);
        EXPECT_TRUE(samples == all_sound.substr(2 * row.sound_from, samples.size()));
    }
    // Refused before any frame: two ways to pick the part, a part past the end.
    EXPECT_EQ(RunTool({source, "--frames", "2-5", "--start", "1", "-o", dir / "x.mov"}).exit_code,
              2);
    EXPECT_EQ(RunTool({source, "--frames", "90-120", "-o", dir / "x.mov"}).exit_code, 2);
    EXPECT_FALSE(fs::exists(dir / "x.mov"));
}

}  // namespace
}  // namespace render_test
