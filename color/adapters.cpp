#include "color/adapters.h"

#include "color/integer_adapter.h"
#include "color/temperature_steps.h"

std::int32_t ProcessPixelArgb8(void* refcon, std::int32_t, std::int32_t, const void* in,
                               void* out) {
    return vemra::ProcessIntegerPixel(*static_cast<const TemperatureSettings*>(refcon),
                                      *static_cast<const PixelArgb8*>(in),
                                      *static_cast<PixelArgb8*>(out));
}

std::int32_t ProcessPixelArgb16(void* refcon, std::int32_t, std::int32_t, const void* in,
                                void* out) {
    return vemra::ProcessIntegerPixel(*static_cast<const TemperatureSettings*>(refcon),
                                      *static_cast<const PixelArgb16*>(in),
                                      *static_cast<PixelArgb16*>(out));
}

std::int32_t ProcessPixelBgra8(void* refcon, std::int32_t, std::int32_t, const void* in,
                               void* out) {
    return vemra::ProcessIntegerPixel(*static_cast<const TemperatureSettings*>(refcon),
                                      *static_cast<const PixelBgra8*>(in),
                                      *static_cast<PixelBgra8*>(out));
}

std::int32_t ProcessPixelBgraFloat(void* refcon, std::int32_t, std::int32_t, const void* in,
                                   void* out) {
    const auto& settings = *static_cast<const TemperatureSettings*>(refcon);
    const PixelBgraFloat source = *static_cast<const PixelBgraFloat*>(in);
    auto* destination = static_cast<PixelBgraFloat*>(out);
    const vemra::Rgb shifted =
        vemra::ShiftColour(settings, {source.red, source.green, source.blue});
    destination->blue = shifted.blue;
    destination->green = shifted.green;
    destination->red = shifted.red;
    destination->alpha = source.alpha;
    return 0;
}
