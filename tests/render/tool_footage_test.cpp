// Movies as cameras, phones and broadcast deliver them, each made by ffmpeg,
// through the tool, as one conformance table: a row a behaviour, each
// comparing named fields that ffprobe reads of the input and of the output
// (start times, every frame's timestamp, the display matrix, field order and
// frame flags, HDR10 metadata, the codec tag, closed captions), or a refusal.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>

#include "tool_runner.h"

namespace render_test {
namespace {

namespace fs = std::filesystem;

const std::string kFfmpeg = VEMRA_FFMPEG;

std::string Ffprobe(const std::string& path, const std::string& what) {
    const std::string ffprobe = (fs::path(kFfmpeg).parent_path() / "ffprobe").string();
    const RunResult result =
        RunShell(ffprobe + " -v error -select_streams v:0 " + what + " -of csv=p=0 '" + path + "'");
    EXPECT_EQ(result.exit_code, 0) << result.err;
    // Without the empty fields and lines ffprobe adds for side data it found.
    std::istringstream text(result.out);
    std::string lines;
    for (std::string line; std::getline(text, line);) {
        while (!line.empty() && line.back() == ',') line.pop_back();
        if (!line.empty()) lines += line + "\n";
    }
    return lines;
}

/// An H.264 stream of `path` (Annex B, no B-frames) with A/53 closed
/// captions put into every frame as a registered user-data SEI message, as
/// a broadcast encoder does: lavfi's sources carry no captions.
std::string WithCaptions(const std::string& annex_b) {
    // ITU-T T.35 USA, ATSC, "GA94", cc_data: two CEA-608 pairs.
    const std::string payload("\xB5\x00\x31GA94\x03\x42\xFF\xFC\x94\x2C\xFC\x94\x2C\xFF", 17);
    const std::string sei = std::string("\x06\x04", 2) + char(payload.size()) + payload + "\x80";
    const std::string start("\x00\x00\x00\x01", 4);
    std::string out;
    std::size_t at = annex_b.find(std::string("\x00\x00\x01", 3));
    while (at != std::string::npos) {
        const std::size_t nal = at + 3;
        std::size_t next = annex_b.find(std::string("\x00\x00\x01", 3), nal);
        std::size_t end = next == std::string::npos ? annex_b.size() : next;
        if (next != std::string::npos && annex_b[end - 1] == '\0') --end;
        const int type = annex_b[nal] & 0x1f;
        if (type == 1 || type == 5) out += start + sei;
        out += start + annex_b.substr(nal, end - nal);
        at = next;
    }
    return out;
}

TEST(ToolFootage, TimingOrientationFieldsHdrAndCaptionsAreKeptConvertedOrRefused) {
    if (kFfmpeg.empty()) GTEST_SKIP() << "ffmpeg not installed (scripts/install-deps.sh render)";
    ScratchDir dir;
    const std::string source = "-f lavfi -i testsrc2=size=64x48:rate=25 ";
    const std::string sound = "-f lavfi -i sine=sample_rate=48000 -t 2 -shortest ";
    for (const char* container : {"mp4", "mov", "mkv"}) {
        RunFfmpeg(source + sound + "-c:v libx264 -c:a aac -output_ts_offset 0.2 '" +
                  (dir / (std::string("offset.") + container)) + "'");
    }
    RunFfmpeg(source +
              "-t 2 -vf \"settb=1/1000,setpts=N/25/TB+0.012*sin(N*1.7)/TB\" -fps_mode "
              "passthrough -enc_time_base 1/1000 -c:v libx264 '" +
              (dir / "vfr.mkv") + "'");
    RunFfmpeg(source + "-t 1 -c:v libx264 '" + (dir / "plain.mp4") + "'");
    RunFfmpeg("-i '" + (dir / "plain.mp4") + "' -c copy -metadata:s:v:0 rotate=90 '" +
              (dir / "rotated.mp4") + "'");
    for (const char* container : {"mxf", "mov"}) {
        RunFfmpeg(source + "-t 1 -vf setfield=tff -flags +ilme+ildct -top 1 -c:v mpeg2video '" +
                  (dir / (std::string("interlaced.") + container)) + "'");
    }
    // grep reads the whole list: -q would close the pipe on ffmpeg early.
    const bool x265 =
        RunShell(kFfmpeg + " -hide_banner -encoders | grep -w libx265 >/dev/null").exit_code == 0;
    if (x265) {
        RunFfmpeg(source +
                  "-t 1 -c:v libx265 -tag:v hvc1 -pix_fmt yuv420p10le -color_primaries "
                  "bt2020 -color_trc smpte2084 -colorspace bt2020nc -x265-params "
                  "'log-level=none:master-display=G(13250,34500)B(7500,3000)R(34000,16000)"
                  "WP(15635,16450)L(10000000,1):max-cll=1000,400' '" +
                  (dir / "hdr10.mp4") + "'");
    }
    RunFfmpeg(source + "-frames:v 10 -c:v libx264 -bf 0 -f h264 '" + (dir / "plain.h264") + "'");
    WriteFile(dir / "captions.h264", WithCaptions(ReadFile(dir / "plain.h264")));
    RunFfmpeg("-r 25 -i '" + (dir / "captions.h264") + "' -c copy '" + (dir / "captions.mp4") +
              "'");

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
        const RunResult result = RunTool({dir / row.input, "-o", dir / row.output});
        ASSERT_EQ(result.exit_code, row.status) << result.err;
        EXPECT_NE(result.err.find(row.says), std::string::npos) << result.err;
        if (row.status != 0) continue;
        const std::string written = row.output.find('%') == std::string::npos
                                        ? dir / row.output
                                        : dir / "rotated-out.01.png";
        if (!row.probe.empty()) {
            EXPECT_EQ(Ffprobe(written, row.probe), Ffprobe(dir / row.input, row.probe));
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
        std::istringstream given(Ffprobe(dir / "hdr10.mp4", first_frame));
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
    ASSERT_EQ(RunTool(With({dir / "rotated.mp4", "--frames", "3", "-o", dir / "turned.png"}, steps))
                  .exit_code,
              0);
    const RunResult piped = RunShell(
        kFfmpeg + " -v error -i '" + (dir / "rotated.mp4") +
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

}  // namespace
}  // namespace render_test
