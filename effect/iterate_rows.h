// The effect's own row walker, for 32-bit float BGRA worlds, which the host's
// iteration suites do not cover.
#pragma once

#include "host/effect_api.h"

namespace vemra {

/// Calls `function` for rows first_row to end_row - 1, on the calling thread.
/// Both cursors start at their world's first pixel (`data`), whatever
/// first_row is; x counts from 0 and y from first_row. Each world's own
/// rowbytes sets its stride, negative strides included. Only rows and columns
/// that lie inside both worlds are walked (by their height, width and
/// rowbytes), whatever the row range asks; pixels outside that overlap are
/// left as they were. The function's results are ignored; returns 0.
A_long IterateRowsBgraFloat(A_long first_row, A_long end_row, PF_LayerDef* source, void* refcon,
                            PixelFunction function, PF_LayerDef* destination);

}  // namespace vemra
