#include "tools/vemra-render/io/raw_frames.h"

#include <fmt/format.h>
#include <unistd.h>

#include <array>
#include <bit>
#include <cerrno>
#include <cstring>

namespace render {

static_assert(std::endian::native == std::endian::little,
              "raw frames are little-endian and copied as they are");

namespace {

/// Where red, green, blue and alpha are among a format's channel letters.
std::array<int, 4> ChannelPlaces(std::string_view channels) {
    std::array<int, 4> at{-1, -1, -1, -1};
    for (std::size_t i = 0; i < channels.size(); ++i) {
        const std::size_t letter = std::string_view("RGBA").find(channels[i]);
        if (letter != std::string_view::npos) at[letter] = int(i);
    }
    return at;
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

std::size_t FrameBytes(const RawFormat& format, int width, int height) {
    return std::size_t(width) * std::size_t(height) * format.channels.size() *
           SampleBytes(format.type);
}

SampleLayout FrameLayout(const RawFormat& format, int width, int height) {
    const std::array<int, 4> at = ChannelPlaces(format.channels);
    return format.planar
               ? SampleLayout::Planar(format.type, width, height, at)
               : SampleLayout::Interleaved(format.type, width, int(format.channels.size()), at);
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
