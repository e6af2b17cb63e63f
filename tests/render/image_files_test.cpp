#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "tools/vemra-render/io/compression.h"
#include "tools/vemra-render/io/image_channels.h"
#include "tools/vemra-render/io/image_files_oiio.h"
#include "tools/vemra-render/io/image_formats.h"
#include "tools/vemra-render/run/atomic_output.h"

namespace render {
namespace {

namespace fs = std::filesystem;

/// Settings that keep `source` (null: none), compressed as `compression` says.
WriteSettings Settings(const LoadedImage* source, const std::string& compression = "") {
    WriteSettings settings;
    settings.source = source;
    settings.compression = compression;
    return settings;
}

class ImageIo : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("vemra-io-" + std::to_string(::getpid()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    /// Writes bytes with OpenImageIO itself: `channels` channels of uint8.
    void WriteWithOiio(const std::string& path, int width, int height, int channels,
                       const std::vector<std::uint8_t>& bytes) {
        std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(path);
        OIIO::ImageSpec header(width, height, channels, OIIO::TypeDesc::UINT8);
        header.attribute("oiio:UnassociatedAlpha", 1);
        ASSERT_TRUE(out->open(path, header));
        ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, bytes.data()));
        ASSERT_TRUE(out->close());
    }

    fs::path dir_;
};

TEST_F(ImageIo, GreyExpandsToRgbAndGreyAlphaKeepsItsAlpha) {
    WriteWithOiio(Path("grey.png"), 2, 1, 1, {7, 200});
    const LoadedImage grey = ReadImage(Path("grey.png"));
    EXPECT_FALSE(grey.has_alpha());
    for (Channel c : {kRed, kGreen, kBlue}) EXPECT_EQ(grey.samples().Sample(1, 0, c), 200.0f);
    EXPECT_EQ(grey.samples().Sample(1, 0, kAlpha), 255.0f);

    WriteWithOiio(Path("grey_alpha.png"), 1, 1, 2, {9, 33});
    const LoadedImage grey_alpha = ReadImage(Path("grey_alpha.png"));
    EXPECT_TRUE(grey_alpha.has_alpha());
    EXPECT_EQ(grey_alpha.samples().Sample(0, 0, kBlue), 9.0f);
    EXPECT_EQ(grey_alpha.samples().Sample(0, 0, kAlpha), 33.0f);

    // Written back as colour, without alpha.
    WriteImageAs(Path("out.png"), ToImage(grey.samples()), Settings(&grey), OIIO::TypeDesc::UINT8);
    EXPECT_EQ(ReadImage(Path("out.png")).header->fields.nchannels, 3);
}

TEST_F(ImageIo, PartlyTransparentPixelsPassUnpremultipliedBothWays) {
    // Colour far above what premultiplied data could hold at this alpha.
    const std::vector<std::uint8_t> pixels{250, 128, 3, 10, 0, 255, 99, 0};
    WriteWithOiio(Path("in.png"), 2, 1, 4, pixels);
    const LoadedImage loaded = ReadImage(Path("in.png"));
    EXPECT_EQ(loaded.samples().Sample(0, 0, kRed), 250.0f);
    const Image image = ToImage(loaded.samples());
    WriteImageAs(Path("out.png"), image, Settings(&loaded), OIIO::TypeDesc::UINT8);
    EXPECT_EQ(ToImage(ReadImage(Path("out.png")).samples()).pixels, image.pixels);
}

TEST_F(ImageIo, HalfReadsAsFloatAndIsWrittenAsHalf) {
    Image image = Image::Blank(1, 1, SampleType::kFloat);
    for (int c = 0; c < 4; ++c) image.SetSample(0, 0, c, 1.5f + float(c));
    WriteImageAs(Path("in.exr"), image, WriteSettings{}, OIIO::TypeDesc::HALF);
    const LoadedImage loaded = ReadImage(Path("in.exr"));
    EXPECT_EQ(loaded.layout.type, SampleType::kFloat);
    EXPECT_EQ(loaded.header->fields.format, OIIO::TypeDesc::HALF);
    EXPECT_EQ(loaded.samples().Sample(0, 0, kAlpha), 4.5f);
}

TEST_F(ImageIo, UnusableInputsThrowNamingTheFile) {
    WriteWithOiio(Path("big.png"), 20, 20, 3, std::vector<std::uint8_t>(1200, 1));
    std::ofstream(Path("junk.tif")) << "definitely not a TIFF";
    fs::create_directory(Path("folder.png"));
    struct Case {
        std::string path;
        std::uint64_t limit;
        const char* cause;
    };
    for (const Case& c :
         {Case{Path("big.png"), 399, "20 x 20 = 400 pixels is above the limit of 399"},
          Case{Path("junk.tif"), kDefaultMaxPixels, ""},
          Case{Path("missing.png"), kDefaultMaxPixels, "no such file"},
          Case{Path("folder.png"), kDefaultMaxPixels, "is a folder"}}) {
        try {
            ReadImage(c.path, c.limit);
            ADD_FAILURE() << c.path;
        } catch (const InputError& e) {
            const std::string message = e.what();
            EXPECT_EQ(message.rfind(c.path + ": ", 0), 0u) << message;
            EXPECT_NE(message.find(c.cause), std::string::npos) << message;
            EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        }
    }
}

/// A reader whose header says what a test wants and whose samples are 7, or
/// the channel's number when `numbered`; it counts the rows it decodes.
class HeaderOnlyReader final : public OIIO::ImageInput {
  public:
    explicit HeaderOnlyReader(const OIIO::ImageSpec& header, bool numbered = false)
        : numbered_(numbered) {
        m_spec = header;
    }
    int rows_decoded = 0;
    const char* format_name() const override { return "test"; }
    bool open(const std::string&, OIIO::ImageSpec& header) override {
        header = m_spec;
        return true;
    }
    bool close() override { return true; }
    bool read_native_scanline(int, int, int, int, void* data) override {
        ++rows_decoded;
        auto* bytes = static_cast<std::uint8_t*>(data);
        for (std::size_t i = 0; i < m_spec.scanline_bytes(true); ++i) {
            bytes[i] = numbered_ ? std::uint8_t(i % std::size_t(m_spec.nchannels)) : 7;
        }
        return true;
    }

  private:
    bool numbered_;
};

TEST(ReadOpenedImage, RefusesHeadersWithoutExactlyOnePlane) {
    // Depth 0 would read no plane and pass on a black image as the file's.
    for (const int depth : {0, -1, 2}) {
        OIIO::ImageSpec header(3, 2, 3, OIIO::TypeDesc::UINT8);
        header.depth = depth;
        HeaderOnlyReader reader(header);
        EXPECT_THROW(ReadOpenedImage(reader, header, "flat.img"), InputError) << "depth " << depth;
    }
    const OIIO::ImageSpec header(3, 2, 3, OIIO::TypeDesc::UINT8);
    HeaderOnlyReader reader(header);
    const LoadedImage loaded = ReadOpenedImage(reader, header, "flat.img");
    EXPECT_EQ(loaded.samples().Sample(2, 1, kRed), 7.0f);
    EXPECT_EQ(loaded.samples().Sample(2, 1, kAlpha), 255.0f);
}

TEST(ReadOpenedImage, DecodesEachRowOnceAndMapsChannelsByName) {
    struct Case {
        std::vector<std::string> names;
        std::array<float, 4> rgba;  ///< the channel numbers that land in R, G, B, A
    };
    const std::vector<std::string> wide = {"R",  "G",  "B",  "x1", "x2", "x3",
                                           "x4", "x5", "x6", "x7", "A"};
    // The third: no third colour among X, Y and A, so blue reads as zero.
    // clang-format off
    for (const Case& c : {Case{{"R", "G", "B", "A"}, {0, 1, 2, 3}},
                          Case{{"A", "B", "G", "R", "Z"}, {3, 2, 1, 0}},
                          Case{{"X", "Y", "A"}, {0, 1, 0, 2}},
                          Case{{"Y"}, {0, 0, 0, 255}},
                          Case{wide, {0, 1, 2, 10}}}) {
        // clang-format on
        OIIO::ImageSpec header(3, 2, int(c.names.size()), OIIO::TypeDesc::UINT8);
        header.channelnames = c.names;
        header.alpha_channel = -1;
        HeaderOnlyReader reader(header, true);
        const LoadedImage loaded = ReadOpenedImage(reader, header, "named.img");
        // Every channel, the kept ones too, in one decode.
        EXPECT_EQ(reader.rows_decoded, header.height) << c.names.size();
        // The conversion into a world takes red, green and blue from the buffer.
        EXPECT_TRUE(loaded.layout.has(kRed) && loaded.layout.has(kGreen) &&
                    loaded.layout.has(kBlue))
            << c.names.size();
        for (Channel ch : {kRed, kGreen, kBlue, kAlpha}) {
            EXPECT_EQ(loaded.samples().Sample(2, 1, ch), c.rgba[std::size_t(ch)])
                << c.names.size() << " channels, channel " << int(ch);
        }
    }
}

// The rule that picks a reader by name, then by contents, takes every format
// the image library writes, whatever its reader's quick look says (the SGI
// reader's refuses its own files: only its name finds it), and a file named
// as none.
TEST_F(ImageIo, EachFormatTheLibraryWritesIsReadBackWhateverItsName) {
    std::vector<std::uint8_t> samples(4 * 3 * 3);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = std::uint8_t(i * 7);
    for (const char* name : {"a.sgi", "a.png", "a.tif", "a.exr", "a.dpx", "a.bmp", "a.tga", "a.rla",
                             "a.iff", "a.fits", "a.hdr", "a.ppm", "a.jpg"}) {
        WriteWithOiio(Path(name), 4, 3, 3, samples);
        std::vector<std::string> paths{Path(name)};
        if (std::string(name) != "a.sgi") {
            paths.push_back(Path(std::string(name) + ".img"));
            fs::copy_file(Path(name), paths.back());
        }
        for (const std::string& path : paths) {
            try {
                const LoadedImage loaded = ReadImage(path);
                EXPECT_EQ(loaded.width * loaded.height, 12) << path;
            } catch (const InputError& e) {
                ADD_FAILURE() << e.what();
            }
        }
    }
}

/// The reads this process has asked of the system so far.
std::uint64_t ReadsSoFar() {
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "syscr:") return value;
    }
    return 0;
}

TEST_F(ImageIo, EachPageOfAMultiPageTiffIsReadOnceWhereItStarts) {
    // 150 pages, page k's samples all k.
    constexpr int kPages = 150;
    const std::string path = Path("pages.tif");
    {
        std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(path);
        const OIIO::ImageSpec page(16, 16, 3, OIIO::TypeDesc::UINT8);
        const std::vector<OIIO::ImageSpec> pages(kPages, page);
        ASSERT_TRUE(out->open(path, kPages, pages.data()));
        for (int k = 0; k < kPages; ++k) {
            if (k > 0) {
                ASSERT_TRUE(out->open(path, page, OIIO::ImageOutput::AppendSubimage));
            }
            const std::vector<std::uint8_t> samples(16 * 16 * 3, std::uint8_t(k));
            ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, samples.data()));
        }
        ASSERT_TRUE(out->close());
    }
    std::uint64_t before = ReadsSoFar();
    const FileFrames frames = FindFrames(path, kDefaultMaxPixels);
    ASSERT_EQ(frames.count, kPages);
    LoadedImage loaded;
    for (int k = 0; k < kPages; ++k) {
        ReadImage(path, kDefaultMaxPixels, loaded, k, {}, &frames);
        ASSERT_EQ(loaded.samples().Sample(15, 15, kBlue), float(k));
        EXPECT_EQ(loaded.more_frames, k + 1 < kPages) << k;
    }
    // A bound on the reads of each page, whatever the page's number.
    EXPECT_LT(ReadsSoFar() - before, 20u * kPages);
    // Found by the library's own walk from the first page, the same pages
    // take a read for each directory before each page: the count sees it.
    before = ReadsSoFar();
    for (int k = 0; k < kPages; ++k) ReadImage(path, kDefaultMaxPixels, loaded, k);
    EXPECT_GT(ReadsSoFar() - before, std::uint64_t(kPages) * kPages / 2);
}

TEST_F(ImageIo, CompressionComesFromTheOptionThenTheSameFormatInputThenTheDefault) {
    Image image = Image::Blank(4, 4, SampleType::kFloat);
    WriteImageAs(Path("piz.exr"), image, Settings(nullptr, "piz"), OIIO::TypeDesc::HALF);
    const LoadedImage piz = ReadImage(Path("piz.exr"));
    EXPECT_EQ(piz.header->fields.get_string_attribute("compression"), "piz");
    struct Case {
        const char* output;
        std::string option;
        const char* expected;
    };
    for (const Case& c : {Case{"kept.exr", "", "piz"}, Case{"asked.exr", "rle", "rle"},
                          Case{"other.tif", "", "zip"}, Case{"lzw.tif", "lzw", "lzw"}}) {
        WriteImageAs(Path(c.output), image, Settings(&piz, c.option), OIIO::TypeDesc::HALF);
        EXPECT_EQ(ReadImage(Path(c.output)).header->fields.get_string_attribute("compression"),
                  c.expected)
            << c.output;
    }
    EXPECT_NO_THROW(CheckCompression("png", "zip:9"));
    for (const char* bad : {"zip:10", "piz", "zip:x"}) {
        EXPECT_THROW(CheckCompression("png", bad), std::invalid_argument) << bad;
    }
    EXPECT_THROW(CheckCompression("openexr", "lzw"), std::invalid_argument);
    EXPECT_NO_THROW(CheckCompression("jpeg", "anything the library takes"));
}

TEST_F(ImageIo, FormatsWithoutAlphaGetANoteAndUnknownOnesAnError) {
    const Image image = Image::Blank(2, 2, SampleType::kUint8, true);
    const std::vector<std::string> notes =
        WriteImageAs(Path("out.jpg"), image, WriteSettings{}, OIIO::TypeDesc::UINT8);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("alpha not written"), std::string::npos);
    EXPECT_THROW(WriteImage(Path("out.nosuchformat"), image, WriteSettings{}), OutputError);
}

TEST(ChooseColour, TheLayerWithTheAlphaElseTheOnlyOneWithColourElseRefused) {
    using Names = std::vector<std::string>;
    struct Case {
        Names names;
        int alpha_channel;
        Names asked;
        std::array<int, 4> rgba;  ///< -2: refused
    };
    const Names aovs = {"R", "G", "B", "A", "Z", "diffuse.R", "diffuse.G", "diffuse.B"};
    const Names two = {"R", "G", "B", "diffuse.R", "diffuse.G", "diffuse.B", "diffuse.A"};
    const Names passes = {"Z", "gloss.R", "gloss.G", "gloss.B", "gloss.A", "id"};
    for (const Case& c : {
             Case{aovs, 3, {}, {0, 1, 2, 3}},
             Case{two, 6, {}, {3, 4, 5, 6}},       // the alpha's layer
             Case{two, -1, {}, {-2, -2, -2, -2}},  // two layers, nothing to choose by
             Case{two, -1, {"R", "G", "B"}, {0, 1, 2, -1}},
             Case{two, -1, {"diffuse.R", "diffuse.G", "diffuse.B"}, {3, 4, 5, 6}},
             Case{two, -1, {"R", "G", "nope"}, {-2, -2, -2, -2}},
             Case{passes, -1, {}, {1, 2, 3, 4}},  // the one layer with colour
             Case{{"r", "g", "b"}, -1, {}, {0, 1, 2, -1}},
         }) {
        std::array<int, 4> got{-2, -2, -2, -2};
        try {
            const ChannelMap map = ChooseColour(c.names, c.alpha_channel, c.asked, "f.exr");
            got = {map.red, map.green, map.blue, map.alpha};
        } catch (const InputRefused& e) {
            EXPECT_NE(std::string(e.what()).find("f.exr: "), std::string::npos);
        }
        EXPECT_EQ(got, c.rgba) << c.names.size() << " channels, alpha " << c.alpha_channel
                               << ", asked " << c.asked.size();
    }
    EXPECT_FALSE(HoldsColour({"Z"}, {}));
    EXPECT_TRUE(HoldsColour(passes, {}));
}

TEST(ChooseDataType, TheInputsTypeElseTheNearestDeeperTheFormatWrites) {
    using DT = DataType;
    struct Case {
        const char* format;
        DT source;
        DT written;
    };
    for (const Case& c :
         {Case{"png", DT::kHalf, DT::kUint16}, Case{"png", DT::kUint10, DT::kUint16},
          Case{"png", DT::kUint8, DT::kUint8}, Case{"jpeg", DT::kFloat, DT::kUint8},
          Case{"dpx", DT::kUint10, DT::kUint10}, Case{"dpx", DT::kHalf, DT::kFloat},
          Case{"openexr", DT::kUint8, DT::kHalf}, Case{"openexr", DT::kUint10, DT::kHalf},
          Case{"openexr", DT::kUint12, DT::kFloat}, Case{"openexr", DT::kUint16, DT::kFloat},
          Case{"tiff", DT::kHalf, DT::kFloat}, Case{"bmp", DT::kUint16, DT::kUint16}}) {
        EXPECT_EQ(ChooseDataType(c.format, std::nullopt, c.source), c.written)
            << c.format << " from " << DataTypeName(c.source);
    }
    EXPECT_EQ(ChooseDataType("png", DT::kUint8, DT::kFloat), DT::kUint8);
    EXPECT_THROW(CheckDataType("png", DT::kFloat), std::invalid_argument);
    EXPECT_NO_THROW(CheckDataType("dpx", DT::kUint12));
}

}  // namespace
}  // namespace render
