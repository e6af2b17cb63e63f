#include "tools/vemra-render/io/rla_header.h"

#include <fmt/format.h>

#include <cstdint>

namespace render {

namespace {

/// A channel group of the header: where it gives its count of channels,
/// and where the bits of each sample.
struct ChannelGroup {
    const char* name;
    std::size_t count_at;
    std::size_t bits_at;
};

constexpr ChannelGroup kGroups[] = {
    {"colour", 20, 658},
    {"matte", 22, 662},
    {"auxiliary", 24, 666},
};

/// The big-endian 16-bit word at `at`.
std::uint16_t Word(std::span<const std::byte> header, std::size_t at) {
    return std::uint16_t(std::to_integer<unsigned>(header[at]) << 8 |
                         std::to_integer<unsigned>(header[at + 1]));
}

}  // namespace

std::optional<std::string> RlaHeaderProblem(std::span<const std::byte> header) {
    if (header.size() < kRlaHeaderBytesChecked) return std::nullopt;
    for (const ChannelGroup& group : kGroups) {
        const std::int16_t count = std::int16_t(Word(header, group.count_at));
        if (count > 0 && Word(header, group.bits_at) == 0) {
            return fmt::format("its header gives its {} {} channel(s) samples of 0 bits", count,
                               group.name);
        }
    }
    return std::nullopt;
}

}  // namespace render
