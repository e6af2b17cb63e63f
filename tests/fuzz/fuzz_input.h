// Reads typed values from a fuzzer's input, zeros past its end.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace vemra::fuzz {

class FuzzInput {
  public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    template <typename T>
    T Next() {
        T value{};
        const std::size_t available = at_ < size_ ? size_ - at_ : 0;
        const std::size_t taken = std::min(sizeof value, available);
        if (taken != 0) std::memcpy(&value, data_ + at_, taken);
        at_ += sizeof value;
        return value;
    }

    bool Flag() { return (Next<std::uint8_t>() & 1) != 0; }

    /// A value in lo..hi, inclusive (lo <= hi).
    std::int32_t Range(std::int32_t lo, std::int32_t hi) {
        const auto span = static_cast<std::uint64_t>(static_cast<std::int64_t>(hi) - lo) + 1u;
        return static_cast<std::int32_t>(lo +
                                         static_cast<std::int64_t>(Next<std::uint32_t>() % span));
    }

    /// One of `choices`.
    template <typename T>
    T OneOf(std::initializer_list<T> choices) {
        const auto index = static_cast<std::size_t>(Range(0, std::int32_t(choices.size()) - 1));
        return *(choices.begin() + index);
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

/// Stops the run at once when an invariant fails, naming it, so the fuzzer
/// keeps the input as a crash.
inline void Require(bool condition, const char* invariant) {
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", invariant);
    std::abort();
}

}  // namespace vemra::fuzz
