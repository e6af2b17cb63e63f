#include "tools/vemra-render/io/dpx_header.h"

#include <fmt/format.h>

#include <cstring>

namespace render {

namespace {

/// The user data follows the generic (1664 bytes) and industry (384 bytes)
/// headers.
constexpr std::uint64_t kDpxUserDataStart = 2048;
/// A user-data size of all ones means "not given", as none.
constexpr std::uint32_t kDpxUndefined = 0xFFFFFFFF;

/// The 32-bit number at `at` of `bytes`, in the file's byte order.
std::uint32_t Word(std::span<const std::byte> bytes, std::size_t at, bool big_endian) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const auto byte = std::to_integer<std::uint32_t>(bytes[at + (big_endian ? i : 3 - i)]);
        value = (value << 8) | byte;
    }
    return value;
}

}  // namespace

std::optional<std::string> DpxHeaderProblem(std::span<const std::byte> header,
                                            std::uint64_t file_size) {
    if (header.size() < kDpxHeaderBytesChecked) return std::nullopt;
    const bool big_endian = std::memcmp(header.data(), "SDPX", 4) == 0;
    if (!big_endian && std::memcmp(header.data(), "XPDS", 4) != 0) return std::nullopt;
    const std::uint64_t image_offset = Word(header, 4, big_endian);
    if (image_offset >= file_size) {
        return fmt::format(
            "a damaged DPX header: its image data starts at byte {}, past the end of the file "
            "({} bytes)",
            image_offset, file_size);
    }
    const std::uint32_t user_size = Word(header, 32, big_endian);
    if (user_size == 0 || user_size == kDpxUndefined) return std::nullopt;
    const std::uint64_t user_end = kDpxUserDataStart + user_size;
    if (user_end > file_size) {
        return fmt::format(
            "a damaged DPX header: its user data of {} bytes is larger than the file ({} bytes)",
            user_size, file_size);
    }
    if (user_end > image_offset) {
        return fmt::format(
            "a damaged DPX header: its user data of {} bytes overlaps the image data at byte {}",
            user_size, image_offset);
    }
    return std::nullopt;
}

}  // namespace render
