#include "color/adapters.h"

#include "color/integer_adapter.h"
#include "color/temperature_steps.h"

std::int32_t ProcessPixelArgb8(void* refcon, std::int32_t, std::int32_t, const PixelArgb8* in,
                               PixelArgb8* out) {
    return vemra::ProcessIntegerPixel(*static_cast<const TemperatureSettings*>(refcon), *in, *out);
}

std::int32_t ProcessPixelArgb16(void* refcon, std::int32_t, std::int32_t, const PixelArgb16* in,
                                PixelArgb16* out) {
    return vemra::ProcessIntegerPixel(*static_cast<const TemperatureSettings*>(refcon), *in, *out);
}

std::int32_t ProcessPixelBgra8(void* refcon, std::int32_t, std::int32_t, const PixelBgra8* in,
                               PixelBgra8* out) {
    return vemra::ProcessIntegerPixel(*static_cast<const TemperatureSettings*>(refcon), *in, *out);
}

std::int32_t ProcessPixelBgraFloat(void* refcon, std::int32_t, std::int32_t,
                                   const PixelBgraFloat* in, PixelBgraFloat* out) {
    const auto& settings = *static_cast<const TemperatureSettings*>(refcon);
    const PixelBgraFloat source = *in;
    const vemra::Rgb shifted =
        vemra::ShiftColour(settings, {source.red, source.green, source.blue});
    out->blue = shifted.blue;
    out->green = shifted.green;
    out->red = shifted.red;
    out->alpha = source.alpha;
    return 0;
}
