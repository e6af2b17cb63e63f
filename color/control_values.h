// The four control values of one frame turned into its colour settings, with
// the exact rounding the colour results depend on. Every edition of the
// effect converts through this one function; each brings the values in its
// own host's form.
#pragma once

#include <cstdint>

#include "color/temperature_settings.h"

namespace vemra {

/// The controls' values in the units they show.
struct ControlValues {
    double temperature;    ///< the "Temperature" slider
    double magenta;        ///< the "Magenta" slider
    std::int32_t opacity;  ///< "Opacity" in percent, 16.16 fixed point (65536 = 1 %)
    std::int32_t clamp;    ///< the checkbox word: its low byte nonzero means on
};

/// Temperature rounded to single, halved in double and rounded again;
/// magenta rounded to single, divided by 3 in double and rounded again; the
/// opacity's percent over 100 as a share of 1; the checkbox's low byte. The
/// record is cleared first, so its padding is zero too.
TemperatureSettings SettingsFromControls(const ControlValues& values);

}  // namespace vemra
