// A fixed-capacity text built at compile time, so that the parameter
// explanations can quote the controls' numbers from their declarations
// instead of repeating them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace vemra::frei0r {

class Text {
  public:
    static constexpr std::size_t kCapacity = 320;

    constexpr Text& operator<<(const char* text) {
        while (*text != '\0') Put(*text++);
        return *this;
    }

    /// A number with at most six decimals, rounded, without trailing zeros.
    constexpr Text& operator<<(double value) {
        if (value < 0) {
            Put('-');
            value = -value;
        }
        const auto scaled = static_cast<std::uint64_t>(value * 1e6 + 0.5);
        Whole(scaled / 1000000);
        std::uint64_t fraction = scaled % 1000000;
        if (fraction != 0) {
            int digits = 6;
            for (; fraction % 10 == 0; fraction /= 10) --digits;
            Put('.');
            char buffer[6] = {};
            for (int i = digits - 1; i >= 0; --i, fraction /= 10)
                buffer[i] = static_cast<char>('0' + fraction % 10);
            for (int i = 0; i < digits; ++i) Put(buffer[i]);
        }
        return *this;
    }

    constexpr const char* c_str() const { return chars_; }

  private:
    constexpr void Whole(std::uint64_t value) {
        if (value >= 10) Whole(value / 10);
        Put(static_cast<char>('0' + value % 10));
    }
    /// Throws (which fails compile-time evaluation) rather than cut the text.
    constexpr void Put(char c) {
        if (size_ + 1 >= kCapacity) throw std::length_error("explanation too long");
        chars_[size_++] = c;
    }

    char chars_[kCapacity] = {};
    std::size_t size_ = 0;
};

}  // namespace vemra::frei0r
