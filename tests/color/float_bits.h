// Bit-level float helpers for tests that compare colour results exactly.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>

namespace vemra::test {

inline std::uint32_t Bits(float value) {
    return std::bit_cast<std::uint32_t>(value);
}
inline float FromBits(std::uint32_t bits) {
    return std::bit_cast<float>(bits);
}

/// True when `actual` is `expected` bit for bit, or both are NaN.
inline ::testing::AssertionResult SameFloat(float expected, float actual) {
    if (std::isnan(expected) && std::isnan(actual)) return ::testing::AssertionSuccess();
    if (Bits(expected) == Bits(actual)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "expected " << expected << " (0x" << std::hex << Bits(expected) << "), got " << actual
           << " (0x" << Bits(actual) << ")";
}

/// True when the two floats have the same bits (NaN payloads included).
inline ::testing::AssertionResult IdenticalBits(float expected, float actual) {
    if (Bits(expected) == Bits(actual)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << std::hex << "expected bits 0x" << Bits(expected) << ", got 0x" << Bits(actual);
}

}  // namespace vemra::test
