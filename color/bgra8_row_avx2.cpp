// The row function for processors with AVX2: eight pixels a block. Compiled
// with -mavx2 and called only where AdapterSets() reports AVX2.
#include "color/bgra8_row.h"
#include "color/bgra8_row_steps.h"

namespace vemra::avx2 {

void ProcessRowBgra8(const TemperatureSettings& settings, const void* in, void* out,
                     std::size_t count) {
    ShiftRow<8>(settings, in, out, count);
}

}  // namespace vemra::avx2
