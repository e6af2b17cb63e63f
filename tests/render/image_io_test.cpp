#include "sim/render/image_io.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "sim/render/atomic_output.h"

namespace render {
namespace {

namespace fs = std::filesystem;

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
    EXPECT_FALSE(grey.image.has_alpha);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(grey.image.Sample(1, 0, c), 200.0f);
    EXPECT_EQ(grey.image.Sample(1, 0, 3), 255.0f);

    WriteWithOiio(Path("grey_alpha.png"), 1, 1, 2, {9, 33});
    const LoadedImage grey_alpha = ReadImage(Path("grey_alpha.png"));
    EXPECT_TRUE(grey_alpha.image.has_alpha);
    EXPECT_EQ(grey_alpha.image.Sample(0, 0, 2), 9.0f);
    EXPECT_EQ(grey_alpha.image.Sample(0, 0, 3), 33.0f);

    // Written back as colour, without alpha.
    WriteImage(Path("out.png"), grey.image, WriteSettings{OIIO::TypeDesc::UINT8, &grey});
    EXPECT_EQ(ReadImage(Path("out.png")).header.nchannels, 3);
}

TEST_F(ImageIo, PartlyTransparentPixelsPassUnpremultipliedBothWays) {
    // Colour far above what premultiplied data could hold at this alpha.
    const std::vector<std::uint8_t> pixels{250, 128, 3, 10, 0, 255, 99, 0};
    WriteWithOiio(Path("in.png"), 2, 1, 4, pixels);
    const LoadedImage loaded = ReadImage(Path("in.png"));
    EXPECT_EQ(loaded.image.Sample(0, 0, 0), 250.0f);
    WriteImage(Path("out.png"), loaded.image, WriteSettings{OIIO::TypeDesc::UINT8, &loaded});
    const Image back = ReadImage(Path("out.png")).image;
    EXPECT_EQ(back.pixels, loaded.image.pixels);
}

TEST_F(ImageIo, HalfReadsAsFloatAndIsWrittenAsHalf) {
    Image image = Image::Blank(1, 1, SampleType::kFloat);
    for (int c = 0; c < 4; ++c) image.SetSample(0, 0, c, 1.5f + float(c));
    WriteImage(Path("in.exr"), image, WriteSettings{OIIO::TypeDesc::HALF, nullptr});
    const LoadedImage loaded = ReadImage(Path("in.exr"));
    EXPECT_EQ(loaded.image.type, SampleType::kFloat);
    EXPECT_EQ(loaded.header.format, OIIO::TypeDesc::HALF);
    EXPECT_EQ(loaded.image.Sample(0, 0, 3), 4.5f);
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

/// A reader whose header says what a test wants and whose rows are all 7.
class HeaderOnlyReader final : public OIIO::ImageInput {
  public:
    explicit HeaderOnlyReader(const OIIO::ImageSpec& header) { m_spec = header; }
    const char* format_name() const override { return "test"; }
    bool open(const std::string&, OIIO::ImageSpec& header) override {
        header = m_spec;
        return true;
    }
    bool close() override { return true; }
    bool read_native_scanline(int, int, int, int, void* data) override {
        std::memset(data, 7, m_spec.scanline_bytes(true));
        return true;
    }
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
    EXPECT_EQ(loaded.image.Sample(2, 1, 0), 7.0f);
    EXPECT_EQ(loaded.image.Sample(2, 1, 3), 255.0f);
}

TEST_F(ImageIo, FormatsWithoutAlphaGetANoteAndUnknownOnesAnError) {
    const Image image = Image::Blank(2, 2, SampleType::kUint8, true);
    const std::vector<std::string> notes =
        WriteImage(Path("out.jpg"), image, WriteSettings{OIIO::TypeDesc::UINT8, nullptr});
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("alpha not written"), std::string::npos);
    EXPECT_THROW(WriteImage(Path("out.nosuchformat"), image, WriteSettings{}), OutputError);
}

}  // namespace
}  // namespace render
