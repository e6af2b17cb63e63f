#include "movie_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string_view>

#include "tool_runner.h"

namespace render_test {

namespace {

namespace fs = std::filesystem;

const std::string kFfmpeg = VEMRA_FFMPEG;

// The sources every line starts from: ffmpeg's moving test pattern, a tone.
#define PATTERN "-f lavfi -i testsrc2=size=320x240:rate=25 "
#define SMALL "-f lavfi -i testsrc2=size=64x48:rate=25 "
#define TONE "-f lavfi -i sine=sample_rate=48000 "
#define BT709 "-color_primaries bt709 -color_trc bt709 -colorspace bt709 "

struct Fixture {
    std::string_view name;
    /// ffmpeg's arguments (after "ffmpeg -v error -y"), the output last:
    /// {out} is the fixture, {dir} the fixtures' folder; a line starting
    /// with '|' is a shell line of its own, {ffmpeg} the ffmpeg program.
    std::string_view line;
};

// clang-format off
constexpr Fixture kFixtures[] = {
    // Timing, orientation, fields, HDR10.
    {"offset.mp4", SMALL TONE "-t 0.4 -shortest -c:v libx264 -c:a aac -output_ts_offset 0.2 {out}"},
    {"offset.mov", SMALL TONE "-t 0.4 -shortest -c:v libx264 -c:a aac -output_ts_offset 0.2 {out}"},
    {"offset.mkv", SMALL TONE "-t 0.4 -shortest -c:v libx264 -c:a aac -output_ts_offset 0.2 {out}"},
    {"vfr.mkv", SMALL "-t 2 -vf \"settb=1/1000,setpts=N/25/TB+0.012*sin(N*1.7)/TB\" -fps_mode "
                "passthrough -enc_time_base 1/1000 -c:v libx264 {out}"},
    {"plain.mp4", SMALL "-t 1 -c:v libx264 {out}"},
    {"rotated.mp4", "-i {dir}/plain.mp4 -c copy -metadata:s:v:0 rotate=90 {out}"},
    {"interlaced.mxf", PATTERN "-t 0.4 -vf setfield=tff -flags +ilme+ildct -top 1 -c:v mpeg2video {out}"},
    {"interlaced.mov", PATTERN "-t 0.4 -vf setfield=tff -flags +ilme+ildct -top 1 -c:v mpeg2video {out}"},
    {"hdr10.mp4", PATTERN "-t 0.4 -c:v libx265 -tag:v hvc1 -pix_fmt yuv420p10le -color_primaries bt2020 "
                  "-color_trc smpte2084 -colorspace bt2020nc -x265-params 'log-level=none:"
                  "master-display=G(13250,34500)B(7500,3000)R(34000,16000)WP(15635,16450)"
                  "L(10000000,1):max-cll=1000,400' {out}"},
    {"plain.h264", PATTERN "-frames:v 10 -c:v libx264 -bf 0 -f h264 {out}"},
    // The source's format: colour tags, profiles, rates, sizes.
    {"h264-bt709.mp4", PATTERN "-t 0.4 -c:v libx264 -pix_fmt yuv420p " BT709 "-color_range tv {out}"},
    {"prores-lt.mov", PATTERN TONE "-t 0.4 -c:v prores_ks -profile:v lt -c:a pcm_s16le {out}"},
    {"dnxhr-hqx.mov", PATTERN "-t 0.4 -c:v dnxhd -profile:v dnxhr_hqx -pix_fmt yuv422p10le {out}"},
    {"mpeg2-422.mxf", PATTERN TONE "-t 0.4 -c:v mpeg2video -pix_fmt yuv422p -b:v 45M -minrate 45M "
                      "-maxrate 45M -bufsize 17825792 -c:a pcm_s16le {out}"},
    {"avc-intra-size.mp4", "-f lavfi -i testsrc2=size=1280x720:rate=25 -t 0.4 -c:v libx264 "
                           "-pix_fmt yuv422p10le {out}"},
    {"odd-height.mov", "|{ffmpeg} -v error -f lavfi -i testsrc2=size=320x242:rate=25 -frames:v 5 "
                       "-vf format=rgb24,crop=320:241 -f rawvideo - | {ffmpeg} -v error -y -f rawvideo "
                       "-pix_fmt rgb24 -s 320x241 -r 25 -i - -c:v mpeg2video -pix_fmt yuv420p {out}"},
    {"vp9-alpha.webm", PATTERN "-t 0.4 -vf \"format=yuva420p,geq=lum='lum(X,Y)':cb='cb(X,Y)':"
                       "cr='cr(X,Y)':a='X*255/W'\" -c:v libvpx-vp9 -pix_fmt yuva420p {out}"},
    // Timing of the other streams.
    {"start10.mov", PATTERN TONE "-t 0.4 -shortest -c:v libx264 -c:a aac -output_ts_offset 10 {out}"},
    {"opus.mkv", PATTERN TONE "-t 0.4 -shortest -c:v libx264 -c:a libopus {out}"},
    {"vorbis.mkv", PATTERN TONE "-t 0.4 -shortest -c:v libx264 -c:a libvorbis "
                   "-output_ts_offset 1.5 {out}"},
    {"dvd.mpg", "-f lavfi -i color=gray:size=320x240:rate=25 " TONE "-t 0.8 -shortest -target "
                "pal-dvd -s 320x240 -bf 2 -c:a mp2 -b:a 192k {out}"},
    // Streams to convert or leave out, and streams that are not held to
    // the file's duration.
    {"pcm44.mov", PATTERN "-f lavfi -i sine=sample_rate=44100 -t 0.4 -shortest -c:v libx264 "
                  "-c:a pcm_s16le {out}"},
    {"subrip.mkv", "|printf '1\\n00:00:00,000 --> 00:00:00,200\\nHello\\n' > {dir}/hello.srt && "
                   "{ffmpeg} -v error -y " PATTERN "-i {dir}/hello.srt -t 0.4 -c:v libx264 "
                   "-c:s srt {out}"},
    {"chapters.mp4", "|printf ';FFMETADATA1\\n[CHAPTER]\\nTIMEBASE=1/1000\\nSTART=0\\nEND=500\\n"
                     "title=One\\n[CHAPTER]\\nTIMEBASE=1/1000\\nSTART=500\\nEND=1000\\ntitle=Two\\n' "
                     "> {dir}/chapters.txt && {ffmpeg} -v error -y -i {dir}/plain.mp4 "
                     "-i {dir}/chapters.txt -map_chapters 1 -c copy {out}"},
    {"cover.mp4", "|{ffmpeg} -v error -y " PATTERN "-frames:v 1 {dir}/cover.png && {ffmpeg} -v "
                  "error -y -i {dir}/plain.mp4 -i {dir}/cover.png -map 0 -map 1 -c copy "
                  "-disposition:v:1 attached_pic {out}"},
    {"font.mkv", "|printf 'a font file' > {dir}/font.ttf && {ffmpeg} -v error -y -i "
                 "{dir}/plain.mp4 -c copy -attach {dir}/font.ttf -metadata:s:t "
                 "mimetype=application/x-truetype-font {out}"},
    {"animated.gif", "-f lavfi -i testsrc2=size=320x240:rate=10 -t 0.6 {out}"},
    // What a movie run says: cut files, quiet runs, refusals.
    {"mp2.ts", SMALL TONE "-shortest -frames:v 50 -c:v mpeg2video -c:a mp2 {out}"},
    {"aac.ts", SMALL TONE "-shortest -frames:v 50 -c:v mpeg2video -c:a aac {out}"},
    {"h264.mp4", SMALL "-frames:v 4 -c:v libx264 {out}"},
    {"h265.mp4", SMALL "-frames:v 4 -c:v libx265 -x265-params log-level=none {out}"},
    {"ffv1.mkv", SMALL "-frames:v 4 -c:v ffv1 {out}"},
    // An odd width: lavfi's sources round it to even, raw frames keep it.
    {"odd-width.mkv", "|{ffmpeg} -v error " SMALL "-frames:v 2 -vf format=rgb24,crop=33:48 -f rawvideo "
                      "- | {ffmpeg} -v error -y -f rawvideo -pix_fmt rgb24 -s 33x48 -r 25 -i - "
                      "-c:v ffv1 -pix_fmt yuv422p {out}"},
    {"rate12.nut", "-f lavfi -i testsrc2=size=64x48:rate=12 -frames:v 3 -c:v mpeg2video {out}"},
};
// clang-format on

/// An H.264 stream (Annex B, no B-frames) with A/53 closed
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

/// `text` with every `{key}` replaced by `value`.
std::string Filled(std::string text, const std::string& key, const std::string& value) {
    for (std::size_t at = text.find(key); at != std::string::npos;
         at = text.find(key, at + value.size())) {
        text.replace(at, key.size(), value);
    }
    return text;
}

/// The fixtures' folder, for the test process, removed at its end.
const ScratchDir& Folder() {
    static const ScratchDir folder;
    return folder;
}

}  // namespace

std::string MovieFixture(const std::string& name) {
    static std::map<std::string, bool> made;
    const std::string path = Folder() / name;
    if (made.count(name) != 0) return path;
    made[name] = true;
    if (name == "captions.mp4") {
        // Closed captions as a broadcast encoder puts them in: lavfi's
        // sources carry none.
        WriteFile(Folder() / "captions.h264", WithCaptions(ReadFile(MovieFixture("plain.h264"))));
        RunFfmpeg("-r 25 -i '" + (Folder() / "captions.h264") + "' -c copy '" + path + "'");
        return path;
    }
    for (const Fixture& fixture : kFixtures) {
        if (fixture.name != name) continue;
        std::string line(fixture.line);
        // What a line reads from the folder is made first.
        for (std::size_t at = line.find("{dir}/"); at != std::string::npos;
             at = line.find("{dir}/", at + 1)) {
            const std::string used = line.substr(at + 6, line.find_first_of(" '", at) - at - 6);
            if (used != name && std::any_of(std::begin(kFixtures), std::end(kFixtures),
                                            [&](const Fixture& f) { return f.name == used; })) {
                MovieFixture(used);
            }
        }
        line = Filled(Filled(Filled(line, "{out}", "'" + path + "'"), "{dir}", Folder().path()),
                      "{ffmpeg}", kFfmpeg);
        const RunResult result =
            line[0] == '|' ? RunShell(line.substr(1)) : RunShell(kFfmpeg + " -v error -y " + line);
        EXPECT_EQ(result.exit_code, 0) << "making " << name << ": " << line << "\n" << result.err;
        return path;
    }
    ADD_FAILURE() << "no movie fixture named " << name;
    return path;
}

bool HasEncoder(const std::string& name) {
    // grep reads the whole list: -q would close the pipe on ffmpeg early.
    return RunShell(kFfmpeg + " -hide_banner -encoders | grep -w " + name + " >/dev/null")
               .exit_code == 0;
}

void MakeTestMovie(const std::string& path, const std::string& codec_options, int frames) {
    RunFfmpeg(SMALL "-f lavfi -i sine=frequency=440:sample_rate=48000 -frames:v " +
              std::to_string(frames) + " -shortest " + codec_options + " " BT709 "-c:a " +
              (path.ends_with(".mp4") ? "aac" : "pcm_s16le") + " '" + path + "'");
}

std::string Ffprobe(const std::string& path, const std::string& what, const std::string& select) {
    const std::string ffprobe = (fs::path(kFfmpeg).parent_path() / "ffprobe").string();
    const RunResult result = RunShell(ffprobe + " -v error " +
                                      (select.empty() ? "" : "-select_streams " + select + " ") +
                                      what + " -of csv=p=0 '" + path + "'");
    EXPECT_EQ(result.exit_code, 0) << path << ": " << what << "\n" << result.err;
    std::istringstream text(result.out);
    std::string lines;
    for (std::string line; std::getline(text, line);) {
        while (!line.empty() && line.back() == ',') line.pop_back();
        if (!line.empty()) lines += line + "\n";
    }
    return lines;
}

}  // namespace render_test
