#include "tools/vemra-render/io/raw_frames.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "tools/vemra-render/pixels/pixel_convert.h"

namespace render {
namespace {

TEST(RawFormats, UnknownNameListsTheKnownOnes) {
    try {
        FindRawFormat("yuv420p");
        ADD_FAILURE();
    } catch (const RawError& e) {
        EXPECT_NE(std::string(e.what()).find("bgra, rgba"), std::string::npos) << e.what();
    }
}

/// Sample value standing for channel `letter` of pixel `pixel`, in the type's scale.
float ValueOf(char letter, int pixel) {
    return float(10 * (std::string_view("RGBA").find(letter) + 1) + pixel);
}

TEST(RawFormats, EveryFormatPlacesChannelsAsItsNameSaysAndPacksBackTheSameBytes) {
    constexpr int kWidth = 2;
    for (const RawFormat& format : RawFormats()) {
        const std::size_t sample = SampleBytes(format.type);
        const std::size_t channels = format.channels.size();
        ASSERT_EQ(FrameBytes(format, kWidth, 1), kWidth * channels * sample) << format.name;
        // Build the frame by hand from the channel letters.
        std::vector<std::byte> frame(FrameBytes(format, kWidth, 1));
        for (int pixel = 0; pixel < kWidth; ++pixel) {
            for (std::size_t c = 0; c < channels; ++c) {
                const std::size_t index = format.planar ? c * kWidth + std::size_t(pixel)
                                                        : std::size_t(pixel) * channels + c;
                const float value = ValueOf(format.channels[c], pixel);
                std::byte* at = frame.data() + index * sample;
                if (format.type == SampleType::kUint8) {
                    *at = std::byte(value);
                } else if (format.type == SampleType::kUint16) {
                    const auto v = std::uint16_t(value);
                    std::memcpy(at, &v, sizeof v);
                } else {
                    std::memcpy(at, &value, sizeof value);
                }
            }
        }
        const ConstSamples samples{frame.data(), kWidth, 1, FrameLayout(format, kWidth, 1)};
        const bool has_alpha = format.channels.find('A') != std::string_view::npos;
        EXPECT_EQ(samples.layout.has(kAlpha), has_alpha) << format.name;
        for (int pixel = 0; pixel < kWidth; ++pixel) {
            for (Channel c : {kRed, kGreen, kBlue}) {
                EXPECT_EQ(samples.Sample(pixel, 0, c), ValueOf("RGB"[c], pixel)) << format.name;
            }
            const float opaque = format.type == SampleType::kUint8    ? 255.0f
                                 : format.type == SampleType::kUint16 ? 65535.0f
                                                                      : 1.0f;
            EXPECT_EQ(samples.Sample(pixel, 0, kAlpha), has_alpha ? ValueOf('A', pixel) : opaque)
                << format.name;
        }
        // Through a world that holds every value exactly, and back.
        sim::World world(
            format.type == SampleType::kUint8 ? sim::Layout::kArgb8 : sim::Layout::kBgraFloat,
            kWidth, 1);
        SamplesToWorld(samples, world);
        std::vector<std::byte> packed(frame.size());
        WorldToSamples(world, Samples{packed.data(), kWidth, 1, samples.layout});
        EXPECT_EQ(packed, frame) << format.name;
    }
}

TEST(RawPipe, ReadFullReportsShortFramesAndTheEnd) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], "abcdefghij", 10), 10);
    ::close(fds[1]);
    std::vector<std::byte> buffer(8);
    EXPECT_EQ(ReadFull(fds[0], buffer), 8u);
    EXPECT_EQ(ReadFull(fds[0], buffer), 2u);
    EXPECT_EQ(ReadFull(fds[0], buffer), 0u);
    ::close(fds[0]);
}

TEST(RawPipe, WriteToAClosedPipeSaysSo) {
    ::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    const std::vector<std::byte> bytes(16);
    try {
        WriteFull(fds[1], bytes);
        ADD_FAILURE();
    } catch (const RawError& e) {
        EXPECT_STREQ(e.what(), "the reader closed the pipe");
    }
    ::close(fds[1]);
}

}  // namespace
}  // namespace render
