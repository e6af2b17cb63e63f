// Hostile and odd input files through the tool: each is refused or read in
// one line, within bounded memory, never followed to another file; an
// animated PNG gives every frame; and a sanitizer report raised while the
// tool has standard error silenced still reaches the test command's check.
#include <OpenImageIO/imageio.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "tool_runner.h"

namespace render_test {
namespace {

namespace fs = std::filesystem;
using render::SampleType;

const bool kHaveFfmpeg = !std::string(VEMRA_FFMPEG).empty();

/// Writes `value` as 32 bits at `at` of `bytes`, in either byte order.
void Put32(std::string& bytes, std::size_t at, std::uint32_t value, bool big_endian) {
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t shift = 8 * (big_endian ? 3 - i : i);
        bytes[at + i] = char((value >> shift) & 0xFF);
    }
}

/// The `width`-byte number at `at` of `bytes`, in either byte order.
std::uint32_t GetN(const std::string& bytes, std::size_t at, std::size_t width, bool big_endian) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        const std::size_t shift = 8 * (big_endian ? width - 1 - i : i);
        value |= std::uint32_t(static_cast<unsigned char>(bytes[at + i])) << shift;
    }
    return value;
}

std::uint32_t Get32(const std::string& bytes, std::size_t at, bool big_endian) {
    return GetN(bytes, at, 4, big_endian);
}

/// A TIFF file of one 16 x 16 page in tiles whose width and length its
/// header gives as `side` (32-bit numbers), whatever the tiles hold.
std::string TiffWithTiles(const std::string& path, std::uint32_t side) {
    std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(path);
    OIIO::ImageSpec header(16, 16, 3, OIIO::TypeDesc::UINT8);
    header.tile_width = header.tile_height = 16;
    const std::vector<std::uint8_t> samples(16 * 16 * 3, 100);
    EXPECT_TRUE(out->open(path, header) &&
                out->write_image(OIIO::TypeDesc::UINT8, samples.data()) && out->close());
    std::string tiff = ReadFile(path);
    const bool big = tiff.compare(0, 2, "MM") == 0;
    const std::uint32_t directory = Get32(tiff, 4, big);
    for (std::uint32_t i = 0; i < GetN(tiff, directory, 2, big); ++i) {
        const std::size_t entry = directory + 2 + 12 * i;
        const std::uint32_t tag = GetN(tiff, entry, 2, big);
        if (tag != 322 && tag != 323) continue;  // TileWidth, TileLength
        tiff[entry + 2] = char(big ? 0 : 4);     // as LONG
        tiff[entry + 3] = char(big ? 4 : 0);
        Put32(tiff, entry + 8, side, big);
    }
    return tiff;
}

double CpuSeconds(const rusage& usage) {
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void Ffmpeg(const std::string& arguments) {
    const RunResult made = RunShell(std::string(VEMRA_FFMPEG) + " -v error -y " + arguments);
    ASSERT_EQ(made.exit_code, 0) << arguments << ": " << made.err;
}

/// A 32x24 animation of 8 frames: a half-transparent square moving over a
/// still background, and a corner that turns transparent every other
/// frame, written as an APNG by ffmpeg (which stores most frames as
/// rectangles blended over or disposed from the one before).
std::string MakeAnimatedPng(const ScratchDir& dir) {
    for (int k = 0; k < 8; ++k) {
        render::Image image = render::Image::Blank(32, 24, SampleType::kUint8, true);
        for (int y = 0; y < 24; ++y) {
            for (int x = 0; x < 32; ++x) {
                const bool square = x >= 3 * k && x < 3 * k + 6 && y >= 8 && y < 14;
                const bool corner = k % 2 == 1 && x < 4 && y < 4;
                const float rgba[4] = {square ? 250.0f : float(40 + 5 * x),
                                       square ? 20.0f : float(60 + 7 * y), 120.0f,
                                       corner   ? 0.0f
                                       : square ? 128.0f
                                                : 255.0f};
                for (int c = 0; c < 4; ++c) image.SetSample(x, y, c, rgba[c]);
            }
        }
        WriteTestImage(dir / ("still." + std::to_string(k + 1) + ".png"), image, "uint8");
    }
    Ffmpeg("-i '" + (dir / "still.%d.png") + "' -plays 0 -f apng '" + (dir / "anim.png") + "'");
    return dir / "anim.png";
}

/// Whether some frame control chunk of the APNG `bytes` covers less than
/// the whole image, or blends or disposes.
bool HasPartialFrames(const std::string& bytes) {
    for (std::size_t at = 8; at + 12 <= bytes.size();) {
        const std::uint32_t length = Get32(bytes, at, true);
        if (bytes.compare(at + 4, 4, "fcTL") == 0 && length >= 26) {
            const std::size_t data = at + 8;
            const bool whole =
                Get32(bytes, data + 4, true) == 32 && Get32(bytes, data + 8, true) == 24;
            if (!whole || bytes[data + 24] != 0 || bytes[data + 25] != 0) return true;
        }
        at += 12 + length;
    }
    return false;
}

TEST(ToolHostile, EachIsRefusedOrReadInOneLine) {
    ScratchDir dir;
    // DPX: a 1x1 file as the image library writes it, and copies whose
    // user-data size (bytes 32-35) lies, in both byte orders.
    WriteTestImage(dir / "one.dpx", OnePixel(SampleType::kUint16, 100, 200, 300, 65535), "uint16",
                   3);
    const std::string dpx = ReadFile(dir / "one.dpx");
    const bool big = dpx.compare(0, 4, "SDPX") == 0;
    const std::uint32_t image_offset = Get32(dpx, 4, big);
    auto dpx_with = [&](const std::string& name, std::uint32_t user_size, bool big_endian) {
        std::string bytes = dpx;
        if (big_endian != big) {
            bytes.replace(0, 4, big_endian ? "SDPX" : "XPDS");
            Put32(bytes, 4, image_offset, big_endian);
        }
        Put32(bytes, 32, user_size, big_endian);
        WriteFile(dir / name, bytes);
    };
    dpx_with("huge.dpx", 1'000'000'000, big);
    dpx_with("huge-other-order.dpx", 1'000'000'000, !big);
    dpx_with("overlap.dpx", image_offset - 2048 + 2, big);
    dpx_with("user-data.dpx", 100, big);  // within the headers' room: fine
    std::string past_end = dpx;
    Put32(past_end, 4, std::uint32_t(dpx.size()) + 100, big);
    WriteFile(dir / "past-end.dpx", past_end);
    // Headers that declare more than the file could need: tiles of 32768² and
    // 65536² for 16 x 16 pixels, a GIF's logical screen of 30000².
    WriteFile(dir / "tiles.tif", TiffWithTiles(dir / "tiles.tif", 32768));
    WriteFile(dir / "tiles64k.tif", TiffWithTiles(dir / "tiles64k.tif", 65536));
    WriteTestImage(dir / "screen.gif", OnePixel(SampleType::kUint8, 1, 2, 3, 255), "uint8", 3);
    std::string gif = ReadFile(dir / "screen.gif");
    gif.replace(6, 4, std::string("\x30\x75\x30\x75", 4));  // 30000, 30000
    WriteFile(dir / "screen.gif", gif);
    WriteTestImage(dir / "whole.ppm", RandomImage(16, 16, SampleType::kUint8, false, 5), "uint8",
                   3);
    WriteFile(dir / "short.ppm", ReadFile(dir / "whole.ppm").substr(0, 100));
    // An RLA header whose matte samples take no bits: the library's decoder
    // would loop on it for ever.
    WriteTestImage(dir / "matte.rla", RandomImage(16, 16, SampleType::kUint8, true, 6), "uint8", 4);
    std::string rla = ReadFile(dir / "matte.rla");
    rla.replace(662, 2, std::string(2, '\0'));
    WriteFile(dir / "matte.rla", rla);
    // A PNG whose header chunk fails its checksum: libpng prints its own
    // line for it, which must not reach the user.
    WriteTestImage(dir / "in.png", RandomImage(8, 6, SampleType::kUint8, true, 3), "uint8");
    std::string damaged = ReadFile(dir / "in.png");
    damaged[damaged.find("IHDR") + 7] ^= 0x5A;
    WriteFile(dir / "damaged.png", damaged);
    if (kHaveFfmpeg) {
        Ffmpeg("-f lavfi -i testsrc2=size=32x24:rate=25 -frames:v 3 '" + (dir / "b.ts") + "'");
        WriteFile(dir / "concat.mp4", "ffconcat version 1.0\nfile b.ts\n");
        const std::string playlist = "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:1,\n" +
                                     (dir / "b.ts") + "\n#EXT-X-ENDLIST\n";
        WriteFile(dir / "playlist.mp4", playlist);
        // Named as no movie of the list is, or not at all: the image library's
        // FFmpeg reader took these and followed them.
        WriteFile(dir / "concat.3gp", "ffconcat version 1.0\nfile b.ts\n");
        WriteFile(dir / "playlist.m4a", playlist);
        WriteFile(dir / "playlist", playlist);
        MakeAnimatedPng(dir);
        // A movie cut short in its media data: its decode fails after the
        // frames that are there.
        Ffmpeg(
            "-f lavfi -i testsrc2=size=32x24:rate=25 -frames:v 6 -c:v mjpeg -movflags "
            "+faststart '" +
            (dir / "whole.mov") + "'");
        const std::string whole = ReadFile(dir / "whole.mov");
        WriteFile(dir / "cut.mov", whole.substr(0, whole.size() * 3 / 4));
    }

    WriteTestImages(
        dir / "pages.tif",
        {OnePixel(SampleType::kUint8, 1, 2, 3, 255), OnePixel(SampleType::kUint8, 4, 5, 6, 255)},
        "uint8");
    ASSERT_EQ(::mkfifo((dir / "fifo.png").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir / "fifo.sgi").c_str(), 0600), 0);

    struct Row {
        std::vector<std::string> args;
        int status;
        const char* says;
        bool movie = false;
        bool bounded = false;  ///< memory and CPU within the bound of a 1x1 image
    };
    const std::string x = dir / "x.png";
    const std::string largest = "9223372036854775807";
    const Row rows[] = {
        // Frame numbers at the largest a name carries: no overflow, no
        // allocation beyond the frames there are.
        {{dir / "pages.tif", "--start-number", largest, "-o", dir / "p.%d.png"},
         2,
         "frame 2 would be numbered past 9223372036854775807",
         false,
         true},
        {{dir / "pages.tif", "--frames", largest, "-o", dir / "p.%d.png"},
         2,
         "holds frames 1 to 2",
         false,
         true},
        {{dir / "in.%d.png", "--frames", largest, "-o", dir / "p.%d.png"},
         2,
         "missing frame(s) 9223372036854775807",
         false,
         true},
        // A file name's line feed and escape bytes stay in the one line, escaped.
        {{dir / "no\nsuch\x1b[2J.png", "-o", x}, 1, "no\\nsuch\\x1b[2J.png: no such file"},
        // A FIFO at an output's name: never replaced, written into where
        // the format is written front to back, never taken for a frame.
        {{dir / "in.png", "-o", dir / "fifo.sgi"}, 2, "it is a FIFO, and sgi files are written"},
        {{dir / "in.png", "-o", dir / "fifo.png", "--skip-existing"},
         2,
         "it is a FIFO, not a file"},
        {{dir / "huge.dpx", "-o", x}, 2, "user data of 1000000000 bytes is larger", false, true},
        {{dir / "huge-other-order.dpx", "-o", x}, 2, "is larger than the file", false, true},
        // Among several inputs it fails as its frame's read, as any unreadable file does.
        {{dir / "huge.dpx", dir / "one.dpx", "-o", dir / "o.%d.png"}, 1, "huge.dpx", false, true},
        {{dir / "overlap.dpx", "-o", x}, 2, "overlaps the image data"},
        {{dir / "past-end.dpx", "-o", x}, 2, "past the end of the file", false, true},
        {{dir / "tiles.tif", "-o", x}, 2, "its tiles of 32768 x 32768 pixels", false, true},
        {{dir / "tiles64k.tif", "-o", x}, 2, "its tiles of 65536 x 65536 pixels", false, true},
        {{dir / "screen.gif", "-o", x}, 2, "30000x30000 frames are above the limit", false, true},
        {{dir / "matte.rla", "-o", x}, 2, "matte channel(s) samples of 0 bits", false, true},
        {{dir / "short.ppm", "-o", x}, 1, "short.ppm: its pixels cannot be read: the file is cut"},
        {{dir / "damaged.png", "-o", x}, 1, "damaged.png: PNG read error"},
        {{dir / "damaged.png", dir / "in.png", "-o", dir / "o.%d.png"}, 1, "damaged.png"},
        {{dir / "concat.mp4", "-o", dir / "x.mkv"}, 2, "Virtual concatenation script", true},
        {{dir / "playlist.mp4", "-o", dir / "x.mkv"}, 2, "(hls)", true},
        {{dir / "concat.3gp", "-o", x}, 2, "takes it for Virtual concatenation script", true, true},
        {{dir / "playlist.m4a", "-o", dir / "p.%d.png"}, 2, "(hls)", true, true},
        {{dir / "playlist", "-o", x}, 2, "(hls)", true, true},
        {{dir / "concat.3gp", dir / "in.png", "-o", dir / "o.%d.png"}, 1, "(concat)", true},
        // The frames before the failure are kept, in a folder of their own.
        {{dir / "cut.mov", "-o", dir / "kept/c.%d.png"}, 1, "cut short", true},
        {{dir / "anim.png", "-o", x}, 2, "anim.png holds 8 frames and", true},
        {{dir / "anim.png", dir / "in.png", "-o", dir / "o.%d.png"},
         1,
         "holds several frames",
         true},
    };
    const RunResult baseline = RunTool({dir / "one.dpx", "-o", dir / "one.png"});
    ASSERT_EQ(baseline.exit_code, 0) << baseline.err;
    const RunResult fine = RunTool({dir / "user-data.dpx", "-o", dir / "user-data.png"});
    EXPECT_EQ(fine.exit_code, 0) << fine.err;
    fs::create_directory(dir.path() / "kept");
    const std::vector<std::string> before = dir.Files();
    for (const Row& row : rows) {
        if (row.movie && !kHaveFfmpeg) continue;
        const RunResult result = RunTool(row.args);
        const std::string line = fs::path(row.args[0]).filename().string() + " -> " +
                                 fs::path(row.args.back()).filename().string() + ": ";
        EXPECT_EQ(result.exit_code, row.status) << line << result.err;
        EXPECT_EQ(result.err.rfind("vemra-render: error: ", 0), 0u) << line << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << line << result.err;
        EXPECT_NE(result.err.find(row.says), std::string::npos) << line << result.err;
        EXPECT_EQ(dir.Files(), before) << line << "left a file";
        if (row.bounded) {
            EXPECT_LE(result.usage.ru_maxrss, baseline.usage.ru_maxrss + 64 * 1024) << line;
            EXPECT_LT(CpuSeconds(result.usage), CpuSeconds(baseline.usage) + 2.0) << line;
        }
    }
}

TEST(ToolHostile, AnimatedPngGivesEveryFrame) {
    if (!kHaveFfmpeg) GTEST_SKIP() << "no ffmpeg program";
    ScratchDir dir;
    const std::string anim = MakeAnimatedPng(dir);
    ASSERT_TRUE(HasPartialFrames(ReadFile(anim))) << "the APNG should blend or dispose frames";
    const RunResult result = RunTool({anim, "-o", dir / "out.%d.png"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    // ffmpeg's decode of every frame, composed, as raw RGBA.
    Ffmpeg("-i '" + anim + "' -f rawvideo -pix_fmt rgba '" + (dir / "frames.rgba") + "'");
    const std::string decoded = ReadFile(dir / "frames.rgba");
    const std::size_t frame_bytes = 32 * 24 * 4;
    ASSERT_EQ(decoded.size(), 8 * frame_bytes);
    for (int k = 1; k <= 8; ++k) {
        const FilePixels out = ReadFilePixels(dir / ("out." + std::to_string(k) + ".png"));
        ASSERT_EQ(out.width * out.height * out.channels, int(frame_bytes)) << "frame " << k;
        int differ = 0;
        for (std::size_t i = 0; i < frame_bytes; ++i) {
            const auto expected = static_cast<unsigned char>(decoded[(k - 1) * frame_bytes + i]);
            differ += out.values[i] != double(expected);
        }
        EXPECT_EQ(differ, 0) << "frame " << k << " differs from ffmpeg's decode";
    }
    // The first frame is also the image the image library shows.
    const FilePixels first = ReadFilePixels(anim);
    EXPECT_EQ(ReadFilePixels(dir / "out.1.png").values, first.values);
    // --frames N picks one frame into one image.
    const RunResult one = RunTool({anim, "--frames", "5", "-o", dir / "five.png"});
    ASSERT_EQ(one.exit_code, 0) << one.err;
    EXPECT_EQ(ReadFilePixels(dir / "five.png").values, ReadFilePixels(dir / "out.5.png").values);
}

// --skip-existing takes only a finished file for a done frame: a dangling
// link, an empty file and a header cut short at an output's name are
// rendered again. A FIFO at an output's name gets the image written into
// it and stays a FIFO.
TEST(ToolHostile, OnlyAFinishedOutputIsTakenForDoneAndAFifoIsWrittenInto) {
    ScratchDir dir;
    for (int k = 1; k <= 4; ++k) {
        WriteTestImage(dir / ("in." + std::to_string(k) + ".png"),
                       RandomImage(8, 6, SampleType::kUint8, true, unsigned(k)), "uint8");
    }
    ASSERT_EQ(RunTool({dir / "in.#.png", "-o", dir / "ref.#.png"}).exit_code, 0);
    fs::create_symlink(dir / "nowhere.png", dir / "out.1.png");
    WriteFile(dir / "out.2.png", "");
    WriteFile(dir / "out.3.png", ReadFile(dir / "ref.3.png").substr(0, 30));
    fs::copy_file(dir / "ref.4.png", dir / "out.4.png");
    const RunResult result =
        RunTool({dir / "in.#.png", "-o", dir / "out.#.png", "--skip-existing"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.err.find("3 rendered, 1 skipped"), std::string::npos) << result.err;
    for (int k = 1; k <= 4; ++k) {
        const std::string name = std::to_string(k) + ".png";
        EXPECT_EQ(ReadFile(dir / ("out." + name)), ReadFile(dir / ("ref." + name))) << name;
    }

    const std::string fifo = dir / "fifo.png";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // The reader is there first (a pipe holds the small image until read).
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const RunResult piped = RunTool({dir / "in.1.png", "-o", fifo});
    EXPECT_EQ(piped.exit_code, 0) << piped.err;
    std::string got;
    char buffer[4096];
    for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;) got.append(buffer, n);
    ::close(reader);
    EXPECT_EQ(got, ReadFile(dir / "ref.1.png"));
    struct stat info {};
    ASSERT_EQ(::lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "the FIFO was replaced by a file";

    // A movie: finished when it opens with the video and the streams it copies.
    if (!kHaveFfmpeg) return;
    Ffmpeg(
        "-f lavfi -i testsrc2=size=32x24:rate=25 -f lavfi -i sine=r=8000 -t 0.2 -c:v mjpeg "
        "-c:a pcm_s16le '" +
        (dir / "in.mov") + "'");
    ASSERT_EQ(RunTool({dir / "in.mov", "-o", dir / "whole.mov"}).exit_code, 0);
    const std::string whole = ReadFile(dir / "whole.mov");
    Ffmpeg("-i '" + (dir / "whole.mov") + "' -c copy -an '" + (dir / "silent.mov") + "'");
    const std::pair<std::string, bool> movies[] = {{whole, true},
                                                   {whole.substr(0, whole.size() / 2), false},
                                                   {ReadFile(dir / "silent.mov"), false}};
    for (const auto& [bytes, finished] : movies) {
        WriteFile(dir / "out.mov", bytes);
        const RunResult movie = RunTool({dir / "in.mov", "-o", dir / "out.mov", "--skip-existing"});
        EXPECT_EQ(movie.exit_code, 0) << movie.err;
        EXPECT_EQ(movie.err.find("left as it is") != std::string::npos, finished) << movie.err;
        EXPECT_EQ(ReadFile(dir / "out.mov").size(), whole.size()) << movie.err;
    }
}

// A movie whose header claims 8 million frames (a damaged time-to-sample
// count) holds four: they render, and the plan made from the claim costs
// no more than the file could hold. (Planning every claimed frame took
// minutes; the CPU limit ends such a run.)
TEST(ToolHostile, MovieClaimingMillionsOfFramesRendersWhatItHolds) {
    if (!kHaveFfmpeg) GTEST_SKIP() << "no ffmpeg program";
    ScratchDir dir;
    Ffmpeg("-f lavfi -i testsrc2=size=32x24:rate=25 -frames:v 4 -c:v mjpeg '" + (dir / "in.mp4") +
           "'");
    std::string movie = ReadFile(dir / "in.mp4");
    const std::size_t stts = movie.find("stts");
    ASSERT_NE(stts, std::string::npos);
    ASSERT_EQ(Get32(movie, stts + 12, true), 4u) << "one entry of four frames";
    Put32(movie, stts + 12, 0x00800004, true);
    WriteFile(dir / "claims.mp4", movie);
    fs::create_directory(dir.path() / "out");
    const RunResult baseline = RunTool({dir / "in.mp4", "-o", dir / "out/in.%d.png"});
    ASSERT_EQ(baseline.exit_code, 0) << baseline.err;
    const RunResult result =
        render_test::Run(With({"/usr/bin/prlimit", "--cpu=60"},
                              ToolArgv({dir / "claims.mp4", "-o", dir / "out/c.%d.png"})));
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(fs::exists(dir.path() / "out/c.4.png")) << result.err;
    EXPECT_LT(CpuSeconds(result.usage), CpuSeconds(baseline.usage) + 2.0);
}

// A movie is told by its contents where its name is none of the movie
// list's (.3gp, or no extension): it is read by the movie stages, as the same
// file named .mov is, and never by the image library's own FFmpeg reader.
TEST(ToolHostile, AMovieNamedAsNoneOfTheListIsReadByItsContents) {
    if (!kHaveFfmpeg) GTEST_SKIP() << "no ffmpeg program";
    ScratchDir dir;
    Ffmpeg("-f lavfi -i testsrc2=size=32x24:rate=25 -frames:v 3 -c:v mjpeg '" + (dir / "in.mov") +
           "'");
    fs::copy_file(dir / "in.mov", dir / "in.3gp");
    fs::copy_file(dir / "in.mov", dir / "clip");
    ASSERT_EQ(RunTool({dir / "in.mov", "-o", dir / "mov.#.png"}).exit_code, 0);
    for (const char* name : {"in.3gp", "clip"}) {
        const RunResult frames = RunTool({dir / name, "-o", dir / (std::string(name) + ".#.png")});
        ASSERT_EQ(frames.exit_code, 0) << frames.err;
        for (int k = 1; k <= 3; ++k) {
            // (Built up in steps: GCC 12 at -O3 warns falsely on "." + string.)
            std::string number = std::to_string(k);
            number.insert(0, 1, '.').append(".png");
            EXPECT_EQ(ReadFile(dir / (name + number)), ReadFile(dir / ("mov" + number))) << name;
        }
        EXPECT_FALSE(fs::exists(dir / (name + std::string(".4.png"))));
        const RunResult movie = RunTool({dir / name, "-o", dir / (std::string(name) + ".mkv")});
        EXPECT_EQ(movie.exit_code, 0) << movie.err;
    }
}

// A sequence whose first frame is small and the others large, under a small
// --memory: each frame is weighed as it is taken, so the large ones render
// one at a time however many the first frame's size let in flight. Peak
// memory is read from the child's own getrusage.
TEST(ToolHostile, MixedSizesStayWithinTheMemoryBudget) {
    ScratchDir dir;
    WriteTestImage(dir / "in.1.tif", RandomImage(16, 16, SampleType::kUint16, false, 1), "uint16",
                   3);
    for (int k = 2; k <= 5; ++k) {
        WriteTestImage(dir / ("in." + std::to_string(k) + ".tif"),
                       RandomImage(1024, 1024, SampleType::kUint16, false, unsigned(k)), "uint16",
                       3);
    }
    // AddressSanitizer's quarantine would keep freed frames resident.
    const char* asan = std::getenv("ASAN_OPTIONS");
    RunSettings settings;
    settings.environment = {std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") +
                            ":quarantine_size_mb=0"};
    // One large frame alone, then the four with up to four in flight.
    const RunResult one = RunTool({dir / "in.2.tif", "-o", dir / "one.tif"}, settings);
    ASSERT_EQ(one.exit_code, 0) << one.err;
    const RunResult mixed =
        RunTool({dir / "in.#.tif", "--in-flight", "4", "--memory", "48M", "-o", dir / "out.#.tif"},
                settings);
    ASSERT_EQ(mixed.exit_code, 0) << mixed.err;
    EXPECT_NE(mixed.err.find("5 rendered"), std::string::npos) << mixed.err;
    // A large frame takes about 38 MiB: four at once would be some 110 MiB more.
    EXPECT_LE(mixed.usage.ru_maxrss, one.usage.ru_maxrss + 48 * 1024)
        << "one frame: " << one.usage.ru_maxrss << " KiB";
}

#ifdef VEMRA_SANITIZER_TEST_HOOK
// The tool silences standard error while an image library decodes, so a
// report raised there never shows; the test command points log_path at a
// folder and fails on any report in it. Here the hook raises one of each
// sanitizer inside that spell, and the check must find it.
TEST(ToolHostile, ReportRaisedWhileSilencedReachesTheCheck) {
    ScratchDir dir;
    WriteTestImage(dir / "in.png", RandomImage(8, 6, SampleType::kUint8, true, 4), "uint8");
    const std::string check = std::string(VEMRA_SOURCE_DIR) + "/scripts/check-sanitizer-reports.sh";
    const std::pair<const char*, const char*> kinds[] = {{"address", "heap-buffer-overflow"},
                                                         {"undefined", "signed integer overflow"}};
    for (const auto& [kind, says] : kinds) {
        const fs::path reports = dir.path() / kind;
        fs::create_directory(reports);
        // Without log_path the report is lost with the rest of standard error.
        RunSettings settings;
        settings.environment = {std::string("VEMRA_TEST_RAISE_SANITIZER_REPORT=") + kind,
                                "ASAN_OPTIONS=log_path=stderr", "UBSAN_OPTIONS=log_path=stderr"};
        const RunResult hidden = RunTool({dir / "in.png", "-o", dir / "out.png"}, settings);
        EXPECT_NE(hidden.exit_code, 0) << kind;
        EXPECT_EQ(hidden.err.find(says), std::string::npos) << hidden.err;
        // With it, as the test command runs, the check finds the report.
        settings.environment[1] = "ASAN_OPTIONS=log_path=" + (reports / "asan").string();
        settings.environment[2] = "UBSAN_OPTIONS=log_path=" + (reports / "ubsan").string();
        EXPECT_EQ(render_test::Run({check, reports.string()}).exit_code, 0)
            << "an empty folder passes";
        EXPECT_NE(RunTool({dir / "in.png", "-o", dir / "out.png"}, settings).exit_code, 0);
        const RunResult checked = render_test::Run({check, reports.string()});
        EXPECT_EQ(checked.exit_code, 1) << kind << ": " << checked.out << checked.err;
        EXPECT_NE(checked.out.find(says), std::string::npos) << checked.out;
    }
}
#endif

}  // namespace
}  // namespace render_test
