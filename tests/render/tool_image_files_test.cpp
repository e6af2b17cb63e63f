// What vemra-render keeps of an image file, run as a subprocess on small
// files that oiiotool (and ffmpeg) make: every channel, every part, the
// windows, and the written data type, each output read back with
// OpenImageIO's own reader, channel by channel, and against what oiiotool
// itself writes for the same conversion.
#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tool_runner.h"

namespace render_test {
namespace {

/// A part of a file as OpenImageIO reads it: its header, and each channel's
/// samples in the channel's own type, as bytes.
struct Part {
    OIIO::ImageSpec header;
    std::vector<std::vector<std::byte>> channels;

    int Find(const std::string& name) const { return header.channelindex(name); }
    const std::vector<std::byte>& Bits(const std::string& name) const {
        const int c = Find(name);
        if (c < 0) throw std::runtime_error("no channel " + name);
        return channels[std::size_t(c)];
    }
    std::string Names() const {
        std::string names;
        for (const std::string& name : header.channelnames) names += name + ",";
        return names;
    }
};

/// Every part of `path`, read with OpenImageIO.
std::vector<Part> ReadParts(const std::string& path) {
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    std::unique_ptr<OIIO::ImageInput> in = OIIO::ImageInput::open(path, &config);
    if (!in) throw std::runtime_error("cannot read " + path + ": " + OIIO::geterror());
    std::vector<Part> parts;
    OIIO::ImageSpec header;
    for (int p = 0; in->seek_subimage(p, 0, header); ++p) {
        Part& part = parts.emplace_back();
        part.header = header;
        const std::size_t pixels = std::size_t(part.header.width) * std::size_t(part.header.height);
        for (int c = 0; c < part.header.nchannels; ++c) {
            const OIIO::TypeDesc type = part.header.channelformat(c);
            std::vector<std::byte>& bits = part.channels.emplace_back(pixels * type.size());
            if (!in->read_image(p, 0, c, c + 1, type, bits.data())) {
                throw std::runtime_error("cannot read " + path + ": " + in->geterror());
            }
        }
    }
    return parts;
}

/// "uint10", "half", ...: the type oiiotool names, 10 and 12 bits included.
std::string TypeName(const Part& part) {
    const int bits = part.header.get_int_attribute("oiio:BitsPerSample", 0);
    if (part.header.format == OIIO::TypeDesc::UINT16 && (bits == 10 || bits == 12)) {
        return "uint" + std::to_string(bits);
    }
    return part.header.format.c_str();
}

/// Every channel of `a` and `b`, bit for bit, and their names and windows.
void ExpectSameParts(const Part& a, const Part& b, const std::string& what) {
    EXPECT_EQ(a.Names(), b.Names()) << what;
    EXPECT_EQ(a.header.x, b.header.x) << what;
    EXPECT_EQ(a.header.y, b.header.y) << what;
    ASSERT_EQ(a.channels.size(), b.channels.size()) << what;
    for (std::size_t c = 0; c < a.channels.size(); ++c) {
        EXPECT_EQ(a.header.channelformat(int(c)), b.header.channelformat(int(c))) << what << c;
        EXPECT_TRUE(a.channels[c] == b.channels[c]) << what << " channel " << c;
    }
}

/// A behaviour: fixtures made by shell commands run in the scratch folder,
/// the tool's arguments ("@NAME" a file there), and what must come of it.
struct Row {
    const char* name;
    std::string make;
    std::vector<std::string> args;
    int exit_code = 0;
    std::string note;  ///< text standard error must hold; empty: none asked
    std::function<void(const ScratchDir& dir)> check = nullptr;
};

// Eight channels of half, Z a float: colour, depth and a pass as layers.
const std::string kAovs =
    "oiiotool --pattern fill:top=0.1,0.2,0.3,1,5,0.4,0.5,0.6:bottom=0.9,0.8,0.7,0.5,7.25,"
    "0.1,0.2,0.3 8x6 8 --chnames R,G,B,A,Z,diffuse.R,diffuse.G,diffuse.B -d half -d Z=float "
    "-o aovs.exr";
// Three parts: beauty (RGBA half), depth (Z float), diffuse (RGB half).
const std::string kParts =
    "oiiotool --pattern fill:color=0.1,0.2,0.3,1 8x6 4 -d half --chnames R,G,B,A "
    "--attrib oiio:subimagename beauty -o beauty.exr && "
    "oiiotool --pattern fill:color=5 8x6 1 -d float --chnames Z --attrib oiio:subimagename depth "
    "-o depth.exr && "
    "oiiotool --pattern fill:top=0.5,0.6,0.7:bottom=0.2,0.3,0.4 8x6 3 -d half --chnames R,G,B "
    "--attrib oiio:subimagename diffuse -o diffuse.exr && "
    "oiiotool beauty.exr depth.exr diffuse.exr --siappendall -o parts.exr";
// A data window of 12x8 at -2,-1 around a display window of 8x6.
const std::string kOverscan =
    "oiiotool --pattern fill:top=0.1,0.2,0.3:bottom=0.9,0.8,0.7 12x8 3 -d half --origin -2-1 "
    "--fullsize 8x6+0+0 -o over.exr";

std::vector<Row> Rows() {
    return {
        {"ExrChannelsKeptBitForBitWithNamesAndTypes",
         kAovs,
         {"@aovs.exr", "-o", "@out.exr", "--temperature", "0.5"},
         0,
         "",
         [](const ScratchDir& dir) {
             const Part in = ReadParts(dir / "aovs.exr").at(0),
                        out = ReadParts(dir / "out.exr").at(0);
             EXPECT_EQ(out.Names(), in.Names());
             EXPECT_EQ(out.header.channelformat(out.Find("Z")), OIIO::TypeDesc::FLOAT);
             for (const char* kept : {"A", "Z", "diffuse.R", "diffuse.G", "diffuse.B"}) {
                 EXPECT_TRUE(out.Bits(kept) == in.Bits(kept)) << kept;
             }
             EXPECT_FALSE(out.Bits("R") == in.Bits("R")) << "the colour is rendered";
         }},
        {"ExtraChannelsNamedWhereThePngLeavesThemOut",
         kAovs,
         {"@aovs.exr", "-o", "@out.png"},
         0,
         "out.png: channel(s) Z, diffuse.R, diffuse.G, diffuse.B not written",
         [](const ScratchDir& dir) {
             EXPECT_EQ(ReadParts(dir / "out.png").at(0).header.nchannels, 4);
         }},
        {"TiffKeepsExtraChannelsUnnamed",
         kAovs,
         {"@aovs.exr", "-o", "@out.tif"},
         0,
         "written without their names",
         [](const ScratchDir& dir) {
             const Part in = ReadParts(dir / "aovs.exr").at(0),
                        out = ReadParts(dir / "out.tif").at(0);
             ASSERT_EQ(out.header.nchannels, 8);
             EXPECT_EQ(out.header.format, OIIO::TypeDesc::FLOAT);
             // Half widened to float keeps every value: Z at the fifth place.
             const FilePixels tif = ReadFilePixels(dir / "out.tif");
             const FilePixels exr = ReadFilePixels(dir / "aovs.exr");
             for (int c = 4; c < 8; ++c) EXPECT_EQ(tif.At(3, 5, c), exr.At(3, 5, c)) << c;
         }},
        {"SeveralLayersWithColourAreRefusedNamingChannels",
         "oiiotool --pattern fill:color=0.1,0.2,0.3,0.4,0.5,0.6 4x4 6 -d half "
         "--chnames R,G,B,diffuse.R,diffuse.G,diffuse.B -o layers.exr",
         {"@layers.exr", "-o", "@out.exr"},
         2,
         "--channels diffuse.R,diffuse.G,diffuse.B",
         [](const ScratchDir& dir) { EXPECT_FALSE(std::filesystem::exists(dir / "out.exr")); }},
        {"ChannelsPicksTheLayerAndKeepsTheOthers",
         "oiiotool --pattern fill:color=0.1,0.2,0.3,0.4,0.5,0.6 4x4 6 -d half "
         "--chnames R,G,B,diffuse.R,diffuse.G,diffuse.B -o layers.exr",
         {"@layers.exr", "-o", "@out.exr", "--channels", "diffuse.R,diffuse.G,diffuse.B",
          "--temperature", "0.5"},
         0,
         "",
         [](const ScratchDir& dir) {
             const Part in = ReadParts(dir / "layers.exr").at(0),
                        out = ReadParts(dir / "out.exr").at(0);
             for (const char* kept : {"R", "G", "B"}) EXPECT_TRUE(out.Bits(kept) == in.Bits(kept));
             EXPECT_FALSE(out.Bits("diffuse.R") == in.Bits("diffuse.R"));
         }},
        {"EveryPartKeptTheOnesWithColourRendered",
         kParts,
         {"@parts.exr", "-o", "@out.exr", "--temperature", "0.5"},
         0,
         "",
         [](const ScratchDir& dir) {
             ASSERT_EQ(
                 RunTool({dir / "diffuse.exr", "-o", dir / "alone.exr", "--temperature", "0.5"})
                     .exit_code,
                 0);
             const std::vector<Part> in = ReadParts(dir / "parts.exr");
             const std::vector<Part> out = ReadParts(dir / "out.exr");
             ASSERT_EQ(out.size(), 3u);
             EXPECT_EQ(out[2].header.get_string_attribute("oiio:subimagename"), "diffuse");
             ExpectSameParts(out[1], in[1], "depth, copied");
             ExpectSameParts(out[2], ReadParts(dir / "alone.exr").at(0), "diffuse, rendered");
             EXPECT_FALSE(out[0].Bits("R") == in[0].Bits("R")) << "beauty is rendered";
         }},
        {"PartsNamesThePartsRendered",
         kParts,
         {"@parts.exr", "-o", "@out.exr", "--parts", "diffuse", "--temperature", "0.5"},
         0,
         "",
         [](const ScratchDir& dir) {
             ExpectSameParts(ReadParts(dir / "out.exr").at(0), ReadParts(dir / "parts.exr").at(0),
                             "beauty, copied");
         }},
        {"OnePartIntoAPngWithTheOthersNamed",
         kParts,
         {"@parts.exr", "-o", "@out.png"},
         0,
         "part(s) depth, diffuse of",
         nullptr},
        {"DeepPartsAreRefused",
         "oiiotool --pattern fill:color=5 4x4 1 -d float --chnames Z "
         "--deepen -o deep.exr",
         {"@deep.exr", "-o", "@out.exr"},
         2,
         "deep part",
         nullptr},
        {"OverscanIntoPngIsTheDisplayWindowAsOiiotoolWritesIt",
         kOverscan + " && oiiotool over.exr -d uint16 -o oiiotool.png",
         {"@over.exr", "-o", "@out.png"},
         0,
         "the data window (12x8 at -2,-1) reaches beyond it",
         [](const ScratchDir& dir) {
             ExpectSameParts(ReadParts(dir / "out.png").at(0),
                             ReadParts(dir / "oiiotool.png").at(0), "display window");
         }},
        {"OverscanKeptInExrAndNotInTheSheet",
         kOverscan,
         {"@over.exr", "-o", "@out.exr", "--compare"},
         0,
         "",
         [](const ScratchDir& dir) {
             const Part out = ReadParts(dir / "out.exr").at(0);
             ExpectSameParts(out, ReadParts(dir / "over.exr").at(0), "data window");
             EXPECT_EQ(out.header.full_width, 8);
             // The sheet is a picture of its own: its windows are its size.
             const OIIO::ImageSpec sheet = ReadParts(dir / "out-compare.exr").at(0).header;
             EXPECT_EQ(sheet.x, 0);
             EXPECT_EQ(sheet.full_width, sheet.width);
             EXPECT_EQ(sheet.full_height, sheet.height);
         }},
        {"HalfExrIntoA16BitPng",
         kOverscan + " && oiiotool over.exr --cut 8x6+0+0 -o half.exr",
         {"@half.exr", "-o", "@out.png", "--depth", "16"},
         0,
         "",
         [](const ScratchDir& dir) {
             EXPECT_EQ(TypeName(ReadParts(dir / "out.png").at(0)), "uint16");
         }},
        {"TenBitDpxStaysTenBitBitForBit",
         "oiiotool --pattern fill:top=0.3,0.5,0.7:bottom=0.1,0.9,0.2 8x6 3 -d uint10 -o ten.dpx",
         {"@ten.dpx", "-o", "@out.dpx"},
         0,
         "",
         [](const ScratchDir& dir) {
             const Part out = ReadParts(dir / "out.dpx").at(0);
             EXPECT_EQ(TypeName(out), "uint10");
             ExpectSameParts(out, ReadParts(dir / "ten.dpx").at(0), "10 bits at neutral settings");
         }},
        {"DataTypeAsOiiotoolWritesIt",
         "oiiotool --pattern fill:top=0.3,0.5,0.7:bottom=0.1,0.9,0.2 8x6 3 -d uint10 -o ten.dpx "
         "&& oiiotool ten.dpx -d uint8 -o oiiotool.tif",
         {"@ten.dpx", "-o", "@out.tif", "-d", "uint8"},
         0,
         "",
         [](const ScratchDir& dir) {
             ExpectSameParts(ReadParts(dir / "out.tif").at(0),
                             ReadParts(dir / "oiiotool.tif").at(0), "-d uint8");
         }},
        {"DataTypeTheFormatCannotWriteIsRefused",
         kOverscan,
         {"@over.exr", "-o", "@out.png", "--data-type", "half"},
         2,
         "PNG files are written as uint8, uint16",
         nullptr},
        {"TenBitProResIntoTenBitDpx",
         std::string(VEMRA_FFMPEG) +
             " -v error -f lavfi -i testsrc=size=32x24:rate=25 -frames:v 1 -c:v prores_ks "
             "-pix_fmt yuv422p10le pr.mov",
         {"@pr.mov", "-o", "@out.####.dpx"},
         0,
         "",
         [](const ScratchDir& dir) {
             EXPECT_EQ(TypeName(ReadParts(dir / "out.0001.dpx").at(0)), "uint10");
         }},
        {"AGapInFramesIsRefusedBeforeAnyFrame",
         "for f in 1001 1002 1004 1005 1006 1007 1008 1009 1010 1011 1012 1014; do "
         "oiiotool --pattern fill:color=0.5 4x4 3 -d uint8 -o p.$f.png; done",
         {"@p.####.png", "--frames", "1001-1014", "-o", "@out.####.png"},
         2,
         "missing frame(s) 1003, 1013 (2 frames) of --frames 1001-1014",
         [](const ScratchDir& dir) {
             EXPECT_FALSE(std::filesystem::exists(dir / "out.1001.png"));
         }},
        {"AGapOutsideTheTaskStopsNoTask",
         "for f in 1001 1002 1004; do oiiotool --pattern fill:color=0.5 4x4 3 -d uint8 -o "
         "p.$f.png; done",
         {"@p.####.png", "--frames", "1001-1004", "--chunk", "2", "--task", "1", "-o",
          "@out.####.png"},
         0,
         "",
         nullptr},
    };
}

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

class ToolImageFiles : public testing::TestWithParam<Row> {};

TEST_P(ToolImageFiles, KeepsWhatTheFileHolds) {
    const Row& row = GetParam();
    ScratchDir dir;
    const RunResult made = RunShell("cd " + ShellWords({dir.path().string()}) + " && " + row.make);
    ASSERT_EQ(made.exit_code, 0) << made.err;
    std::vector<std::string> args;  // "@NAME": a file in the scratch folder
    for (const std::string& arg : row.args) {
        args.push_back(arg[0] == '@' ? dir / arg.substr(1) : arg);
    }
    const RunResult result = RunTool(args);
    ASSERT_EQ(result.exit_code, row.exit_code) << result.err;
    EXPECT_NE(result.err.find(row.note), std::string::npos) << result.err;
    if (row.check) row.check(dir);
}

INSTANTIATE_TEST_SUITE_P(Rows, ToolImageFiles, testing::ValuesIn(Rows()),
                         [](const testing::TestParamInfo<Row>& row) { return row.param.name; });

}  // namespace
}  // namespace render_test
