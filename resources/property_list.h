// The property list ("PIPL") resource through which a host finds the effect
// before calling any of its code: that it is an effect, its names and menu
// category, the exported function to call, and its versions and flags. The
// bytes are built at compile time from the same constants that global set-up
// writes into PF_OutData, so the resource and the running code always agree.
//
// Layout, all integers little-endian:
//   header:   version (16-bit, 1), reserved (32-bit, 0), property count (32-bit)
//   property: vendor code (4 bytes), key (4 bytes), property id (32-bit, 0),
//             data length (32-bit), data, zero bytes up to a multiple of 4
// Vendor codes and keys are stored with their characters reversed. String data
// counts its own padding in the data length; numeric data does not.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

#include "host/effect_api.h"
#include "resources/plugin_identity.h"

namespace vemra {

/// Where the list lives in the library's resources: type "PIPL", identifier
/// 16000, language 1033 (U.S. English).
inline constexpr char kPropertyListType[] = "PIPL";
inline constexpr std::uint16_t kPropertyListId = 16000;
inline constexpr std::uint16_t kPropertyListLanguage = 1033;

namespace property_list_internal {

/// Appends the list's bytes to a fixed buffer. Any misuse (overflow, a string
/// too long for its length byte) throws, which fails compile-time evaluation.
class Writer {
  public:
    static constexpr std::size_t kCapacity = 1024;

    constexpr void Header() {
        Le16(1);  // list version
        Le32(0);  // reserved
        count_offset_ = size_;
        Le32(0);  // property count, filled in by Finish()
    }

    /// A four-character code kept as written, such as the effect kind.
    constexpr void CodeAsWritten(const char (&key)[5], const char (&code)[5]) {
        Head(key, 4);
        for (int i = 0; i < 4; ++i) Byte(static_cast<std::uint8_t>(code[i]));
    }

    /// One length byte, the characters, then zero bytes to a multiple of 4;
    /// the data length includes those zeros.
    constexpr void LengthPrefixedString(const char (&key)[5], std::string_view text) {
        if (text.size() > 255) throw std::length_error("string too long for its length byte");
        const std::uint32_t length = RoundUp4(1 + text.size());
        Head(key, length);
        const std::size_t start = size_;
        Byte(static_cast<std::uint8_t>(text.size()));
        for (char c : text) Byte(static_cast<std::uint8_t>(c));
        ZerosTo(start + length);
    }

    /// The characters, a terminating zero, then zero bytes to a multiple of 4;
    /// the data length includes the terminator and those zeros.
    constexpr void NulTerminatedString(const char (&key)[5], std::string_view text) {
        const std::uint32_t length = RoundUp4(text.size() + 1);
        Head(key, length);
        const std::size_t start = size_;
        for (char c : text) {
            if (c == '\0') throw std::invalid_argument("string holds a zero byte");
            Byte(static_cast<std::uint8_t>(c));
        }
        ZerosTo(start + length);
    }

    /// Two 16-bit halves of one 32-bit word, the major in the high half.
    constexpr void VersionPair(const char (&key)[5], std::uint16_t major, std::uint16_t minor) {
        Word32(key, (std::uint32_t{major} << 16) | minor);
    }

    constexpr void Word32(const char (&key)[5], std::uint32_t value) {
        Head(key, 4);
        Le32(value);
    }

    /// Data length 2; the property's padding still follows.
    constexpr void Word16(const char (&key)[5], std::uint16_t value) {
        Head(key, 2);
        Le16(value);
        ZerosTo(RoundUp4From(data_start_, 2));
    }

    constexpr void Finish() {
        const std::size_t end = size_;
        size_ = count_offset_;
        Le32(count_);
        size_ = end;
    }

    constexpr std::size_t size() const { return size_; }
    constexpr std::uint8_t operator[](std::size_t i) const { return bytes_[i]; }
    constexpr std::uint32_t count() const { return count_; }

  private:
    static constexpr std::uint32_t RoundUp4(std::size_t n) {
        return static_cast<std::uint32_t>((n + 3) / 4 * 4);
    }
    static constexpr std::size_t RoundUp4From(std::size_t start, std::size_t length) {
        return start + RoundUp4(length);
    }

    /// Vendor "8BIM", the key, property id 0 and the data length. Codes are
    /// stored last character first.
    constexpr void Head(const char (&key)[5], std::uint32_t data_length) {
        ReversedCode("8BIM");
        ReversedCode(key);
        Le32(0);
        Le32(data_length);
        data_start_ = size_;
        ++count_;
    }

    constexpr void ReversedCode(const char (&code)[5]) {
        for (int i = 3; i >= 0; --i) Byte(static_cast<std::uint8_t>(code[i]));
    }

    constexpr void Byte(std::uint8_t value) {
        if (size_ >= kCapacity) throw std::length_error("property list buffer full");
        bytes_[size_++] = value;
    }
    constexpr void Le16(std::uint16_t value) {
        Byte(static_cast<std::uint8_t>(value & 0xFF));
        Byte(static_cast<std::uint8_t>(value >> 8));
    }
    constexpr void Le32(std::uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) {
            Byte(static_cast<std::uint8_t>((value >> shift) & 0xFF));
        }
    }
    constexpr void ZerosTo(std::size_t end) {
        while (size_ < end) Byte(0);
    }

    std::array<std::uint8_t, kCapacity> bytes_{};
    std::size_t size_ = 0;
    std::size_t count_offset_ = 0;
    std::size_t data_start_ = 0;
    std::uint32_t count_ = 0;
};

/// The effect's twelve properties, in the order hosts expect them.
constexpr Writer Build() {
    Writer list;
    list.Header();
    list.CodeAsWritten("kind", "eFKT");  // an effect
    list.LengthPrefixedString("name", kDisplayName);
    list.LengthPrefixedString("catg", kMenuCategory);
    list.NulTerminatedString("8664", kEntryPointName);  // code entry, 64-bit Windows
    list.VersionPair("ePVR", kPropertyListVersionMajor, kPropertyListVersionMinor);
    list.VersionPair("eSVR", kApiVersionMajor, kApiVersionMinor);
    list.Word32("eVER", kVersionWord);
    list.Word16("eINF", kInfoFlags);
    list.Word32("eGLO", static_cast<std::uint32_t>(kOutFlags));
    list.Word32("eGL2", static_cast<std::uint32_t>(kOutFlags2));
    list.LengthPrefixedString("eMNA", kMatchName);
    list.Word32("aeFL", kReservedInfoWord);
    list.Finish();
    return list;
}

inline constexpr Writer kBuilt = Build();

}  // namespace property_list_internal

/// Size in bytes of the whole resource.
inline constexpr std::size_t kPropertyListSize = property_list_internal::kBuilt.size();

/// The resource's bytes, exactly as the library carries them.
constexpr std::array<std::uint8_t, kPropertyListSize> PropertyListBytes() {
    std::array<std::uint8_t, kPropertyListSize> bytes{};
    for (std::size_t i = 0; i < kPropertyListSize; ++i)
        bytes[i] = property_list_internal::kBuilt[i];
    return bytes;
}

static_assert(property_list_internal::kBuilt.count() == 12);

}  // namespace vemra
