// Splits property-list bytes into their properties by the layout rules alone,
// so tests can look a value up by key. Refuses bytes that do not follow the
// layout: a wrong header, a truncated property, or bytes after the last one.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace walk {

struct Property {
    std::string vendor;  ///< in reading order, "8BIM"
    std::string key;     ///< in reading order, "kind"
    std::uint32_t id;
    std::vector<std::uint8_t> data;  ///< data_length bytes
    std::vector<std::uint8_t> padding;

    /// The data as a little-endian 32-bit word (data length must be 4).
    std::uint32_t Word32() const {
        if (data.size() != 4) throw std::runtime_error(key + " is not a 32-bit value");
        return std::uint32_t{data[0]} | std::uint32_t{data[1]} << 8 | std::uint32_t{data[2]} << 16 |
               std::uint32_t{data[3]} << 24;
    }
};

inline std::vector<Property> Properties(std::span<const std::uint8_t> bytes) {
    std::size_t at = 0;
    auto take = [&](std::size_t n) {
        if (n > bytes.size() - at) throw std::runtime_error("property list truncated");
        auto part = bytes.subspan(at, n);
        at += n;
        return part;
    };
    auto le32 = [&] {
        auto b = take(4);
        return std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 |
               std::uint32_t{b[3]} << 24;
    };
    auto code = [&] {
        auto b = take(4);
        return std::string{char(b[3]), char(b[2]), char(b[1]), char(b[0])};
    };
    auto header = take(2);
    if (header[0] != 1 || header[1] != 0) throw std::runtime_error("list version is not 1");
    if (le32() != 0) throw std::runtime_error("reserved word is not 0");
    const std::uint32_t count = le32();

    std::vector<Property> properties;
    for (std::uint32_t i = 0; i < count; ++i) {
        Property p;
        p.vendor = code();
        p.key = code();
        p.id = le32();
        const std::uint32_t length = le32();
        auto data = take(length);
        p.data.assign(data.begin(), data.end());
        auto padding = take((4 - length % 4) % 4);
        p.padding.assign(padding.begin(), padding.end());
        properties.push_back(std::move(p));
    }
    if (at != bytes.size()) throw std::runtime_error("bytes after the last property");
    return properties;
}

/// The property with `key`; throws if there is none.
inline const Property& Find(const std::vector<Property>& properties, const std::string& key) {
    for (const Property& p : properties) {
        if (p.key == key) return p;
    }
    throw std::runtime_error("no property " + key);
}

}  // namespace walk
