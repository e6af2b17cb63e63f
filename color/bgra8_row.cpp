// The row function for baseline x86-64: four pixels a block, in SSE2 registers.
#include "color/bgra8_row.h"

#include "color/bgra8_row_steps.h"

void ProcessRowBgra8(const TemperatureSettings& settings, const void* in, void* out,
                     std::size_t count) {
    ShiftRow<4>(settings, in, out, count);
}
