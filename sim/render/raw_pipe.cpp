#include "sim/render/raw_pipe.h"

#include <fmt/format.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <charconv>
#include <cstring>

namespace render {

static_assert(std::endian::native == std::endian::little,
              "raw frames are little-endian and copied as they are");

namespace {

int ImageChannel(char letter) {
    switch (letter) {
        case 'R':
            return 0;
        case 'G':
            return 1;
        case 'B':
            return 2;
        default:
            return 3;
    }
}

bool HasAlpha(const RawFormat& format) {
    return format.channels.find('A') != std::string_view::npos;
}

/// Byte offset of sample `channel` (index in format.channels) of pixel `i`.
std::size_t SampleOffset(const RawFormat& format, std::size_t pixels, std::size_t i,
                         std::size_t channel) {
    const std::size_t sample = SampleBytes(format.type);
    if (format.planar) return (channel * pixels + i) * sample;
    return (i * format.channels.size() + channel) * sample;
}

}  // namespace

const std::vector<RawFormat>& RawFormats() {
    static const std::vector<RawFormat> formats{
        {"bgra", SampleType::kUint8, "BGRA", false},
        {"rgba", SampleType::kUint8, "RGBA", false},
        {"argb", SampleType::kUint8, "ARGB", false},
        {"abgr", SampleType::kUint8, "ABGR", false},
        {"rgb24", SampleType::kUint8, "RGB", false},
        {"bgr24", SampleType::kUint8, "BGR", false},
        {"rgba64le", SampleType::kUint16, "RGBA", false},
        {"bgra64le", SampleType::kUint16, "BGRA", false},
        {"rgb48le", SampleType::kUint16, "RGB", false},
        {"bgr48le", SampleType::kUint16, "BGR", false},
        {"bgra-float", SampleType::kFloat, "BGRA", false},
        {"rgba-float", SampleType::kFloat, "RGBA", false},
        {"gbrapf32le", SampleType::kFloat, "GBRA", true},
        {"gbrpf32le", SampleType::kFloat, "GBR", true},
    };
    return formats;
}

std::string RawFormatNames() {
    std::string names;
    for (const RawFormat& format : RawFormats()) {
        if (!names.empty()) names += ", ";
        names += format.name;
    }
    return names;
}

const RawFormat& FindRawFormat(std::string_view name) {
    for (const RawFormat& format : RawFormats()) {
        if (format.name == name) return format;
    }
    throw RawError(fmt::format("unknown pixel format \"{}\"; known: {}", name, RawFormatNames()));
}

std::pair<int, int> ParseFrameSize(std::string_view text) {
    const std::size_t x = text.find_first_of("xX");
    int width = 0;
    int height = 0;
    bool ok = x != std::string_view::npos;
    if (ok) {
        const auto w = std::from_chars(text.data(), text.data() + x, width);
        const auto h = std::from_chars(text.data() + x + 1, text.data() + text.size(), height);
        ok = w.ec == std::errc() && w.ptr == text.data() + x && h.ec == std::errc() &&
             h.ptr == text.data() + text.size() && width > 0 && height > 0;
    }
    if (!ok) {
        throw RawError(
            fmt::format("bad frame size \"{}\"; give it as WIDTHxHEIGHT, e.g. 1920x1080", text));
    }
    return {width, height};
}

std::size_t FrameBytes(const RawFormat& format, int width, int height) {
    return std::size_t(width) * std::size_t(height) * format.channels.size() *
           SampleBytes(format.type);
}

Image RawToImage(const RawFormat& format, int width, int height, std::span<const std::byte> frame) {
    Image image = Image::Blank(width, height, format.type, HasAlpha(format));
    const std::size_t sample = SampleBytes(format.type);
    const std::size_t pixels = std::size_t(width) * std::size_t(height);
    if (!image.has_alpha) {
        const float opaque = format.type == SampleType::kUint8    ? 255.0f
                             : format.type == SampleType::kUint16 ? 65535.0f
                                                                  : 1.0f;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) image.SetSample(x, y, 3, opaque);
        }
    }
    for (std::size_t c = 0; c < format.channels.size(); ++c) {
        const std::size_t to = std::size_t(ImageChannel(format.channels[c])) * sample;
        for (std::size_t i = 0; i < pixels; ++i) {
            std::memcpy(image.pixels.data() + i * image.PixelBytes() + to,
                        frame.data() + SampleOffset(format, pixels, i, c), sample);
        }
    }
    return image;
}

void ImageToRaw(const RawFormat& format, const Image& image, std::span<std::byte> frame) {
    const std::size_t sample = SampleBytes(format.type);
    const std::size_t pixels = std::size_t(image.width) * std::size_t(image.height);
    for (std::size_t c = 0; c < format.channels.size(); ++c) {
        const std::size_t from = std::size_t(ImageChannel(format.channels[c])) * sample;
        for (std::size_t i = 0; i < pixels; ++i) {
            std::memcpy(frame.data() + SampleOffset(format, pixels, i, c),
                        image.pixels.data() + i * image.PixelBytes() + from, sample);
        }
    }
}

std::size_t ReadFull(int fd, std::span<std::byte> buffer) {
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t got = ::read(fd, buffer.data() + done, buffer.size() - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw RawError(fmt::format("read failed: {}", std::strerror(errno)));
        }
        if (got == 0) break;
        done += std::size_t(got);
    }
    return done;
}

void WriteFull(int fd, std::span<const std::byte> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            if (errno == EPIPE) throw RawError("the reader closed the pipe");
            throw RawError(fmt::format("write failed: {}", std::strerror(errno)));
        }
        done += std::size_t(put);
    }
}

}  // namespace render
