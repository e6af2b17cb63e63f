// Control values to colour settings. The rounding steps are part of the
// colour results: each is written out as its own conversion.
#include "color/control_values.h"

#include <cstring>

namespace vemra {

TemperatureSettings SettingsFromControls(const ControlValues& values) {
    TemperatureSettings settings;
    std::memset(&settings, 0, sizeof settings);

    // Temperature: rounded to single, widened, halved, rounded again. The
    // slider's -2..2 becomes -1..1.
    const float temperature = static_cast<float>(values.temperature);
    settings.temperature = static_cast<float>(static_cast<double>(temperature) * 0.5);

    // Magenta: rounded to single before the division by 3 in double; dividing
    // the unrounded value would change the last bit for many inputs.
    const float magenta = static_cast<float>(values.magenta);
    settings.magenta = static_cast<float>(static_cast<double>(magenta) / 3.0);

    // Opacity: 16.16 percent to a share of 1, through double. 100 % is exactly 1.
    const double percent = static_cast<double>(values.opacity) * (1.0 / 65536.0);
    settings.mix = static_cast<float>(percent / 100.0);

    // Clamp: the low byte of the checkbox word.
    settings.clamp = static_cast<std::uint8_t>(values.clamp & 0xff);
    return settings;
}

}  // namespace vemra
