#include "color/kernel.h"

#include <cstring>

#include "color/temperature_steps.h"

std::int32_t ApplyTemperature(const TemperatureSettings& settings, const PixelArgbFloat& input,
                              PixelArgbFloat& output) {
    // Copy first, bit for bit (NaN payloads included); the steps then overwrite
    // only the channels they change.
    std::memcpy(&output, &input, sizeof output);
    const vemra::Rgb shifted = vemra::ShiftColour(settings, {input.red, input.green, input.blue});
    output.red = shifted.red;
    output.green = shifted.green;
    output.blue = shifted.blue;
    return 0;
}
