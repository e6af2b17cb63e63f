#include "sim/render/raw_pipe.h"

#include <fmt/format.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <type_traits>

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

/// Index of sample `channel` (its place in format.channels) of pixel `i`,
/// counted in samples from the frame's start.
std::size_t SampleIndex(const RawFormat& format, std::size_t pixels, std::size_t i,
                        std::size_t channel) {
    return format.planar ? channel * pixels + i : i * format.channels.size() + channel;
}

/// Full scale of the sample type T as stored: an opaque alpha.
template <typename T>
constexpr T Opaque() {
    if constexpr (std::is_same_v<T, float>) {
        return 1.0f;
    } else {
        return std::numeric_limits<T>::max();
    }
}

/// Frame samples of type T into image pixels (RGBA), alpha opaque when the
/// format has none.
template <typename T>
void Unpack(const RawFormat& format, std::span<const std::byte> frame, Image& image) {
    const std::size_t pixels = std::size_t(image.width) * std::size_t(image.height);
    const std::size_t channels = format.channels.size();
    int to[4] = {3, 3, 3, 3};
    for (std::size_t c = 0; c < channels; ++c) to[c] = ImageChannel(format.channels[c]);
    std::byte* out = image.pixels.data();
    for (std::size_t i = 0; i < pixels; ++i) {
        T pixel[4] = {0, 0, 0, Opaque<T>()};
        for (std::size_t c = 0; c < channels; ++c) {
            std::memcpy(&pixel[to[c]], frame.data() + SampleIndex(format, pixels, i, c) * sizeof(T),
                        sizeof(T));
        }
        std::memcpy(out + i * sizeof pixel, pixel, sizeof pixel);
    }
}

/// Image pixels into frame samples of type T, in the format's order.
template <typename T>
void Pack(const RawFormat& format, const Image& image, std::span<std::byte> frame) {
    const std::size_t pixels = std::size_t(image.width) * std::size_t(image.height);
    const std::size_t channels = format.channels.size();
    int from[4] = {3, 3, 3, 3};
    for (std::size_t c = 0; c < channels; ++c) from[c] = ImageChannel(format.channels[c]);
    const std::byte* in = image.pixels.data();
    for (std::size_t i = 0; i < pixels; ++i) {
        T pixel[4];
        std::memcpy(pixel, in + i * sizeof pixel, sizeof pixel);
        for (std::size_t c = 0; c < channels; ++c) {
            std::memcpy(frame.data() + SampleIndex(format, pixels, i, c) * sizeof(T),
                        &pixel[from[c]], sizeof(T));
        }
    }
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
    switch (format.type) {
        case SampleType::kUint8:
            Unpack<std::uint8_t>(format, frame, image);
            break;
        case SampleType::kUint16:
            Unpack<std::uint16_t>(format, frame, image);
            break;
        case SampleType::kFloat:
            Unpack<float>(format, frame, image);
            break;
    }
    return image;
}

void ImageToRaw(const RawFormat& format, const Image& image, std::span<std::byte> frame) {
    switch (format.type) {
        case SampleType::kUint8:
            Pack<std::uint8_t>(format, image, frame);
            break;
        case SampleType::kUint16:
            Pack<std::uint16_t>(format, image, frame);
            break;
        case SampleType::kFloat:
            Pack<float>(format, image, frame);
            break;
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
