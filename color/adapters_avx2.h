// The pixel adapters built for processors with AVX2: the same contract and
// the same bits as the baseline adapters in adapters.h. Compiled with -mavx2,
// so they may only be called where AdapterSets() reports AVX2 as supported.
#pragma once

#include <cstdint>

namespace vemra::avx2 {

std::int32_t ProcessPixelArgb8(void* refcon, std::int32_t x, std::int32_t y, const void* in,
                               void* out);
std::int32_t ProcessPixelArgb16(void* refcon, std::int32_t x, std::int32_t y, const void* in,
                                void* out);
std::int32_t ProcessPixelBgra8(void* refcon, std::int32_t x, std::int32_t y, const void* in,
                               void* out);
std::int32_t ProcessPixelBgraFloat(void* refcon, std::int32_t x, std::int32_t y, const void* in,
                                   void* out);

}  // namespace vemra::avx2
